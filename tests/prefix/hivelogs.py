#!/usr/bin/env python3
"""Dirty hives and the transaction logs beside them, written as Windows writes them, from the
format's public description rather than from the reader's code, so that the two cannot share a
misreading. A hive goes through states S0, S1 and S2 (hives.py lays each out); the logs carry the
pages that changed between them, and each state's values are written down to check the replay by.

usage: hivelogs.py fixtures DIR   DIR/CASE/{primary,T.LOG1,T.LOG2,T.LOG} for every case, and
                                  DIR/S0.expect..S2.expect: "key<TAB>value<TAB>answer" lines, the
                                  answers as hive_probe gives them
       hivelogs.py seeds DIR      fuzz seeds: a key, then primary and logs split by SPLIT
       hivelogs.py dirty HIVE AFTER LOG [old]
                                  HIVE left dirty on its way to the hive file AFTER, whose pages
                                  wait in LOG: one entry (Windows 8.1 and later), or XP's log
"""
import os
import struct
import sys

import hives
from hives import REG_BINARY, REG_SZ, path, sz

SPLIT = b"\n--log--\n"
SEED = int.from_bytes(bytes.fromhex("82EF4D887A4E55C5"), "little")  # what entries are hashed with
M32 = 0xFFFFFFFF


def marvin32(data, seed=SEED):
    def scramble(lo, hi):
        hi ^= lo
        lo = ((lo << 20 | lo >> 12) & M32)
        lo = (lo + hi) & M32
        hi = ((hi << 9 | hi >> 23) & M32) ^ lo
        lo = ((lo << 27 | lo >> 5) & M32)
        lo = (lo + hi) & M32
        hi = (hi << 19 | hi >> 13) & M32
        return lo, hi
    lo, hi, whole = seed & M32, seed >> 32, len(data) // 4 * 4
    for i in range(0, whole, 4):
        lo, hi = scramble((lo + int.from_bytes(data[i:i + 4], "little")) & M32, hi)
    lo, hi = scramble((lo + int.from_bytes(data[whole:] + b"\x80", "little")) & M32, hi)
    lo, hi = scramble(lo, hi)
    return hi << 32 | lo


# Microsoft's published vectors, so that the generator's hash is checked apart from the reader's.
for data, want in ((b"", 0x30ED35C100CD3C7D), (b"\xaf", 0x48E73FC77D75DDC1),
                   (b"\xe7\x0f", 0xB5F6E1FC485DBFF8), (b"\x37\xf4\x95", 0xF0B07C789B8CF7E8),
                   (b"\x86\x42\xdc\x59", 0x7008F2E87E9CF556)):
    assert marvin32(data, 0x004FB61A001BDBCC) == want


def header(state, seq1, seq2=None, kind=0, sig=b"regf", stamp=None):
    """The first sector of a base block: all a log keeps of it, and all of it that matters."""
    block = bytearray(state[:512])
    block[:4] = sig
    struct.pack_into("<II", block, 4, seq1, seq1 if seq2 is None else seq2)
    struct.pack_into("<I", block, 28, kind)
    if stamp is not None:
        struct.pack_into("<Q", block, 12, stamp)
    check = 0
    for (word,) in struct.iter_unpack("<I", bytes(block[:508])):
        check ^= word
    struct.pack_into("<I", block, 508, {0: 1, M32: M32 - 1}.get(check, check))
    return bytes(block)


def primary(state, seq1, seq2, data=None):
    return header(state, seq1, seq2) + (data or state)[512:]


def changed(old, new):
    """(offset in the bins, pages) for every run of 4 KiB pages that differ or are new: what
    Windows logs."""
    runs = []
    for at in range(4096, len(new), 4096):
        if old[at:at + 4096] != new[at:at + 4096]:
            if runs and runs[-1][0] + len(runs[-1][1]) == at - 4096:
                runs[-1] = (runs[-1][0], runs[-1][1] + new[at:at + 4096])
            else:
                runs.append((at - 4096, new[at:at + 4096]))
    return runs


def entry(seq, new, pages, sig=b"HvLE", bins=None, pad=0, claim=0, size=None):
    refs = b"".join(struct.pack("<II", at, len(page) + (claim if i == len(pages) - 1 else 0))
                    for i, (at, page) in enumerate(pages))
    body = refs + b"".join(page for _, page in pages)
    size = (40 + len(body) + 511) // 512 * 512 + pad if size is None else size
    body += bytes(max(0, size - 40 - len(body)))
    head = struct.pack("<4sIIIII", sig, size, 0, seq, len(new) - 4096 if bins is None else bins,
                       len(pages))
    head += struct.pack("<Q", marvin32(body))
    return head + struct.pack("<Q", marvin32(head)) + body


def new_log(state, seq, entries, tail=b"", **damage):
    return header(state, seq, **dict({"kind": 6}, **damage)) + b"".join(entries) + tail


