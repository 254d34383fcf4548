#!/usr/bin/env python3
"""Static checks of a built OstServerUpdate.exe, read from the PE file itself.

usage: check_pe.py EXE 32|64 OBJDUMP

  - the image: PE32 (Intel 80386) or PE32+ (x86-64), GUI subsystem (`file`);
  - ODBC32.dll is not in the import table (`objdump -p`), so the loader never looks for
    it in the program's folder at start; it is a delay import whose names are the plain
    exported ones;
  - the terminal-server-aware flag (`objdump -p`, DllCharacteristics);
  - the manifest: architecture "*", administrator rights, the supported systems, DPI
    awareness;
  - the version resource: 5.0.0.0 and its strings.
Prints one line per failure and ends with "N passed, N failed".
"""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

RT_VERSION = 16
RT_MANIFEST = 24
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        sections, = struct.unpack_from("<H", data, pe + 6)
        optional_size, = struct.unpack_from("<H", data, pe + 20)
        opt = pe + 24
        self.magic, = struct.unpack_from("<H", data, opt)
        self.pe32plus = self.magic == 0x20B
        directories = opt + (112 if self.pe32plus else 96)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            s = opt + optional_size + 40 * i
            vsize, va, raw_size, raw_ptr = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, raw_size), raw_ptr, raw_size))

    def offset(self, rva):
        for va, size, ptr, raw in self.sections:
            if va <= rva < va + size and rva - va < raw:
                return ptr + rva - va
        raise ValueError(f"RVA {rva:#x} outside the file")

    def rva_of(self, offset):
        for va, _, ptr, raw in self.sections:
            if ptr <= offset < ptr + raw:
                return va + offset - ptr
        return None

    def dword(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def cstr(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def resources(self, type_id):
        """The data of every resource of a numeric type, all names and languages."""
        base_rva, size = self.directories[2]
        if not size:
            return []
        base = self.offset(base_rva)

        def entries(table):
            named, ids = struct.unpack_from("<HH", self.data, table + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, table + 16 + 8 * i)

        def leaves(target):
            if target & 0x80000000:
                for _, child in entries(base + (target & 0x7FFFFFFF)):
                    yield from leaves(child)
            else:
                rva, length = struct.unpack_from("<II", self.data, base + target)
                start = self.offset(rva)
                yield self.data[start:start + length]

        found = []
        for ident, target in entries(base):
            if ident == type_id:
                found.extend(leaves(target))
        return found

    def delay_imports(self, dll):
        """Names imported from DLL through a delay-import descriptor. GNU ld leaves the
        delay-import directory empty, so the descriptor is found by the name it points
        to: {attributes 1, name RVA, module handle, IAT, INT, ...}."""
        needle = dll.encode() + b"\0"
        name_rvas = set()
        start = 0
        while (at := self.data.find(needle, start)) >= 0:
            rva = self.rva_of(at)
            if rva is not None:
                name_rvas.add(rva)
            start = at + 1
        for va, _, ptr, raw in self.sections:
            for at in range(ptr, ptr + raw - 32, 4):
                attributes, name = struct.unpack_from("<II", self.data, at)
                if attributes != 1 or name not in name_rvas:
                    continue
                names_rva = struct.unpack_from("<I", self.data, at + 16)[0]
                names = []
                width = 8 if self.pe32plus else 4
                at_name = self.offset(names_rva)
                while True:
                    thunk = struct.unpack_from("<Q" if self.pe32plus else "<I", self.data, at_name)[0]
                    if thunk == 0:
                        break
                    names.append(self.cstr((thunk & 0xFFFFFFFF) + 2))
                    at_name += width
                return names
        return None


def version_strings(block):
    """The fixed file info and the string table of a VS_VERSIONINFO resource."""
    signature = block.find(struct.pack("<I", 0xFEEF04BD))
    fixed = struct.unpack_from("<4I", block, signature + 8) if signature >= 0 else None
    text = block.decode("utf-16-le", "replace")
    strings = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "OriginalFilename",
                "ProductName", "ProductVersion"):
        match = re.search(key + "\0+([^\0]+)\0", text)
        if match:
            strings[key] = match.group(1)
    return fixed, strings


def main():
    exe, bits, objdump = sys.argv[1], sys.argv[2], sys.argv[3]
    passed = failed = 0

    def check(name, ok, detail=""):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1
            print(f"FAIL: {exe}: {name}" + (f" ({detail})" if detail else ""))

    described = subprocess.run(["file", "-b", exe], capture_output=True, text=True).stdout.strip()
    wanted = ("PE32 executable (GUI) Intel 80386" if bits == "32"
              else "PE32+ executable (GUI) x86-64")
    check(f"is a {bits}-bit Windows GUI executable", described.startswith(wanted), described)

    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    imported = re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)
    check("objdump lists the import table", "KERNEL32.DLL" in (n.upper() for n in imported),
          ", ".join(imported))
    check("ODBC32.dll is not a load-time import",
          "ODBC32.DLL" not in (n.upper() for n in imported), ", ".join(imported))
    flags = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)\n((?:\t+\S+\n)*)", dump, re.M)
    check("terminal-server aware", flags is not None and "TERMINAL_SERVICE_AWARE" in flags.group(2),
          flags.group(0).split() if flags else "no DllCharacteristics")

    image = Image(open(exe, "rb").read())
    delayed = image.delay_imports("ODBC32.dll")
    check("ODBC32.dll is a delay import", bool(delayed), "no delay-import descriptor")
    if delayed:
        check("delay imports name the plain exports",
              "SQLConnectW" in delayed and not any("@" in n or n.startswith("_") for n in delayed),
              ", ".join(delayed))
        # Text crosses ODBC through the wide calls only: the narrow ones read it in the
        # system code page.
        narrow = sorted(n for n in delayed if n in (
            "SQLConnect", "SQLDriverConnect", "SQLExecDirect", "SQLPrepare", "SQLGetDiagRec",
            "SQLDescribeCol", "SQLColAttribute", "SQLGetInfo"))
        check("no narrow text call is imported", not narrow, ", ".join(narrow))

    manifests = image.resources(RT_MANIFEST)
    check("one manifest", len(manifests) == 1, f"{len(manifests)} found")
    if manifests:
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "c": "urn:schemas-microsoft-com:compatibility.v1",
              "dpi": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
              "dpi16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
        root = ET.fromstring(manifests[0].decode("utf-8-sig"))
        identity = root.find("v1:assemblyIdentity", ns)
        architecture = identity.get("processorArchitecture") if identity is not None else None
        check('manifest architecture is "*"', architecture == "*", architecture)
        level = root.find(".//v3:requestedExecutionLevel", ns)
        check("manifest asks for administrator rights",
              level is not None and level.get("level") == "requireAdministrator")
        systems = {e.get("Id").lower() for e in root.findall(".//c:supportedOS", ns)}
        check("manifest names Vista to 10/11", systems == SUPPORTED_OS, sorted(systems))
        aware = root.find(".//dpi:dpiAware", ns)
        awareness = root.find(".//dpi16:dpiAwareness", ns)
        check("manifest declares DPI awareness",
              aware is not None and aware.text.strip().lower() in ("true", "true/pm")
              and awareness is not None and "permonitorv2" in awareness.text.lower())

    versions = image.resources(RT_VERSION)
    check("one version resource", len(versions) == 1, f"{len(versions)} found")
    if versions:
        fixed, strings = version_strings(versions[0])
        check("file and product version 5.0.0.0",
              fixed == (0x00050000, 0, 0x00050000, 0), fixed and [hex(v) for v in fixed])
        expected = {"FileVersion": "5.0.0.0", "ProductVersion": "5.0.0.0", "ProductName": "Ostra",
                    "OriginalFilename": "OstServerUpdate.exe"}
        check("version strings", all(strings.get(k) == v for k, v in expected.items())
              and strings.get("FileDescription") and strings.get("CompanyName"), strings)

    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
