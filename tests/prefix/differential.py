#!/usr/bin/env python3
"""Differential test: the prefix reader against Wine's own registry.

Makes a prefix with wineboot, writes values into both registry views with `reg import`, asks
Wine's RegQueryValueExA through the 32-bit view (registry_probe.exe under wine64), lets
wineserver save the registry files, then asks the native reader (prefix_probe) the same
questions. Every status, type, length and buffer byte must agree.

usage: differential.py WINDOWS_PROBE LINUX_PROBE WORK_DIR
"""
import os
import shutil
import subprocess
import sys

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
HKLM, HKCU, HKU = "80000002", "80000001", "80000003"
KEY = r"Software\Ostrel\Diff"

# Values written to the 32-bit view, as .reg lines (the file is UTF-16, so any text fits).
VALUES_32 = [
    '"plain"="ABC-DEF-123"',
    '"spaces"="  ABC  "',
    '"quotes"="say \\"hi\\""',
    '"backslashes"="C:\\\\Games\\\\CoD4\\\\"',
    '"eacute"="café"',
    '"cjk"="中文"',
    '"emoji"="😀 key"',
    '"empty"=""',
    '"len254"="%s"' % ("k" * 254),
    '"len255"="%s"' % ("k" * 255),
    '"len300"="%s"' % ("k" * 300),
    '"word"="Error"',
    '"expand"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,00,00',
    '"multi"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00',
    '"dword"=dword:12345678',
    '"bin"=hex:01,02,ab',
    '"binlong"=hex:' + ",".join("%02x" % (i % 256) for i in range(300)),
    '"qword"=hex(b):88,77,66,55,44,33,22,11',
    '"odd"=hex(1):61,00,62,00,63',
    '"zero"=hex(1):',
    '"nonul"=hex(1):41,00,42,00,43,00',
    '"Mixed Case"="case"',
    '@="the default"',
]
# Only in the 64-bit view: never visible to a 32-bit program.
VALUES_64 = ['"only64"="sixty-four"']

# Lines written into system.reg by hand, as Wine never writes them but a user or a damaged file
# may: Wine's own loader reads them when the probe starts, the native reader reads the same file.
HAND_KEY = r"Software\Ostrel\Hand"
HAND_LINES = [
    r'"esc"="\a\b\t\n\v\f\r\e \1\037\0001 \q\\"',
    r'"hex"="caf\xe9 \x00e91 \xg \x4e2d\xd83d\xde00"',
    '"utf8"="caf\xc3\xa9 \xff! \xe4\xb8\xad"',
    r'"strcolon"=str:"plain"',
    r'"odd"=hex(1):61,00,62,00,63',
    r'"nonul"=hex(1):41,00,42,00,43,00',
    r'"zero"=hex(1):',
    r'"hexty"=hex(0x7):6f,00,00,00,00,00',
    r'"empty0"=hex():',
    '"wrapped"=hex(b):01,02,\\\n  03,04,\\ ignored\n  05,06,07,08',
    r'"baddata"=hex:01,zz',
    r'"badtag"=nonsense',
    r'"unterminated"="abc',
    '"badend"="abc\\',
    r'"spaced"  =  dword:  0000abcd',
    r'"bigdword"=dword:123456789',
    r'"badname',
    r'"twice"="first"',
    r'"TWICE"="second"',
]


def reg_file(sections):
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in sections:
        lines.append("[%s]" % key)
        lines.extend(values)
        lines.append("")
    return ("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-16-le")


