"""Writes a C++ header from a VBA module's Declare and Type lines, as VBA
calls: each declared function as a __stdcall pointer type (NAME_t), each
Type as a struct with VBA's 4-byte packing, a Currency as the VbaCurrency it
is to VBA, and OVRIN_VBA_DECLARES(X), the list of declared names. Takes the
branches of #If VBA7 and #If Win64 that Office of the given word size
compiles.

Usage: declares.py MODULE.bas 32|64 OUT.h
"""
import re
import sys

SCALARS = {"Integer": "int16_t", "Long": "int32_t", "LongLong": "int64_t", "Currency": "VbaCurrency",
           "Byte": "uint8_t"}


def active_lines(text, win64):
    """The lines Office compiles: VBA7 is true; Win64 as given."""
    flags = {"VBA7": True, "Win64": win64}
    stack = []  # (this branch taken, some branch taken)
    for line in text.splitlines():
        condition = re.match(r"#If (\w+) Then", line)
        if condition:
            taken = flags[condition.group(1)] and all(branch for branch, _ in stack)
            stack.append((taken, taken))
        elif line.startswith("#Else"):
            _, any_taken = stack.pop()
            stack.append((not any_taken and all(branch for branch, _ in stack), True))
        elif line.startswith("#End If"):
            stack.pop()
        elif all(branch for branch, _ in stack):
            yield line


def c_type(vba, win64, by_ref=False):
    if vba == "LongPtr":
        name = "int64_t" if win64 else "int32_t"
    elif vba == "String":
        name = "char*"  # ByVal String: VBA passes a pointer to its ANSI copy
    else:
        name = SCALARS.get(vba, vba)
    return name + "*" if by_ref else name


def main(module, bits, out):
    win64 = bits == "64"
    lines = list(active_lines(open(module).read(), win64))
    header = ["// Written by declares.py from %s (%s-bit Office): do not edit." % (module.split("/")[-1], bits),
              "#pragma once", "#include <stdint.h>", "#if defined(_M_IX86)", "#define VBA_CALL __stdcall", "#else",
              "#define VBA_CALL", "#endif", "#pragma pack(push, 4)",
              "// VBA's Currency: 64 bits, shown as the integer they hold divided by 10 000.",
              "struct VbaCurrency { int64_t scaled; };"]
    names = []
    in_type = None
    for line in lines:
        code = line.split("'")[0].strip()
        start = re.match(r"Public Type (\w+)", code)
        if start:
            in_type = start.group(1)
            header.append("struct %s {" % in_type)
        elif code == "End Type":
            header.append("};")
            in_type = None
        elif in_type and code:
            field = re.match(r"(\w+)(?:\(0 To (\d+)\))? As (\w+)", code)
            count = "[%d]" % (int(field.group(2)) + 1) if field.group(2) else ""
            header.append("  %s %s%s;" % (c_type(field.group(3), win64), field.group(1), count))
        declare = re.match(r"Public Declare (?:PtrSafe )?(Function|Sub) (\w+) Lib \"Ovrin70.dll\" \((.*)\)(?: As (\w+))?$",
                           code)
        if declare:
            kind, name, parameters, result = declare.groups()
            arguments = []
            for parameter in filter(None, (p.strip() for p in parameters.split(","))):
                passing, _, vba = re.match(r"(ByVal|ByRef) (\w+) As (\w+)", parameter).groups()
                arguments.append(c_type(vba, win64, passing == "ByRef"))
            returned = c_type(result, win64) if kind == "Function" else "void"
            header.append("typedef %s(VBA_CALL* %s_t)(%s);" % (returned, name, ", ".join(arguments)))
            names.append(name)
    header.append("#pragma pack(pop)")
    header.append("#define OVRIN_VBA_DECLARES(X) " + " ".join("X(%s)" % name for name in names))
    with open(out, "w") as file:
        file.write("\n".join(header) + "\n")


main(*sys.argv[1:])
