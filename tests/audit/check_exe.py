#!/usr/bin/python3
"""Reads a built ostrel.exe back and checks what it promises the user and Windows.

Usage: check_exe.py {version|manifest|image|imports|runtime|size|startup} {i386|amd64} PATH
       check_exe.py xp {i386|amd64} PATH MINGW-GCC

"startup" reads the link map written beside the executable (PATH without .exe, plus .map).
"xp" preprocesses MinGW-w64's headers with the given compiler.

The expected values are written out here on purpose rather than taken from the build's own
headers: they are the product's outside contract, and a slip in the shared header must fail here
instead of being mirrored. Every mismatch is printed; the exit code is 1 when there is any.
"""
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

import pefile

EXPECTED_STRINGS = {
    "CompanyName": "Ostrel Team",
    "FileDescription": "Ostrel v1.0",
    "FileVersion": "1.01",
    "InternalName": "ostrel",
    "OriginalFilename": "ostrel.exe",
    "ProductName": "Ostrel v1.0",
    "ProductVersion": "1.01",
}
EXPECTED_NUMERIC_VERSION = (1, 1, 0, 0)
LANGUAGE, CODE_PAGE = 0x0409, 1200  # U.S. English, UTF-16

MACHINES = {"i386": 0x014C, "amd64": 0x8664}

# DLLs every supported Windows ships in its system directory.
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
ALLOWED_DLL_PATTERN = re.compile(r"^api-ms-win-crt-[a-z0-9-]+\.dll$")
NETWORK_DLLS = [
    "ws2_32", "wsock32", "wininet", "winhttp", "urlmon", "iphlpapi", "dnsapi", "mswsock",
    "netapi32", "wldap32", "wsnmp32", "rasapi32", "webio", "secur32", "schannel", "mpr",
]
# The registry is read, never written: the only registry calls the program may make. The token
# calls switch virtualization off for the backup's write, on the process's own token only.
ALLOWED_REGISTRY_CALLS = {"RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey"}
ALLOWED_ADVAPI_CALLS = ALLOWED_REGISTRY_CALLS | {
    "OpenProcessToken", "GetTokenInformation", "SetTokenInformation"}
# Words that make Windows treat a 32-bit program without a UAC manifest as an installer, and ask
# to elevate it.
INSTALLER_WORDS = re.compile(r"setup|install|update|patch", re.IGNORECASE)
REGISTRY_WRITES = re.compile(
    rb"(Reg|SH|SHReg)(Set|Create|Delete|Restore|Load|UnLoad|Unload|Replace|Save|CopyTree|"
    rb"RenameKey|FlushKey|OverridePredefKey|Write)[A-Za-z]*")

# The C runtime functions the program calls on purpose: the memory and string primitives that
# the compiler and std::wstring use. Anything else (fputs, fprintf, abort, _assert...) would come
# from a runtime error path or start-up code that the program does not want.
CRT_CALLS_ON_PURPOSE = {"memcpy", "memmove", "memset", "memcmp", "strlen", "wcslen"}
# What users download: the whole file, resources included. The shipped i686 program keeps to
# 32 KiB; the x86_64 build, which only the tests run, has a little more.
SIZE_BUDGETS = {"i386": 32 * 1024, "amd64": 36 * 1024}

# The game, and so the program, runs on Windows XP SP2: the loader there refuses an image that asks
# for a newer subsystem (5.1 is 32-bit XP, 5.2 the x64 edition).
XP_SUBSYSTEM = {"i386": (5, 1), "amd64": (5, 2)}
NEWEST_WINNT = "0x0A00"
# XP draws the caption, Alt+Tab and Explorer's tiles from these frames and cannot read PNG ones.
XP_ICON_SIZES = (16, 32, 48)

failures = []


def check(condition, what):
    if condition:
        print(f"ok   {what}")
    else:
        print(f"FAIL {what}")
        failures.append(what)


def resource_entries(pe, type_id):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return []
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == type_id:
            return entry.directory.entries
    return []


def resource_data(pe, name_entry):
    data = name_entry.directory.entries[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size)


