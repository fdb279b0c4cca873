#!/usr/bin/env python3
"""Writes Windows registry hive files laid out as Windows lays them out, for the hive reader's
tests, its fuzz seeds and its benchmark. No tool in Debian writes ri lists of lists or db records
for big values, so this does.

usage: hives.py fixtures DIR        the test fixtures (and fuzz seeds, in DIR/seeds)
       hives.py software FILE MB    a SOFTWARE-like hive of about MB megabytes for the benchmark
       hives.py hostile KIND FILE   a crafted SOFTWARE hive for the benchmark (KINDS below)
       hives.py disk DIR [dirty]    a Windows disk: SOFTWARE, SYSTEM (code page 1251), and the
                                    profiles alice (a VirtualStore copy) and bob (none)
       hives.py differential PROBE DIR
                                    hive_probe against hivex and reglookup, which were written
                                    apart from this project, on our hives and on one that samba
                                    and chntpw's reged wrote
"""
import ctypes
import os
import random
import re
import struct
import subprocess
import sys

KEY_COMP_NAME, VALUE_COMP_NAME, BIG = 0x20, 0x01, 16344
REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4
CODKEY = r"Wow6432Node\Activision\Call of Duty 4"


def upcase(text):
    # Per UTF-16 unit, as Windows compares and hashes names (one letter to one letter only).
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in text)


def sz(text):
    return text.encode("utf-16-le") + b"\0\0"


class Key:
    """`wide` stores the key's name and its values' names in UTF-16; `spread` puts a free cell of
    that many bytes before each of its subkeys, which it writes in a shuffled order."""

    def __init__(self, name, values=(), keys=(), kind="lh", wide=False, spread=0):
        self.name, self.values, self.keys = name, list(values), list(keys)
        self.kind, self.wide, self.spread = kind, wide, spread


def _child(parent, name, **options):
    for k in parent.keys:
        if k.name.upper() == name.upper():
            return k
    k = Key(name, **options)
    parent.keys.append(k)
    return k


def path(root, names, values=(), **options):
    key = root
    parts = names.split("\\")
    for i, name in enumerate(parts):
        key = _child(key, name, **(options if i == len(parts) - 1 else {}))
    key.values.extend(values)
    return key


def name_bytes(name, force_wide=False):
    if not force_wide and all(ord(c) < 0x100 for c in name):
        return name.encode("latin-1"), True
    return name.encode("utf-16-le"), False


