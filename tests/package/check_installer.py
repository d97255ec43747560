"""The Windows installer as a file: an x86 program (it runs on 32- and 64-bit
Windows) with the program's icon and a version resource of VERSION, whose
payload, as 7-Zip unpacks it into EXTRACTED (a second copy of a name gets
_1), holds each program and DLL of the ZIP once for x64 and once for x86,
byte for byte, and the README, licence and notices as Windows text.
Usage: check_installer.py SETUP.EXE VERSION EXTRACTED UNPACKED_ZIP ICON
"""
import os
import struct
import sys

import pefile

MACHINES = {0x8664: "x64", 0x14C: "x86"}
failed = False


def expect(condition, what):
    global failed
    if not condition:
        print("FAILED: installer: " + what)
        failed = True


def version_strings(pe):
    return {k.decode(): v.decode() for info in getattr(pe, "FileInfo", []) for entry in info
            for table in getattr(entry, "StringTable", []) for k, v in table.entries.items()}


def icon_images(path):
    with open(path, "rb") as file:
        data = file.read()
    count = struct.unpack_from("<3H", data)[2]
    return {data[offset:offset + size] for size, offset in
            (struct.unpack_from("<8xII", data, 6 + 16 * i) for i in range(count))}


def check(setup_path, version, extracted, unpacked, icon):
    setup = pefile.PE(setup_path)
    expect(MACHINES.get(setup.FILE_HEADER.Machine) == "x86", "setup.exe is not an x86 program")
    strings = version_strings(setup)
    expect(strings.get("ProductVersion") == version and strings.get("FileVersion") == version and
           strings.get("ProductName") == "Ovrin70", "version resource %s" % strings)
    fixed = setup.VS_FIXEDFILEINFO[0]
    major, minor, patch = (int(part) for part in version.split("."))
    expect((fixed.ProductVersionMS, fixed.ProductVersionLS) == (major << 16 | minor, patch << 16), "fixed version")
    icons = {setup.get_data(entry.directory.entries[0].data.struct.OffsetToData,
                            entry.directory.entries[0].data.struct.Size)
             for group in setup.DIRECTORY_ENTRY_RESOURCE.entries if group.id == pefile.RESOURCE_TYPE["RT_ICON"]
             for entry in group.directory.entries}
    expect(icon_images(icon) <= icons, "setup.exe does not show ovrin-tray.ico")

    for name in ("ovrin-tray.exe", "ovrin.exe", "Ovrin70.dll"):
        stem, extension = os.path.splitext(name)
        found = {}
        for copy in (name, stem + "_1" + extension):
            path = os.path.join(extracted, copy)
            if os.path.exists(path):
                arch = MACHINES.get(pefile.PE(path, fast_load=True).FILE_HEADER.Machine)
                with open(path, "rb") as file:
                    found[arch] = file.read()
        expect(sorted(found) == ["x64", "x86"], "%s: payloads for %s" % (name, sorted(found)))
        for arch, data in found.items():
            with open(os.path.join(unpacked, arch, "bin", name), "rb") as file:
                expect(data == file.read(), "%s %s: not the ZIP's" % (arch, name))
    for text, source in (("README.txt", "README.md"), ("LICENSE.txt", "LICENSE"),
                         ("THIRD-PARTY.txt", "THIRD-PARTY.md")):
        with open(os.path.join(unpacked, source), "rb") as original, \
                open(os.path.join(extracted, text), "rb") as packed:
            expect(packed.read() == original.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"),
                   "%s: not %s as Windows text" % (text, source))
    packed = set(os.listdir(extracted)) - {"$PLUGINSDIR", "uninstall.exe"}
    expect(packed == {"ovrin-tray.exe", "ovrin-tray_1.exe", "ovrin.exe", "ovrin_1.exe", "Ovrin70.dll",
                      "Ovrin70_1.dll", "README.txt", "LICENSE.txt", "THIRD-PARTY.txt"},
           "the payload: %s" % sorted(packed))


if __name__ == "__main__":
    check(*sys.argv[1:6])
    if not failed:
        print("installer: an x86 setup with the icon and version %s; x64 and x86 payloads of the ZIP" % sys.argv[2])
    sys.exit(1 if failed else 0)