def check_version(pe):
    tables = {}
    translations = []
    for file_info in getattr(pe, "FileInfo", []):
        for entry in file_info:
            for table in getattr(entry, "StringTable", []):
                tables[table.LangID.decode()] = {
                    k.decode(): v.decode() for k, v in table.entries.items()}
            for var in getattr(entry, "Var", []):
                value = var.entry.get(b"Translation") or var.entry.get("Translation")
                if value:
                    translations.append([int(x, 16) for x in value.split()])
    block = f"{LANGUAGE:04X}{CODE_PAGE:04X}"
    check(list(tables) == [block], f"one string block, named {block} (found {list(tables)})")
    strings = tables.get(block, {})
    for name, expected in EXPECTED_STRINGS.items():
        check(strings.get(name) == expected,
              f"{name} is {expected!r} (found {strings.get(name)!r})")
    flagged = sorted(f"{name}={value!r}" for table in tables.values()
                     for name, value in table.items() if INSTALLER_WORDS.search(value))
    check(not flagged, f"no version string names an installer word ({flagged})")
    check(translations == [[LANGUAGE, CODE_PAGE]],
          f"Translation is 0x{LANGUAGE:04x},{CODE_PAGE} (found {translations})")

    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    check(fixed is not None, "fixed version info present")
    if fixed is None:
        return

    def split(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    file_version = split(fixed.FileVersionMS, fixed.FileVersionLS)
    product_version = split(fixed.ProductVersionMS, fixed.ProductVersionLS)
    check(file_version == EXPECTED_NUMERIC_VERSION, f"numeric FileVersion 1.1.0.0 ({file_version})")
    check(product_version == EXPECTED_NUMERIC_VERSION,
          f"numeric ProductVersion 1.1.0.0 ({product_version})")
    check(fixed.FileType == 1, "file type VFT_APP")
    check(fixed.FileFlags & fixed.FileFlagsMask == 0, "not flagged debug, prerelease or patched")


def check_manifest(pe):
    manifests = resource_entries(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    check([m.id for m in manifests] == [1], "exactly one manifest, id 1 (CREATEPROCESS)")
    if not manifests:
        return
    root = ET.fromstring(resource_data(pe, manifests[0]))

    def find_all(local_name):
        return [e for e in root.iter() if e.tag.rsplit("}", 1)[-1] == local_name]

    # A 32-bit game of its era runs virtualized and may find its key in the VirtualStore; with
    # no execution level Ostrel reads the registry through the same view.
    levels = find_all("requestedExecutionLevel") + find_all("trustInfo")
    check(not levels, "no trustInfo or requestedExecutionLevel (virtualized like the game)")
    descriptions = [e.text or "" for e in find_all("description")]
    check(not any(INSTALLER_WORDS.search(d) for d in descriptions),
          f"no installer word in the description ({descriptions})")

    awareness = [e.text.strip() for e in find_all("dpiAwareness") if e.text]
    modes = [m.strip() for m in awareness[0].split(",")] if awareness else []
    check(modes[:1] == ["PerMonitorV2"] and len(modes) > 1,
          f"dpiAwareness PerMonitorV2 first, with a fallback ({modes})")
    aware = [e.text.strip().lower() for e in find_all("dpiAware") if e.text]
    check(aware == ["true/pm"], f"dpiAware true/pm for older Windows ({aware})")

    identity = [e for e in find_all("assemblyIdentity") if e.get("name") == "Ostrel"]
    check(len(identity) == 1 and identity[0].get("version") == "1.1.0.0",
          "own assembly identity Ostrel 1.1.0.0, matching the numeric version")

    controls = [e for e in find_all("assemblyIdentity")
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1, "depends on Microsoft.Windows.Common-Controls")
    if controls:
        c = controls[0]
        check(c.get("version") == "6.0.0.0" and c.get("type") == "win32" and
              (c.get("publicKeyToken") or "").lower() == "6595b64144ccf1df",
              "Common-Controls 6.0.0.0, win32, Microsoft's public key token")


def check_image(pe, machine):
    check(pe.FILE_HEADER.Machine == MACHINES[machine],
          f"machine {machine} (found 0x{pe.FILE_HEADER.Machine:04x})")
    check(pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
          f"GUI subsystem, no console (found {pe.OPTIONAL_HEADER.Subsystem})")
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    check(flags & 0x0040, "ASLR (DYNAMIC_BASE)")
    check(flags & 0x0100, "DEP (NX_COMPAT)")
    if machine == "amd64":
        check(flags & 0x0020, "high-entropy ASLR")
    # ASLR means nothing when the loader has no relocations to move the image with.
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    check(relocations.Size > 0 and not pe.FILE_HEADER.Characteristics & 0x0001,
          "relocations kept, so the image can really move")
    check(pe.FILE_HEADER.TimeDateStamp == 0, "no link time stamp (reproducible builds)")

    groups = resource_entries(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    check(len(groups) >= 1, "an icon group")
    if groups:
        data = resource_data(pe, groups[0])
        count = int.from_bytes(data[4:6], "little")
        sizes, ids = set(), set()
        for i in range(count):
            entry = data[6 + 14 * i: 6 + 14 * (i + 1)]
            sizes.add(entry[0] or 256)
            ids.add(int.from_bytes(entry[12:14], "little"))
        icons = {e.id for e in resource_entries(pe, pefile.RESOURCE_TYPE["RT_ICON"])}
        check(ids and ids <= icons, f"every icon the group names is there ({sorted(ids)})")
        check({16, 32} <= sizes, f"small and large icon sizes, 16 and 32 ({sorted(sizes)})")
        frames = icon_frames(pe, data)
        print("icon frames: " + ", ".join(f"{size} px {kind}" for size, kind in frames))
        png = [size for size, kind in frames if size in XP_ICON_SIZES and kind != "bitmap"]
        check(not png, f"the frames XP uses ({XP_ICON_SIZES}) are bitmaps, not PNG ({png})")


def icon_frames(pe, group):
    """(size, "bitmap" or "PNG" or "unknown") for each frame the icon group names."""
    icons = {e.id: e for e in resource_entries(pe, pefile.RESOURCE_TYPE["RT_ICON"])}
    frames = []
    for i in range(int.from_bytes(group[4:6], "little")):
        entry = group[6 + 14 * i: 6 + 14 * (i + 1)]
        icon_id = int.from_bytes(entry[12:14], "little")
        data = resource_data(pe, icons[icon_id]) if icon_id in icons else b""
        kind = ("PNG" if data.startswith(b"\x89PNG\r\n\x1a\n") else
                "bitmap" if data[:4] == (40).to_bytes(4, "little") else "unknown")
        frames.append((entry[0] or 256, kind))
    return frames


def check_imports(pe, raw):
    imports = imported_names(pe)
    print("imports: " + "; ".join(
        f"{dll} ({len(names)})" for dll, names in sorted(imports.items())))
    check(not getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", None), "no delay-loaded DLLs")
    for dll in sorted(imports):
        check(dll in ALLOWED_DLLS or ALLOWED_DLL_PATTERN.match(dll),
              f"{dll} ships with Windows (allowed list)")
    check({"kernel32.dll", "user32.dll"} <= set(imports), "imports kernel32 and user32")

    advapi = sorted(imports.get("advapi32.dll", ()))
    check(set(advapi) <= ALLOWED_ADVAPI_CALLS,
          f"from advapi32 only registry open, query and close, and the own token's switch "
          f"({advapi})")
    writes = sorted(n for names in imports.values() for n in names
                    if REGISTRY_WRITES.fullmatch(n.encode()))
    check(not writes, f"no registry-writing call imported ({writes})")

    # A DLL or call named only in a string can still be loaded at run time (LoadLibrary,
    # GetProcAddress): look at every byte, in both the narrow and the wide spelling.
    lowered = raw.lower()
    for dll in NETWORK_DLLS:
        for spelling in (dll.encode(), dll.encode("utf-16-le")):
            check(spelling not in lowered, f"no mention of {dll}, narrow or wide")
    writes = sorted({m.group(0).decode() for m in REGISTRY_WRITES.finditer(raw)} |
                    {m.group(0).decode() for m in REGISTRY_WRITES.finditer(raw.replace(b"\0", b""))
                     if m.group(0).startswith((b"Reg", b"SH"))})
    check(not writes, f"no registry-writing call named anywhere ({writes})")


def imported_names(pe):
    imports = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        names = {i.name.decode() if i.name else f"#{i.ordinal}" for i in entry.imports}
        imports.setdefault(entry.dll.decode().lower(), set()).update(names)
    return imports


def check_runtime(pe):
    imports = imported_names(pe)
    crt = sorted(n for dll, names in imports.items()
                 if dll == "msvcrt.dll" or ALLOWED_DLL_PATTERN.match(dll) for n in names)
    print(f"C runtime calls: {crt}")
    extra = sorted(set(crt) - CRT_CALLS_ON_PURPOSE)
    check(not extra, f"no C runtime call beyond {sorted(CRT_CALLS_ON_PURPOSE)} ({extra})")


# What the C runtime's start-up would run and the program's own entry point does not: constructors
# and destructors of globals, C initialisers and terminators, and TLS callbacks.
START_UP_SECTIONS = re.compile(r"^ (\.ctors|\.dtors|\.ctor|\.dtor|\.CRT\$X\w*|\.tls\S*)\s*"
                               r"(?:0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*))?$")
SIZED_LINE = re.compile(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")


def check_startup(map_path):
    try:
        lines = open(map_path, errors="replace").read().splitlines()
    except OSError as error:
        check(False, f"link map readable ({error})")
        return
    found = []
    for i, line in enumerate(lines):
        m = START_UP_SECTIONS.match(line)
        if not m:
            continue
        size, source = m.group(2), m.group(3)
        if size is None and i + 1 < len(lines):  # a long name puts the rest on the next line
            n = SIZED_LINE.match(lines[i + 1])
            size, source = (n.group(1), n.group(2)) if n else (None, None)
        if size and int(size, 16) > 0:
            found.append(f"{m.group(1)} from {source.strip()}")
    check(not found, f"nothing for a C runtime start-up to run ({found})")


def check_size(raw, machine):
    budget = SIZE_BUDGETS[machine]
    check(len(raw) <= budget, f"{len(raw)} bytes, within {budget} ({budget // 1024} KiB)")


def declared_functions(compiler, winnt):
    """Every name that MinGW-w64's headers, set to the given Windows version, declare or call as a
    function (a name before an opening parenthesis, after preprocessing)."""
    source = "#include <windows.h>\n"
    text = subprocess.run(
        [compiler, "-E", "-P", "-x", "c", f"-D_WIN32_WINNT={winnt}", f"-DWINVER={winnt}",
         "-DUNICODE", "-D_UNICODE", "-"],
        input=source, capture_output=True, text=True, check=True).stdout
    return set(re.findall(r"\b([A-Za-z_]\w*)\s*\(", text))


def check_xp(pe, machine, compiler):
    # A coarse net: the functions that MinGW-w64's headers declare for the newest Windows and not
    # for XP, found by preprocessing them both ways, so no hand-kept table can fall behind. The
    # headers know no service packs (a call that came with XP SP3 passes as XP's), and a few later
    # calls carry no version guard at all; a hit is certain, a pass is not proof.
    newer = declared_functions(compiler, NEWEST_WINNT) - declared_functions(compiler, "0x0501")
    print(f"{len(newer)} functions declared only after XP")
    check("GetFinalPathNameByHandleW" in newer,
          "the headers tell XP's calls from later ones (GetFinalPathNameByHandleW is later)")
    imported = {n for names in imported_names(pe).values() for n in names}
    too_new = sorted(imported & newer)
    check(not too_new, f"no import that the headers declare only after XP ({too_new})")
    header = pe.OPTIONAL_HEADER
    for what, version in (
            ("subsystem", (header.MajorSubsystemVersion, header.MinorSubsystemVersion)),
            ("operating system", (header.MajorOperatingSystemVersion,
                                  header.MinorOperatingSystemVersion))):
        check(version <= XP_SUBSYSTEM[machine],
              f"{what} version {version[0]}.{version[1]} is XP's or older")


def main():
    aspects = ("version", "manifest", "image", "imports", "runtime", "size", "startup", "xp")
    if len(sys.argv) != (5 if sys.argv[1:2] == ["xp"] else 4) or sys.argv[1] not in aspects \
            or sys.argv[2] not in MACHINES:
        print(__doc__, file=sys.stderr)
        return 2
    aspect, machine, path = sys.argv[1:4]
    with open(path, "rb") as f:
        raw = f.read()
    pe = pefile.PE(data=raw)
    print(f"{path}:")
    if aspect == "version":
        check_version(pe)
    elif aspect == "manifest":
        check_manifest(pe)
    elif aspect == "image":
        check_image(pe, machine)
    elif aspect == "runtime":
        check_runtime(pe)
    elif aspect == "size":
        check_size(raw, machine)
    elif aspect == "xp":
        check_xp(pe, machine, sys.argv[4])
    elif aspect == "startup":
        check_startup(re.sub(r"\.exe$", "", path) + ".map")
    else:
        check_imports(pe, raw)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