class Writer:
    """Cells in hive bins, each bin a page or as many as its one large cell needs; or, with
    one_bin, every cell in one bin that grows as they come. `named` records where each key, list,
    value and data cell went, by the key's path, for tests that damage one on purpose."""

    def __init__(self, one_bin=False):
        self.data, self.bin_end = bytearray(bytes(4096)), None  # the base block, filled in last
        self.one_bin, self.named = one_bin, {}

    def cell(self, payload):
        size = (len(payload) + 4 + 7) & ~7
        if self.bin_end is None or (len(self.data) + size > self.bin_end and not self.one_bin):
            self.close_bin()
            start, pages = len(self.data), (32 + size + 4095) // 4096
            self.bin_end = start + pages * 4096
            self.data += b"hbin" + struct.pack("<III", start - 4096, pages * 4096, 0) + bytes(16)
        offset = len(self.data) - 4096  # cells are named by their offset from the first bin
        self.data += struct.pack("<i", -size) + payload + bytes(size - 4 - len(payload))
        return offset

    def free(self, size):
        """A free cell of `size` bytes (a multiple of 8) where the next cell would go."""
        if size:
            self.data += struct.pack("<i", size) + bytes(size - 4)

    def close_bin(self):
        if self.one_bin and self.bin_end is not None:
            # The one bin ends where its cells do, on a page boundary.
            self.bin_end = (len(self.data) + 4095) // 4096 * 4096
            struct.pack_into("<I", self.data, 4096 + 8, self.bin_end - 4096)
        if self.bin_end is not None and self.bin_end > len(self.data):
            self.free(self.bin_end - len(self.data))

    def patch(self, offset, fmt, *fields, at=0):
        """Fields into the cell at `offset`, `at` bytes after its size."""
        struct.pack_into(fmt, self.data, 4096 + offset + 4 + at, *fields)

    def value_data(self, data, minor, name):
        if len(data) > BIG and minor >= 4:
            segments = [self.cell(data[i:i + BIG]) for i in range(0, len(data), BIG)]
            listed = self.cell(struct.pack("<%dI" % len(segments), *segments))
            self.named.update({"segments:" + name: listed, **{
                "segment%d:%s" % (i, name): at for i, at in enumerate(segments)}})
            return self.cell(b"db" + struct.pack("<HI", len(segments), listed))
        return self.cell(data)

    def key(self, key, parent, security, minor, root=False, at=""):
        name, latin = name_bytes(key.name, key.wide)
        flags = (KEY_COMP_NAME if latin else 0) | (0x2C if root else 0)
        nk = self.cell(bytes(0x4C) + name)
        self.named["key:" + at] = nk
        children = sorted(key.keys, key=lambda k: upcase(k.name))
        offsets = [0] * len(children)
        order = list(range(len(children)))
        if key.spread:
            random.Random(7).shuffle(order)  # in the bin in another order than in the list
        for i in order:
            self.free(key.spread)
            offsets[i] = self.key(children[i], nk, security, minor,
                                  at=at + "\\" + children[i].name if at else children[i].name)
        subkeys = 0xFFFFFFFF
        if offsets:
            subkeys = self.subkey_list(key.kind, children, offsets)
            self.named["list:" + at] = subkeys
        values = 0xFFFFFFFF
        if key.values:
            cells = []
            for vname, vtype, data in key.values:
                raw, vlatin = name_bytes(vname, key.wide)
                if len(data) <= 4:
                    size, where = len(data) | 0x80000000, int.from_bytes(data.ljust(4, b"\0"), "little")
                else:
                    size, where = len(data), self.value_data(data, minor, at + ":" + vname)
                    self.named["data:%s:%s" % (at, vname)] = where
                cells.append(self.cell(b"vk" + struct.pack("<HIIIHH", len(raw), size, where, vtype,
                                                            VALUE_COMP_NAME if vlatin else 0, 0) + raw))
                self.named["value:%s:%s" % (at, vname)] = cells[-1]
            values = self.cell(struct.pack("<%dI" % len(cells), *cells))
            self.named["values:" + at] = values
        self.patch(nk, "<2sHQIIIIIIIIIIIIIIIHH", b"nk", flags, 0, 0, parent,
                   len(offsets), 0, subkeys, 0xFFFFFFFF, len(key.values), values, security,
                   0xFFFFFFFF, 0, 0, 0, 0, 0, len(name), 0)
        return nk

    def subkey_list(self, kind, children, offsets):
        rel = offsets
        if kind == "ri":
            # Windows splits a large key's list into leaves under one index; so do we, in fifties.
            leaves = [self.subkey_list("lh", children[i:i + 50], offsets[i:i + 50])
                      for i in range(0, len(rel), 50)]
            return self.cell(b"ri" + struct.pack("<H%dI" % len(leaves), len(leaves), *leaves))
        if kind == "li":
            return self.cell(b"li" + struct.pack("<H%dI" % len(rel), len(rel), *rel))
        entries = b""
        for child, off in zip(children, rel):
            if kind == "lh":
                entries += struct.pack("<II", off, lh_hash(child.name))
            else:
                hint = child.name[:4].encode("latin-1", "replace").ljust(4, b"\0")
                entries += struct.pack("<I", off) + hint
        return self.cell(kind.encode() + struct.pack("<H", len(rel)) + entries)


def lh_hash(name):
    h = 0
    for c in upcase(name):
        h = (h * 37 + ord(c)) & 0xFFFFFFFF
    return h