def queries():
    names = [v.split("=")[0].strip('"') for v in VALUES_32 if not v.startswith("@")]
    rows = [(HKLM, KEY, name) for name in names]
    rows += [(HKLM, HAND_KEY, line[1:line.index('"', 1)]) for line in HAND_LINES[:-3]]
    rows += [
        (HKLM, KEY, ""),                                 # the default value
        (HKLM, KEY, "only64"),                           # present only in the 64-bit view
        (HKLM, KEY, "missing"),
        (HKLM, r"SOFTWARE\OSTREL\diff", "PLAIN"),        # names in another case
        (HKLM, r"software\ostrel\DIFF", "mixed case"),
        (HKLM, r"Software\Ostrel\Only32", "v"),          # a key only the 32-bit view has
        (HKLM, r"Software\Ostrel\Only64", "v"),          # a key only the 64-bit view has
        (HKLM, r"Software\Wow6432Node\Ostrel\Diff", "plain"),  # asked for by its own name
        (HKLM, r"Software\Ostrel\Missing", "v"),
        (HKLM, r"Software\\Ostrel\\\Diff\\", "plain"),    # runs of backslashes
        (HKLM, r"\Software\Ostrel\Diff", "plain"),       # a leading backslash
        (HKLM, "", "plain"),                             # the root itself
        (HKLM, r"Software\Classes\.txt", ""),            # through the Classes link and share
        (HKLM, r"Software\Classes\txtfile", ""),
        (HKLM, r"System\CurrentControlSet\Control\Nls\CodePage", "ACP"),
        (HKLM, r"Software\Microsoft\Windows NT\CurrentVersion", "CurrentBuild"),
        (HKLM, r"Software\Microsoft\Windows NT\CurrentVersion", "ProductName"),
        (HKLM, r"Software\Ostrel\Hand", "twice"),
        (HKLM, r"Software\Ostrel\Hand", "badname"),
        (HKCU, r"Software\Ostrel", "user"),              # HKCU is not redirected
        (HKCU, r"Control Panel\Desktop", "WheelScrollLines"),
        (HKU, r"S-1-5-21-0-0-0-1000\Software\Ostrel", "user"),
        (HKU, r".Default\Control Panel\International", "sLanguage"),
    ]
    return "".join("%s\t%s\t%s\n" % row for row in rows).encode("cp1252")


def run(cmd, env, **kw):
    return subprocess.run(cmd, env=env, check=True, **kw)


def main():
    windows_probe, linux_probe, work = (os.path.abspath(a) for a in sys.argv[1:4])
    prefix = os.path.join(work, "pfx")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=env, stderr=subprocess.DEVNULL)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run([WINE, "wineboot", "-i"], env, **quiet)

    files = {
        "view32.reg": reg_file([("HKEY_LOCAL_MACHINE\\" + KEY, VALUES_32),
                                ("HKEY_LOCAL_MACHINE\\Software\\Ostrel\\Only32", ['"v"="32"'])]),
        "view64.reg": reg_file([("HKEY_LOCAL_MACHINE\\" + KEY, VALUES_64),
                                ("HKEY_LOCAL_MACHINE\\Software\\Ostrel\\Only64", ['"v"="64"']),
                                ("HKEY_CURRENT_USER\\Software\\Ostrel", ['"user"="from HKCU"'])]),
    }
    for name, data in files.items():
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    run([WINE, "reg", "import", os.path.join(work, "view32.reg"), "/reg:32"], env, **quiet)
    run([WINE, "reg", "import", os.path.join(work, "view64.reg"), "/reg:64"], env, **quiet)

    # wineserver writes system.reg and user.reg when it exits; then the hand-written lines go in.
    run([WINESERVER, "-w"], env)
    with open(os.path.join(prefix, "system.reg"), "ab") as f:
        section = "\n[%s] 1700000000\n" % HAND_KEY.replace("\\", r"\\").replace(
            "Software", r"Software\\Wow6432Node", 1)
        f.write((section + "\n".join(HAND_LINES) + "\n").encode("latin-1"))

    query_file = os.path.join(work, "queries.txt")
    with open(query_file, "wb") as f:
        f.write(queries())
    actual = run([linux_probe, prefix, query_file], env, capture_output=True).stdout
    expected = run([WINE, windows_probe, query_file], env, capture_output=True).stdout
    subprocess.run([WINESERVER, "-w"], env=env)

    rows = queries().decode("cp1252").splitlines()
    want, got = expected.decode().splitlines(), actual.decode().splitlines()
    failures = 0
    if len(want) != len(rows) or len(got) != len(rows):
        print("probe output lengths differ: %d queries, wine %d, native %d"
              % (len(rows), len(want), len(got)))
        failures += 1
    for row, w, g in zip(rows, want, got):
        if w != g:
            failures += 1
            print("MISMATCH %s\n  wine:   %s\n  native: %s" % (row.replace("\t", " | "), w, g))
    print("%d queries, %d mismatches" % (len(rows), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