def old_log(old, new, seq, stamp=0, misplace=False):
    """A log of the old format: the base block, the bitmap of dirty sectors, then the sectors.
    Windows marks whole pages, so each byte of the bitmap is 0x00 or 0xFF."""
    pages = changed(old, new)
    bitmap = bytearray((len(new) - 4096) // 4096)
    for at, run in pages:
        bitmap[at // 4096:(at + len(run)) // 4096] = b"\xff" * (len(run) // 4096)
    vector = b"DIRT" + bitmap
    data = b"".join(page for _, page in pages)
    if misplace:  # the first dirty page is a hive bin that names another place
        data = data[:4] + struct.pack("<I", pages[0][0] + 4096) + data[8:]
    return header(new, seq, kind=1, stamp=stamp) + vector + bytes(-len(vector) % 512) + data


def torn(data, keep):
    return data[:keep] + bytes(len(data) - keep)


def states(grown=60000, fillers=30):
    big = bytes(i * 7 % 251 for i in range(grown))
    # Keys enough for a few pages, so that a write can stop between them.
    filler = [("Filler\\Item%02d" % i, [("v", REG_BINARY, bytes([i]) * 300)])
              for i in range(fillers)]
    fresh = (r"Fresh\Only In Logs", [("v", REG_SZ, sz("added by the logs"))])
    s0 = hives.software(filler + [("Doomed", [("v", REG_SZ, sz("deleted by the logs"))])])
    s1 = hives.software(filler + [fresh])
    path(s1, hives.CODKEY).values = [("codkey", REG_SZ, sz("WXYZ-EFGH-IJKL-MNOP-QRST"))]
    s2 = hives.software(filler + [fresh, ("Grown", [("big", REG_BINARY, big)])])
    path(s2, hives.CODKEY).values = path(s1, hives.CODKEY).values
    return [s0, s1, s2]


def values(key, prefix=""):
    for name, kind, data in key.values:
        yield prefix.rstrip("\\"), name, "found %d %d %s" % (kind, len(data), data.hex())
    for child in key.keys:
        yield from values(child, prefix + child.name + "\\")


def cases(s0, s1, s2):
    n, k = 100, 40
    p01, p12 = changed(s0, s1), changed(s1, s2)
    at, run = p01[0]
    assert len(run) >= 8192  # "chained" logs its second page again
    e01, e12 = entry(n, s1, p01), entry(n + 1, s2, p12)
    dirty = primary(s0, n + 1, n)
    stale = entry(n - 1, s0, changed(s2, s0))
    torn_head = header(s0, n + 1, n)[:36] + b"\xff" * 4 + header(s0, n + 1, n)[40:]
    log = new_log(s0, n, [e01])
    mid = s0[:4096] + s2[4096:8192] + s0[8192:]  # Windows wrote one page before it stopped
    cases = {
        # Windows 8.1 and later: entries over both logs, and the ways they end.
        # A page changed twice and logged each time, once with the sectors round it.
        "chained": (dirty, {"T.LOG1": new_log(s0, n, [
            entry(n, s1, [(at, run[:4096] + s0[at + 8192:at + 12288] + run[8192:])]),
            entry(n + 1, s1, [(at + 4096, run[4096:8192])]),
            entry(n + 2, s1, [(at + 3584, run[3584:4608])])]),
                            "T.LOG2": new_log(s0, n + 3, [entry(n + 3, s2, p12)])}),
        "log1-stale": (dirty, {"T.LOG1": new_log(s0, n - 1, [stale]),
                               "T.LOG2": new_log(s0, n, [e01, e12])}),
        "log2-stale": (dirty, {"T.LOG2": new_log(s0, n - 1, [stale]),
                               "T.LOG1": new_log(s0, n, [e01, e12])}),
        # The hive already holds S1 from a partial write that left its number behind, and LOG1,
        # used again, holds an entry of its previous round after its new one.
        "reused": (primary(s0, n - 4, n - 5, s1), {
            "T.LOG2": new_log(s0, n, [e01]),
            "T.LOG1": new_log(s1, n + 1, [e12], tail=entry(n - 9, s0, changed(s2, s0)))}),
        "torn": (dirty, {"T.LOG1": new_log(s0, n, [e01, torn(e12, len(e12) // 2)])}),
        "first-torn": (dirty, {"T.LOG1": new_log(s0, n, [torn(e01, len(e01) // 2)])}),
        "clean": (primary(s0, n, n), {"T.LOG1": log}),
        "no-logs": (dirty, {}),
        "header-torn": (torn_head + s0[512:], {"T.LOG1": new_log(s0, n - 1, [stale]),
                                                "T.LOG2": new_log(s0, n, [e01, e12])}),
        "huge-bins": (dirty, {"T.LOG1": new_log(s0, n, [e01, entry(n + 1, s2, p12,
                                                                  bins=0x7FFFF000)])}),
        # A log's own base block.
        "log-signature": (dirty, {"T.LOG1": new_log(s0, n, [e01], sig=b"rega")}),
        "log-checksum": (dirty, {"T.LOG1": log[:200] + b"?" + log[201:]}),
        "log-unfinished": (dirty, {"T.LOG1": new_log(s0, n, [e01], seq2=n - 1)}),
        "log-type": (dirty, {"T.LOG1": new_log(s0, n, [e01], kind=2)}),
        # Windows XP to 8.0.
        "xp": (primary(s0, k + 1, k, mid), {"T.LOG": old_log(s0, s2, k)}),
        "old-log1-stale": (primary(s0, k, k - 1, mid), {"T.LOG1": old_log(s0, s2, k - 2),
                                                         "T.LOG2": old_log(s0, s2, k)}),
        "old-log2-stale": (primary(s0, k, k - 1, mid), {"T.LOG2": old_log(s0, s2, k - 2),
                                                         "T.LOG1": old_log(s0, s2, k)}),
        "old-both": (primary(s0, k, k - 1, mid), {"T.LOG1": old_log(s0, mid, k),
                                                   "T.LOG2": old_log(s0, s2, k + 1)}),
        "old-stale": (primary(s0, k, k - 1, mid), {"T.LOG1": old_log(s0, s2, k - 2)}),
        "old-header-torn": (torn_head + s0[512:], {"T.LOG1": old_log(s0, s2, k, stamp=5)}),
        "old-stamp": (torn_head + s0[512:4116] + struct.pack("<Q", 6) + s0[4124:],
                      {"T.LOG1": old_log(s0, s2, k, stamp=5)}),
        "old-no-bitmap": (primary(s0, k, k - 1),
                          {"T.LOG1": old_log(s0, s2, k).replace(b"DIRT", b"DIRX")}),
        "old-cut": (primary(s0, k, k - 1), {"T.LOG1": old_log(s0, s2, k)[:-512]}),
        "old-misplaced": (primary(s0, k, k - 1), {"T.LOG1": old_log(s0, s2, k, misplace=True)}),
    }
    # The second entry damaged one way or another: the replay stops after the first.
    bad = {"signature": entry(n + 1, s2, p12, sig=b"HvLF"),
           "zero": entry(n + 1, s2, [], size=0)[:40],
           "hash2": e12[:8] + b"\x01" + e12[9:],
           "sequence": entry(n + 3, s2, p12),
           "size": entry(n + 1, s2, p12, pad=8),
           "bins": entry(n + 1, s2, p12, bins=len(s2) - 4096 + 512),
           "unaligned": entry(n + 1, s2, [(p12[0][0] + 8, p12[0][1])] + p12[1:]),
           "empty-page": entry(n + 1, s2, p12 + [(0, b"")]),
           "beyond": entry(n + 1, s2, p12 + [(len(s2) - 4096, bytes(4096))]),
           "overrun": entry(n + 1, s2, p12, claim=4096, bins=len(s2))}
    for name, second in bad.items():
        cases["entry-" + name] = (dirty, {"T.LOG1": new_log(s0, n, [e01, second])})
    return cases


def fixtures(out):
    trees = states()
    made = [hives.hive(tree) for tree in trees]
    asked = sorted({(k, v) for tree in trees for k, v, _ in values(tree)})
    for i, tree in enumerate(trees):
        have = {(k, v): answer for k, v, answer in values(tree)}
        with open(os.path.join(out, "S%d.expect" % i), "w") as f:
            f.writelines("%s\t%s\t%s\n" % (k, v, have.get((k, v), "missing")) for k, v in asked)
    for name, (hive, logs) in cases(*made).items():
        os.makedirs(os.path.join(out, name), exist_ok=True)
        for file, data in dict(logs, primary=hive).items():
            with open(os.path.join(out, name, file), "wb") as f:
                f.write(data)


def seeds(out):
    made = cases(*(hives.hive(tree) for tree in states(grown=3000, fillers=8)))
    for name in ("chained", "reused", "header-torn", "xp", "old-both"):
        hive, logs = made[name]
        with open(os.path.join(out, name), "wb") as f:
            f.write(hives.CODKEY.encode() + b"\n" + SPLIT.join([hive] + list(logs.values())))


def dirty(hive, after, log, fmt="new"):
    with open(hive, "rb") as f:
        old = f.read()
    with open(after, "rb") as f:
        new = f.read()
    n = 100
    if fmt == "old":
        data = {hive: primary(old, n + 1, n), log: old_log(old, new, n)}
    else:
        data = {hive: primary(old, n + 1, n), log: new_log(old, n, [entry(n, new, changed(old, new))])}
    for name, bytes_ in data.items():
        with open(name, "wb") as f:
            f.write(bytes_)


if __name__ == "__main__":
    if sys.argv[1] == "dirty":
        dirty(*sys.argv[2:])
        sys.exit(0)
    os.makedirs(sys.argv[2], exist_ok=True)
    {"fixtures": fixtures, "seeds": seeds}[sys.argv[1]](sys.argv[2])
