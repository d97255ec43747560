"""The Windows ZIP as a developer unpacks it: every file in its place, each
DLL exporting the .def file's names as they stand (no @N on x86), each .lib
importing exactly those names, the version resource, and programs that need
system DLLs only.

Usage: check_windows.py UNPACKED_FOLDER VERSION
"""
import os
import re
import subprocess
import sys

import pefile

HEADERS = ["ovrin_types.h", "ovrin_host.h", "ovrin_comm.h", "ovrin_readings.h", "ovrin_diagnostics.h", "ovrin.h"]
ARCHES = {  # folder: (PE machine, nm, prefix of a C name in an MSVC object)
    "x64": (0x8664, "x86_64-w64-mingw32-nm", ""),
    "x86": (0x14C, "i686-w64-mingw32-nm", "_"),
}
# The class and DescError as a Visual C++ host names them, each as
# llvm-undname reads its export: members __thiscall on x86 (the one
# convention of x64 reads as __cdecl), DescError __cdecl.
CSTRING = "class ATL::CStringT<char, class StrTraitMFC_DLL<char, class ATL::ChTraitsCRT<char>>>"
CLASS_EXPORTS = [
    "public: {cc} OvrinComm::OvrinComm(void)",
    "public: {cc} OvrinComm::OvrinComm(class OvrinComm const &)",
    "public: class OvrinComm & {cc} OvrinComm::operator=(class OvrinComm const &)",
    "public: virtual {cc} OvrinComm::~OvrinComm(void)",
    "public: int {cc} OvrinComm::Open(" + CSTRING + " &, struct HWND__*)",
    "public: int {cc} OvrinComm::Close(void)",
    "public: int {cc} OvrinComm::DistanceMeasure(void)",
    "public: void {cc} OvrinComm::SetListen(int)",
    "public: int {cc} OvrinComm::SendCommand(unsigned int, unsigned int, unsigned int)",
    "private: void * {cc} OvrinComm::FindAndOpen(" + CSTRING + " &)",
    "private: int {cc} OvrinComm::SendMsg(void *, " + CSTRING + ")",
    "void __cdecl DescError(int * (__cdecl *)(void), char *, int)",
]
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "setupapi.dll", "msvcrt.dll", "ws2_32.dll", "iphlpapi.dll", "bcrypt.dll"}

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)


def c_interface(header):
    """The functions of ovrin.h a Windows host can call (the queue is POSIX's)."""
    with open(header) as file:
        names = re.findall(r"^OVRIN_C_API [^(]*?\b(ovrin_[a-z_]+)\(", file.read(), re.M)
    return {name for name in names if not name.startswith("ovrin_queue_")}


def def_names(path):
    with open(path) as file:
        lines = [line.strip() for line in file if line.strip()]
    expect(lines[:2] == ["LIBRARY Ovrin70.dll", "EXPORTS"], "%s: header %r" % (path, lines[:2]))
    return set(lines[2:])


def version_strings(pe):
    found = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                found.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return found