def hive(root, minor=5, sequence=(7, 7), one_bin=False, tweak=None, writer=None, pad_to=0):
    """The file's bytes. `tweak(writer)` may add and patch cells once the keys are written;
    bins of free space follow them up to `pad_to` bytes."""
    w = writer or Writer(one_bin)
    descriptor = struct.pack("<BBHIIII", 1, 0, 0x8004, 0, 0, 0, 0)
    security = w.cell(b"sk" + struct.pack("<HIIII", 0, 0, 0, 1 << 20, len(descriptor)) + descriptor)
    w.patch(security, "<2sHII", b"sk", 0, security, security)
    top = w.key(root, 0, security, minor, root=True)
    if tweak:
        tweak(w)
    w.close_bin()
    while len(w.data) < pad_to:
        size = min(1 << 20, (pad_to - len(w.data) + 4095) // 4096 * 4096)
        w.data += b"hbin" + struct.pack("<III", len(w.data) - 4096, size, 0) + bytes(16)
        w.free(size - 32)
    base = bytearray(4096)
    struct.pack_into("<4sIIQIIIIII", base, 0, b"regf", sequence[0], sequence[1], 0, 1, minor, 0, 1,
                     top, len(w.data) - 4096)
    struct.pack_into("<I", base, 0x2C, 1)
    check = 0
    for (word,) in struct.iter_unpack("<I", bytes(base[:508])):
        check ^= word
    struct.pack_into("<I", base, 0x1FC, {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(check, check))
    w.data[:4096] = base
    return bytes(w.data)


def software(extra=()):
    """A 64-bit SOFTWARE hive's shape: the key in the 32-bit view, and a 64-bit twin beside it."""
    root = Key("ROOT")
    path(root, CODKEY, [("codkey", REG_SZ, sz("ABCD-EFGH-IJKL-MNOP-QRST"))])
    path(root, r"Activision\Call of Duty 4", [("codkey", REG_SZ, sz("SIXTY-FOUR"))])
    for names, values in extra:
        path(root, names, values)
    return root


def fixtures(out):
    os.makedirs(os.path.join(out, "seeds"), exist_ok=True)
    big = bytes(i * 7 % 251 for i in range(40000))
    root = software()
    path(root, "Wide", [("codkey", REG_SZ, sz("wide"))], wide=True)
    path(root, "Ключи\\Ünïcode", [("Имя", REG_SZ, sz("кириллица")), ("", REG_SZ, sz("default"))])
    many = path(root, "Many")
    many.keys = [Key("Sub%05d" % i, [("n", REG_DWORD, struct.pack("<I", i))]) for i in range(1500)]
    indexed = path(root, "Indexed", kind="ri")
    indexed.keys = [Key("Item%04d" % i, [("n", REG_DWORD, struct.pack("<I", i))]) for i in range(1200)]
    for kind in ("lf", "li"):
        path(root, kind.upper(), kind=kind).keys = [
            Key(n, [("n", REG_DWORD, struct.pack("<I", i))]) for i, n in enumerate(["Alpha", "Beta", "Ab"])]
    path(root, "Values", [("big", REG_BINARY, big), ("edge", REG_BINARY, big[:BIG]),
                          ("inline", REG_BINARY, b"\xAA\xBB\xCC"), ("empty", REG_SZ, b""),
                          ("Mixed Case", REG_SZ, sz("case"))])
    made = {
        "software.hiv": hive(root),
        "old-format.hiv": hive(software([("Values", [("big", REG_BINARY, big)])]), minor=3),
        "dirty.hiv": hive(software(), sequence=(8, 7)),
        # 999 names with the lh hash of the game's key, then the key: a page apart in one bin,
        # in a shuffled order.
        "crowded.hiv": crowded(1000, 4000),
    }
    checks, cells = checks_hive()
    made["checks.hiv"] = checks
    for name, data in made.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "checks.cells"), "w") as f:
        f.write("".join("%s %d\n" % item for item in sorted(cells.items())))
    # Fuzz seeds: a key path, a value name, then the hive.
    seeds = {"codkey": (CODKEY, "codkey", hive(software())),
             "ri": ("Indexed\\Item0007", "n", hive(Key("R", keys=[Key("Indexed", kind="ri", keys=[
                 Key("Item%04d" % i, [("n", REG_DWORD, b"\7\0\0\0")]) for i in range(120)])]))),
             "big": ("Values", "big", hive(Key("R", keys=[Key("Values", [("big", REG_BINARY,
                                                                          big[:20000])])]))),
             "crowd": (CODKEY, "codkey", crowded(40, 64)),
             "lists": ("Sub\\Child\\Leaf", "v", hive(Key("R", keys=[
                 Key("LF", kind="lf", keys=[Key("Alpha"), Key("Beta")]),
                 Key("LI", kind="li", keys=[Key("Alpha"), Key("Beta")]),
                 Key("Sub", keys=[Key("Child", keys=[Key("Leaf", [("v", REG_SZ, sz("x"))])])])])))}
    for name, (key, value, data) in seeds.items():
        with open(os.path.join(out, "seeds", name), "wb") as f:
            f.write(key.encode() + b"\n" + value.encode() + b"\n" + data)


