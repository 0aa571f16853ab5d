#!/usr/bin/env python3
"""The release programs as shipped (build/dist), read from their PE headers:
hardening that a change of flags or toolchain could drop unnoticed, what keeps
the build reproducible, and what keeps libraries out of the program's folder.
Prints every fault found and exits 1 if there is one."""
import struct
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x40, 0x100, 0x20
RELOCS_STRIPPED = 0x1
SCN_EXECUTE, SCN_WRITE = 0x20000000, 0x80000000
GUI = 2
RT_MANIFEST = 24
# Resolved while the process starts, before the programs can ask for the system
# folder: Windows takes these known libraries (7 to 11) from there whatever the
# program's folder holds. comctl32 comes from the side-by-side store, and only
# because the manifest names it.
KNOWN = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "shell32.dll", "user32.dll"}
ASM = "{urn:schemas-microsoft-com:asm.v1}"

PROGRAMS = [  # name, machine, extra DLL characteristics, the libraries its code calls into
    ("Velmora.exe", 0x14C, 0, KNOWN | {"comctl32.dll"}),
    ("Drisk.x64", 0x8664, HIGH_ENTROPY_VA, {"advapi32.dll", "kernel32.dll", "msvcrt.dll"}),
]


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        (self.machine, count, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        plus = struct.unpack_from("<H", data, opt)[0] == 0x20B
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        dirs = opt + (112 if plus else 96)
        self.directories = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(count):
            s = opt + optional_size + 40 * i
            name = data[s:s + 8].rstrip(b"\0").decode()
            vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((name, rva, max(vsize, raw_size), raw, struct.unpack_from("<I", data, s + 36)[0]))
        self.thunk = 8 if plus else 4

    def offset(self, rva):
        for _, start, size, raw, _ in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode()

    def imports(self):
        """{library (lower case): [function names]}"""
        result = {}
        rva = self.directories[1][0]
        while rva:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if not name:
                break
            functions = result.setdefault(self.cstring(name).lower(), [])
            at = self.offset(lookup or first)
            while (entry := int.from_bytes(self.data[at:at + self.thunk], "little")):
                if not entry >> (self.thunk * 8 - 1):  # by name, not ordinal
                    functions.append(self.cstring((entry & 0x7FFFFFFF) + 2))
                at += self.thunk
            rva += 20
        return result

    def resource(self, kind):
        """The first language of the first entry of a resource type, or None."""
        root = self.directories[2][0]
        if not root:
            return None
        base = self.offset(root)

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, base + at + 12)
            return [struct.unpack_from("<II", self.data, base + at + 16 + 8 * i) for i in range(named + ids)]

        for ident, target in entries(0):
            if ident == kind:
                _, target = entries(target & 0x7FFFFFFF)[0]
                _, target = entries(target & 0x7FFFFFFF)[0]
                rva, size = struct.unpack_from("<II", self.data, base + target)
                return self.data[self.offset(rva):self.offset(rva) + size]
        return None


def faults(path, machine, extra, uses):
    image = Image(path.read_bytes())
    found = []
    if image.machine != machine:
        found.append(f"machine {image.machine:#x}, not {machine:#x}")
    for flag, what in [(DYNAMIC_BASE, "address-space randomisation (DYNAMIC_BASE)"),
                       (NX_COMPAT, "no-execute data (NX_COMPAT)"), (extra, "HIGH_ENTROPY_VA")]:
        if flag and not image.dll_characteristics & flag:
            found.append(f"lost {what}")
    if image.characteristics & RELOCS_STRIPPED or not image.directories[5][1]:
        found.append("no base relocations: randomisation cannot move it")
    if image.subsystem != GUI:
        found.append(f"subsystem {image.subsystem}, not the GUI subsystem")
    for name, _, _, _, flags in image.sections:
        if flags & SCN_WRITE and flags & SCN_EXECUTE:
            found.append(f"section {name} is both writable and executable")
    if image.timestamp:
        found.append(f"PE time stamp {image.timestamp}: two builds of one commit differ")

    manifest = image.resource(RT_MANIFEST)
    levels = []
    common_controls = False
    if manifest:
        tree = ET.fromstring(manifest)
        levels = [(e.get("level"), e.get("uiAccess")) for e in tree.iter() if e.tag.endswith("requestedExecutionLevel")]
        common_controls = any(e.get("name") == "Microsoft.Windows.Common-Controls" for e in tree.iter(ASM + "assemblyIdentity"))
    if levels != [("asInvoker", "false")]:
        found.append(f"manifest asks for {levels or 'nothing'}, not asInvoker without uiAccess")

    imports = image.imports()
    allowed = KNOWN | ({"comctl32.dll"} if common_controls else set())
    for library in sorted(set(imports) - allowed):
        found.append(f"imports {library}, which Windows may take from the program's folder at start")
    # Each library loaded at start costs the start its mapping: none that the program has no call for.
    for library in sorted(set(imports) - uses):
        found.append(f"imports {library}, which it has no use for")
    # The search guard: SetDefaultDllDirectories by name at run time, SetDllDirectoryW where it is missing.
    if "SetDllDirectoryW" not in imports.get("kernel32.dll", []) or b"SetDefaultDllDirectories\0" not in image.data:
        found.append("does not restrict its library search to the system folder")
    return found


def main():
    dist = Path(sys.argv[1])
    failed = False
    for name, machine, extra, uses in PROGRAMS:
        path = dist / name
        found = faults(path, machine, extra, uses) if path.is_file() else [f"missing: build it with `make dist`"]
        for fault in found:
            print(f"{path}: {fault}")
        failed |= bool(found)
    if not failed:
        print(f"{dist}: both programs hardened, time-stamp free, guarded against planted libraries, no library imported in vain")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