def imported_dlls(pe):
    return {entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


def check(root, version):
    wanted = {"README.md", "host-guide.md", "LICENSE", "THIRD-PARTY.md", "bindings/dotnet/Ovrin70.cs",
              "bindings/vba/Ovrin70.bas", "bindings/delphi/Ovrin70.pas", "bindings/delphi/OvrinExample.dpr"}
    wanted |= {"include/" + header for header in HEADERS}
    for arch in ARCHES:
        wanted |= {arch + "/bin/Ovrin70.dll", arch + "/bin/ovrin.exe", arch + "/bin/ovrin-tray.exe", arch + "/lib/Ovrin70.lib",
                   arch + "/lib/libOvrin70.dll.a", arch + "/lib/Ovrin70.def"}
    present = {os.path.relpath(os.path.join(folder, name), root)
               for folder, _, names in os.walk(root) for name in names}
    # The API reference: its pages, whatever Doxygen names its other files.
    reference = {path for path in present if path.startswith("docs/html/")}
    expect({"docs/html/index.html", "docs/html/classOvrinComm.html"} <= reference, "no API reference in docs/html")
    present -= reference
    expect(present == wanted, "files: missing %s, not expected %s" % (sorted(wanted - present), sorted(present - wanted)))

    interface = c_interface(os.path.join(root, "include", "ovrin.h"))
    major, minor, patch = (int(part) for part in version.split("."))
    for arch, (machine, nm, prefix) in ARCHES.items():
        names = def_names(os.path.join(root, arch, "lib", "Ovrin70.def"))
        c_names = {name for name in names if not name.startswith("?")}
        plain = {name.split("@")[0] for name in c_names}
        expect(plain == interface, "%s: .def %s, ovrin.h %s" % (arch, sorted(plain ^ interface), sorted(interface)))
        # The C interface's convention, as its import library names it: every
        # function __stdcall on x86 (ovrin_open@16), the one convention on x64.
        stdcall = {name for name in c_names if re.fullmatch(r"ovrin_[a-z_]+@[0-9]+", name)}
        expect(stdcall == (c_names if arch == "x86" else set()), "%s: __stdcall names %s" % (arch, sorted(stdcall)))
        print("%s: %d C functions, %s" % (arch, len(c_names), "__stdcall, exported by their plain names"
                                          if arch == "x86" else "the x64 convention"))
        decorated = sorted(names - c_names)
        shown = subprocess.run(["llvm-undname"], input="\n".join(decorated) + "\n", capture_output=True, text=True,
                               check=True).stdout.split("\n")
        readable = sorted(line for line in shown if line and not line.startswith("?"))
        convention = "__thiscall" if arch == "x86" else "__cdecl"
        wanted_class = sorted(line.format(cc=convention) for line in CLASS_EXPORTS)
        expect(readable == wanted_class, "%s: the class for Visual C++: %s" % (arch, sorted(set(readable) ^ set(wanted_class))))
        print("%s exports for Visual C++ hosts:\n  %s" % (arch, "\n  ".join(readable)))

        dll = pefile.PE(os.path.join(root, arch, "bin", "Ovrin70.dll"))
        expect(dll.FILE_HEADER.Machine == machine, "%s: DLL machine %#x" % (arch, dll.FILE_HEADER.Machine))
        exports = {symbol.name.decode() for symbol in dll.DIRECTORY_ENTRY_EXPORT.symbols if symbol.name}
        exported = {name.split("@")[0] if not name.startswith("?") else name for name in names}
        expect(exported <= exports, "%s: not exported: %s" % (arch, sorted(exported - exports)))
        expect(not [n for n in exports if n.startswith("ovrin_") and "@" in n], "%s: decorated exports" % arch)
        strings = version_strings(dll)
        expect(strings.get("FileVersion") == version and strings.get("ProductVersion") == version,
               "%s: version strings %s" % (arch, strings))
        fixed = dll.VS_FIXEDFILEINFO[0]
        expect((fixed.FileVersionMS, fixed.FileVersionLS) == (major << 16 | minor, patch << 16),
               "%s: fixed file version %#x %#x" % (arch, fixed.FileVersionMS, fixed.FileVersionLS))
        expect(imported_dlls(dll) <= SYSTEM_DLLS, "%s: DLL needs %s" % (arch, imported_dlls(dll) - SYSTEM_DLLS))

        tool = pefile.PE(os.path.join(root, arch, "bin", "ovrin.exe"))
        extra = imported_dlls(tool) - SYSTEM_DLLS - {"ovrin70.dll"}
        expect(tool.FILE_HEADER.Machine == machine and not extra, "%s: ovrin.exe machine or DLLs %s" % (arch, extra))
        # The tray program: no console, and the shell's and the controls' DLLs besides.
        tray = pefile.PE(os.path.join(root, arch, "bin", "ovrin-tray.exe"))
        extra = imported_dlls(tray) - SYSTEM_DLLS - {"ovrin70.dll", "comctl32.dll", "gdi32.dll", "shell32.dll", "ole32.dll"}
        expect(tray.FILE_HEADER.Machine == machine and tray.OPTIONAL_HEADER.Subsystem == 2 and not extra,
               "%s: ovrin-tray.exe machine, subsystem or DLLs %s" % (arch, extra))

        # What an MSVC object names: __imp_<name> (x64), __imp__<name> (x86).
        listing = subprocess.run([nm, os.path.join(root, arch, "lib", "Ovrin70.lib")], capture_output=True,
                                 text=True, check=True).stdout
        # A decorated C++ name is imported as it stands, a C name with the prefix.
        imported = {symbol[len("__imp_"):] if symbol.startswith("__imp_?") else symbol[len("__imp_" + prefix):]
                    for symbol in re.findall(r" I (__imp_\S+)", listing)}
        expect(imported == names, "%s: .lib imports %s, .def %s" % (arch, sorted(imported ^ names), len(names)))
    print("windows zip: %d files, %d C functions on x64 and x86, version %s" % (len(present), len(interface), version))


check(sys.argv[1], sys.argv[2])
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