def checks_hive():
    """A small hive with a cell of every kind, for tests that damage one at a time: the hive, and
    where each cell is (see Writer.named)."""
    big = bytes(i * 7 % 251 for i in range(40000))
    root = Key("ROOT", keys=[
        Key("Target", [("v", REG_SZ, sz("checked")), ("inline", REG_DWORD, struct.pack("<I", 7)),
                       ("big", REG_BINARY, big)]),
        Key("Wide", [("wide", REG_SZ, sz("wide"))], wide=True),
        Key("Index", kind="ri", keys=[Key("Item%02d" % i) for i in range(100)]),
        Key("Index2", kind="ri", keys=[Key("Other%02d" % i) for i in range(60)]),
        Key("Sub", keys=[Key("Child", keys=[Key("Leaf")])])])
    w = Writer()
    return hive(root, writer=w), w.named


def colliding_names(name, count):
    """`count` names as long as `name` with the same lh hash, each sorting before it. Each is a
    head counted out in twelve symbols (below name's first letter) and a tail of seven characters
    between space and '[' (each its own upper case) that makes up the hash: with 60 characters a
    place, more than the base of 37, every hash is in reach."""
    tail, symbols = 7, "0123456789AB"
    head = len(name) - tail
    assert head >= 1 and upcase(name)[0] > symbols[-1] and count <= len(symbols) ** head
    target, weight = lh_hash(name), 37 ** tail
    names = []
    for i in range(count):
        prefix = ""
        for _ in range(head):
            prefix, i = symbols[i % len(symbols)] + prefix, i // len(symbols)
        # What the tail must add, above the smallest tail (seven spaces), modulo 2**32.
        rest = (target - lh_hash(prefix) * weight - 32 * (weight - 1) // 36) % 2 ** 32
        chars = ""
        for place in range(tail - 1, -1, -1):
            digit = min(59, rest // 37 ** place)
            rest -= digit * 37 ** place
            chars += chr(32 + digit)
        assert rest == 0 and lh_hash(prefix + chars) == target
        names.append(prefix + chars)
    return names


GAME_KEY = "Call of Duty 4"


def game_tree(crowd=(), spread=0, codkey=sz("ABCD-EFGH-IJKL-MNOP-QRST")):
    game = Key(GAME_KEY, [("codkey", REG_SZ if len(codkey) < 100 else REG_BINARY, codkey)])
    return Key("ROOT", keys=[Key("Wow6432Node", keys=[
        Key("Activision", keys=[Key(n) for n in crowd] + [game], spread=spread)])])


def crowded(entries, spread, pad_to=0):
    """A valid hive whose first bin holds every key: Activision lists `entries` subkeys, all with
    the lh hash of the game's key, the game's key last, each `spread` bytes apart in the bin in a
    shuffled order. Bins of free space follow up to `pad_to` bytes."""
    return hive(game_tree(colliding_names(GAME_KEY, entries - 1), spread), one_bin=True,
                pad_to=pad_to)


def hostile(kind, out):
    """SOFTWARE hives crafted against the reader, each with the game's key path. Valid: crowded,
    65,535 subkeys with the lh hash of the game's key (the game's key last) in a first bin of 16
    MB, in a 160 MB file; and the same in one bin of 160 MB. Damaged: an index of 65,535 entries
    naming cells in 64 MB of free space, or itself; 65,535 indexes nested; an index of one leaf
    65,535 times (each of 65,535 entries with the key's hash); and counts far larger than their
    cells (of a list, of values, of a big value's segments)."""
    if kind == "crowded":
        data = crowded(65535, 144, pad_to=160 << 20)
    elif kind == "crowded-one-bin":
        data = crowded(65535, 2344)
    else:
        codkey = bytes(20000) if kind == "count-segments" else sz("ABCD-EFGH-IJKL-MNOP-QRST")

        def tweak(w):
            activision = w.named["key:Wow6432Node\\Activision"]
            game = w.named["key:Wow6432Node\\Activision\\" + GAME_KEY]
            listed = w.named["list:Wow6432Node\\Activision"]

            def subkeys(count, cell):
                w.patch(activision, "<I", count, at=0x14)
                w.patch(activision, "<I", cell, at=0x1C)

            if kind in ("index-of-damaged", "index-of-itself"):
                # The index first, then the free space its entries name.
                at = len(w.data) - 4096
                hole = at + (8 + 4 * 65535 + 7) // 8 * 8
                if kind == "index-of-damaged":
                    entries = [hole + 8 + i * 1024 for i in range(65535)]
                else:
                    entries = [at] * 65535
                subkeys(65535, w.cell(b"ri" + struct.pack("<H65535I", 65535, *entries)))
                w.free(64 << 20)
            elif kind == "index-nested":
                first = len(w.data) - 4096
                for i in range(65535):
                    w.cell(b"ri" + struct.pack("<HI", 1, first + 16 * (i + 1) if i < 65534 else listed))
                subkeys(1, first)
            elif kind == "index-repeated":
                other = w.cell(bytes(0x4C) + GAME_KEY.replace("4", "5").encode())
                w.patch(other, "<2sH", b"nk", KEY_COMP_NAME)
                w.patch(other, "<H", len(GAME_KEY), at=0x48)
                leaf = w.cell(b"lh" + struct.pack("<H", 65535) +
                              struct.pack("<II", other, lh_hash(GAME_KEY)) * 65535)
                subkeys(65535 * 65535, w.cell(b"ri" + struct.pack("<H", 65535) +
                                                struct.pack("<I", leaf) * 65535))
            elif kind == "count-list":
                w.patch(listed, "<H", 65535, at=2)
                subkeys(65535, listed)
            elif kind == "count-values":
                w.patch(game, "<I", 0x3FFFFFFF, at=0x24)
            elif kind == "count-segments":
                w.patch(w.named["data:Wow6432Node\\Activision\\%s:codkey" % GAME_KEY], "<H", 65535, at=2)
            else:
                raise SystemExit("unknown hostile hive: " + kind)

        data = hive(game_tree(codkey=codkey), one_bin=True, tweak=tweak)
    with open(out, "wb") as f:
        f.write(data)


def disk(out, dirty=False):
    """Names in the letter cases Windows and NTFS mounts show them, as a test must meet them."""
    config = os.path.join(out, "Windows", "System32", "config")
    os.makedirs(config, exist_ok=True)
    files = {
        os.path.join(config, "software"): hive(software([(r"Microsoft\Windows", [])]),
                                               sequence=(9, 8) if dirty else (9, 9)),
        os.path.join(config, "SYSTEM"): hive(Key("ROOT", keys=[
            Key("Select", [("Current", REG_DWORD, struct.pack("<I", 2))]),
            Key("ControlSet001", keys=[Key("Control", keys=[Key("Nls", keys=[Key("CodePage", [
                ("ACP", REG_SZ, sz("1252"))])])])]),
            Key("ControlSet002", keys=[Key("Control", keys=[Key("Nls", keys=[Key("CodePage", [
                ("ACP", REG_SZ, sz("1251"))])])])])])),
    }
    for user, copy in (("alice", True), ("bob", False)):
        classes = Key("ROOT", keys=[Key(".txt")])
        if copy:
            path(classes, "VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\" + CODKEY.split("\\", 1)[1],
                 [("codkey", REG_SZ, sz("ЖЁЛТ-ALICE"))])
        folder = os.path.join(out, "Users", user, "AppData", "Local", "Microsoft", "Windows")
        os.makedirs(folder, exist_ok=True)
        files[os.path.join(folder, "UsrClass.dat")] = hive(classes)
    for name, data in files.items():
        with open(name, "wb") as f:
            f.write(data)


def software_like(out, megabytes):
    """Vendors, products and versions with values of a few KB, the key among them."""
    root = software()
    filler = bytes(range(256)) * 14
    count, v = 0, 0
    while count * 4000 < megabytes * 1_000_000:
        vendor = path(root, "Wow6432Node\\Vendor%03d" % (v % 400))
        product = _child(vendor, "Product%05d" % v)
        product.values = [("Path", REG_SZ, sz("C:\\Program Files\\Vendor\\%d" % v)),
                          ("Data", REG_BINARY, filler[: 3000 + v % 500])]
        v += 1
        count += 1
    with open(out, "wb") as f:
        f.write(hive(root))


def samba_reged(out, reg_text):
    """An empty hive from samba, filled by reged from a .reg file."""
    if os.path.exists(out):
        os.remove(out)
    lib = ctypes.CDLL("/usr/lib/x86_64-linux-gnu/samba/libregistry-samba4.so.0")
    key = ctypes.c_void_p()
    if lib.reg_create_regf_file(None, out.encode(), 5, ctypes.byref(key)) or lib.hive_key_flush(key):
        raise RuntimeError("samba could not create " + out)
    data = bytearray(open(out, "rb").read())
    # samba writes the size of the hive bins wrong and its checksum with it.
    struct.pack_into("<I", data, 0x28, len(data) - 4096)
    check = 0
    for (word,) in struct.iter_unpack("<I", bytes(data[:508])):
        check ^= word
    struct.pack_into("<I", data, 0x1FC, check)
    open(out, "wb").write(data)
    with open(out + ".reg", "w", encoding="latin-1") as f:
        f.write("Windows Registry Editor Version 5.00\n\n" + reg_text)
    done = subprocess.run(["reged", "-I", "-C", out, r"HKEY_LOCAL_MACHINE\SOFTWARE", out + ".reg"],
                          capture_output=True)
    if done.returncode != 2:  # reged's success
        raise RuntimeError("reged failed: %r" % done.stdout[-300:])


def hivex_values(hive):
    """Every value hivexregedit exports: (key path, name, type, bytes)."""
    # Perl writes names in Latin-1 unless told to speak UTF-8.
    text = subprocess.run(["hivexregedit", "--export", hive, "\\"], capture_output=True,
                          env=dict(os.environ, PERL_UNICODE="SO"), check=True,
                          text=True, encoding="utf-8").stdout.replace("\\\n  ", "")
    values, key = [], None
    for line in text.splitlines():
        if line.startswith("["):
            key = line[2:-1]
            continue
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(?:hex(?:\((\w+)\))?:([0-9a-f,]*)|dword:(\w{8}))$', line)
        if not m:
            continue
        name = re.sub(r"\\(.)", r"\1", m.group(2) or "")
        if m.group(5):
            values.append((key, name, 4, struct.pack("<I", int(m.group(5), 16))))
        else:
            data = bytes.fromhex(m.group(4).replace(",", ""))
            values.append((key, name, int(m.group(3) or "3", 16), data))
    return values


def reglookup_values(hive):
    types = {"NONE": 0, "SZ": 1, "EXPAND_SZ": 2, "BINARY": 3, "DWORD": 4, "MULTI_SZ": 7, "QWORD": 11}
    lines = subprocess.run(["reglookup", "-H", hive], capture_output=True, check=True,
                           text=True).stdout.splitlines()
    found = []
    for line in lines:
        path, kind = line.split(",")[:2]
        if kind != "KEY":
            key, _, name = path[1:].rpartition("/")
            unescape = lambda t: re.sub("%([0-9A-F]{2})", lambda m: chr(int(m.group(1), 16)), t)
            found.append((unescape(key).replace("/", "\\"), unescape(name), types[kind]))
    return found


def ask(probe, hive, questions):
    lines = "".join("%s\t%s\n" % q for q in questions)
    out = subprocess.run([probe, hive], input=lines, capture_output=True, check=True,
                         encoding="utf-8").stdout.splitlines()
    assert len(out) == len(questions), out[-3:]
    return out


def jumble(text, rng):
    return "".join(c.swapcase() if c.isascii() and rng.random() < 0.5 else c for c in text)


def differential(probe, work):
    os.makedirs(work, exist_ok=True)
    fixtures(work)
    reg = "".join('[HKEY_LOCAL_MACHINE\\SOFTWARE\\Many\\Sub%05d]\n"n"=dword:%08x\n\n' % (i, i)
                  for i in range(1100))
    reg += ('[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Activision\\Call of Duty 4]\n'
            '"codkey"="ABCD-1234"\n@="default"\n"Café"="crème"\n"empty"=""\n'
            '"multi"=hex(7):6f,00,6e,00,65,00,00,00,00,00\n"q"=hex(b):01,02,03,04,05,06,07,08\n'
            '"big"=hex:' + ",".join("%02x" % (i % 256) for i in range(20000)) + "\n\n"
            '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clés\\Été]\n"v"=dword:00000007\n')
    samba_reged(os.path.join(work, "reged.hiv"), reg)
    rng, failures = random.Random(17), 0
    for name in ("reged.hiv", "software.hiv", "old-format.hiv"):
        hive = os.path.join(work, name)
        values = hivex_values(hive)
        # reglookup spells names beyond Latin-1 by their low bytes: it is asked about the rest.
        spelled = {(k, n) for k, n, _, _ in values}
        listed = [entry for entry in reglookup_values(hive) if entry[:2] in spelled]
        questions = [(jumble(k, rng), jumble(n, rng)) for k, n, _, _ in values]
        questions += [(k, n + "-none") for k, n, _, _ in values[:50]]
        questions += [(k, n) for k, n, _ in listed]
        expected = ["found %d %d %s" % (t, len(d), d.hex()) for _, _, t, d in values]
        expected += ["missing"] * min(50, len(values))
        answers = ask(probe, hive, questions)
        for i, (question, want, got) in enumerate(zip(questions, expected, answers)):
            if got != want:
                failures += 1
                print("%s: %r: hivex says %s, we say %s" % (name, question, want[:80], got[:80]))
        for (key, vname, kind), got in zip(listed, answers[len(expected):]):
            if not got.startswith("found %d " % kind):
                failures += 1
                print("%s: %s\\%s: reglookup says type %d, we say %s" % (name, key, vname, kind, got[:80]))
        print("%s: %d values from hivex, %d from reglookup" % (name, len(values), len(listed)))
        if len(listed) + 3 < len(values) or len(listed) < 3:
            failures += 1
    return failures


if __name__ == "__main__":
    if sys.argv[1] == "fixtures":
        fixtures(sys.argv[2])
    elif sys.argv[1] == "disk":
        disk(sys.argv[2], dirty=sys.argv[3:] == ["dirty"])
    elif sys.argv[1] == "hostile":
        hostile(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "differential":
        sys.exit(1 if differential(sys.argv[2], sys.argv[3]) else 0)
    else:
        software_like(sys.argv[2], float(sys.argv[3]))
