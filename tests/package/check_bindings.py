"""The Python wheels and the NuGet package as their tools read them: each
file in its place, the metadata, and every native library built for the
platform its place names (read from its ELF or PE header).

Usage: check_bindings.py DIST VERSION README   (README: the project's, whose C# example the package carries)
"""
import email.parser
import glob
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zipfile

import pefile

# A native library's platform as its header tells it.
PE_MACHINES = {0x8664: "windows-x64", 0x14C: "windows-x86"}
WHEELS = {"manylinux": ("libOvrin70.so", "linux-x64"), "win_amd64": ("Ovrin70.dll", "windows-x64"),
          "win32": ("Ovrin70.dll", "windows-x86")}
NUGET_NATIVE = {"runtimes/win-x64/native/Ovrin70.dll": "windows-x64", "runtimes/win-x86/native/Ovrin70.dll": "windows-x86",
                "runtimes/linux-x64/native/libOvrin70.so": "linux-x64"}
failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)


def platform_of(data):
    if data[:5] == b"\x7fELF\x02" and int.from_bytes(data[18:20], "little") == 62:  # ELFCLASS64, EM_X86_64
        return "linux-x64"
    if data[:2] == b"MZ":
        return PE_MACHINES.get(pefile.PE(data=data, fast_load=True).FILE_HEADER.Machine, "windows-other")
    return "unknown"


def glibc_tag(data):
    """manylinux_2_NN_x86_64 for the highest GLIBC_2.NN a Linux library needs, read by readelf."""
    with tempfile.NamedTemporaryFile() as library:
        library.write(data)
        library.flush()
        versions = subprocess.run(["readelf", "--version-info", "-W", library.name], capture_output=True, text=True,
                                  check=True).stdout
    return "manylinux_2_%d_x86_64" % max(int(minor) for minor in re.findall(r"GLIBC_2\.(\d+)", versions))


def check_wheel(dist, version, tag):
    library, platform = WHEELS[tag]
    if tag == "manylinux":  # the one Linux wheel, whatever its tag
        found = glob.glob("%s/ovrin70-%s-py3-none-manylinux_2_*_x86_64.whl" % (dist, version))
        expect(len(found) == 1, "Linux wheels: %s" % found)
        tag = os.path.basename(found[0])[len("ovrin70-%s-py3-none-" % version):-len(".whl")] if found else "none"
    name = "ovrin70-%s-py3-none-%s.whl" % (version, tag)
    info = "ovrin70-%s.dist-info/" % version
    with zipfile.ZipFile("%s/%s" % (dist, name)) as wheel:
        files = set(wheel.namelist())
        wanted = {"ovrin70/__init__.py", "ovrin70/py.typed", "ovrin70/" + library}
        wanted |= {info + part for part in ("METADATA", "WHEEL", "RECORD", "LICENSE", "top_level.txt")}
        expect(files == wanted, "%s: files %s" % (name, sorted(files ^ wanted)))
        meta = email.parser.Parser().parsestr(wheel.read(info + "METADATA").decode())
        expect((meta["Name"], meta["Version"], meta["License"]) == ("ovrin70", version, "MIT"),
               "%s: name, version, licence %s" % (name, (meta["Name"], meta["Version"], meta["License"])))
        expect(meta["Summary"] and meta["Description-Content-Type"] == "text/markdown" and
               "pip install" in meta.get_payload() and "ovrin70.Meter()" in meta.get_payload(),
               "%s: no summary or README" % name)
        found = platform_of(wheel.read("ovrin70/" + library))
        expect(found == platform, "%s: the library is built for %s" % (name, found))
        if platform == "linux-x64":
            needs = glibc_tag(wheel.read("ovrin70/" + library))
            expect(needs == tag, "%s: its library needs %s" % (name, needs))
        print("%s: %d files, library for %s" % (name, len(files), found))


def check_nuget(dist, version, readme):
    name = "Ovrin70.%s.nupkg" % version
    lib = "lib/netstandard2.0/Ovrin70.Net"
    with zipfile.ZipFile("%s/%s" % (dist, name)) as package:
        files = set(package.namelist())
        parts = {"[Content_Types].xml", "_rels/.rels"} | {f for f in files if f.startswith("package/services/metadata/")}
        wanted = parts | {"Ovrin70.nuspec", "README.md", lib + ".dll", lib + ".xml"} | set(NUGET_NATIVE)
        expect(files == wanted, "%s: files %s" % (name, sorted(files ^ wanted)))
        metadata = ElementTree.fromstring(package.read("Ovrin70.nuspec")).find("{*}metadata")
        field = {child.tag.split("}")[1]: (child.text or "").strip() for child in metadata}
        license = metadata.find("{*}license")
        expect((field.get("id"), field.get("version"), field.get("readme")) == ("Ovrin70", version, "README.md"),
               "%s: id, version, readme %s" % (name, field))
        expect(license is not None and license.get("type") == "expression" and license.text == "MIT",
               "%s: licence %s" % (name, field.get("license")))
        expect(len(field.get("description", "")) > 40, "%s: no description" % name)
        groups = [group.get("targetFramework") for group in metadata.iterfind("{*}dependencies/{*}group")]
        expect(groups == [".NETStandard2.0"] and not metadata.findall("{*}dependencies/{*}group/*"),
               "%s: dependency groups %s" % (name, groups))
        example = re.search(r"```csharp\n[^`]*```", open(readme).read()).group(0)
        expect(example in package.read("README.md").decode(), "%s: README without the C# example of README.md" % name)
        for path, platform in NUGET_NATIVE.items():
            found = platform_of(package.read(path)) if path in files else "nothing"
            expect(found == platform, "%s: %s is built for %s" % (name, path, found))
        print("%s: %d files, native libraries for %s" % (name, len(files), ", ".join(NUGET_NATIVE.values())))
    symbols = "Ovrin70.%s.snupkg" % version
    with zipfile.ZipFile("%s/%s" % (dist, symbols)) as package:
        pdb = package.read(lib + ".pdb") if lib + ".pdb" in package.namelist() else b""
        expect(pdb[:4] == b"BSJB", "%s: no portable PDB of the binding" % symbols)  # the metadata signature
        print("%s: %s.pdb, a portable PDB" % (symbols, lib))


dist, version, readme = sys.argv[1:4]
for tag in WHEELS:
    check_wheel(dist, version, tag)
check_nuget(dist, version, readme)
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
