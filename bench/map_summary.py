#!/usr/bin/python3
"""Summarises a GNU ld link map: bytes each archive (or object) contributes, per output section.

Usage: map_summary.py ostrel.map [top-N]
"""
import collections
import re
import sys

SECTION = re.compile(r"^ (\.[\w$.]+)\s*$")
ENTRY = re.compile(r"^ (\.[\w$.]+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


def owner(path):
    # "/usr/lib/gcc/.../libstdc++.a(locale_init.o)" -> "libstdc++.a"; objects keep their name.
    m = re.match(r"^(.*?)([^/]+\.a)\((.*)\)$", path)
    return m.group(2) if m else path.rsplit("/", 1)[-1]


def main():
    path = sys.argv[1]
    top = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    by_owner = collections.Counter()
    by_member = collections.Counter()
    by_section = collections.defaultdict(collections.Counter)
    pending = None
    in_memory_map = False
    with open(path, errors="replace") as f:
        for line in f:
            if line.startswith("Linker script and memory map"):
                in_memory_map = True
                continue
            if not in_memory_map or line.startswith("LOAD "):
                continue
            m = SECTION.match(line)
            if m:
                pending = m.group(1)
                continue
            m = ENTRY.match(line)
            if not m:
                pending = None
                continue
            name = m.group(1) or pending
            pending = None
            size = int(m.group(3), 16)
            source = m.group(4).strip()
            if not name or size == 0 or "(" not in source and not source.endswith((".o", ".obj", ".res")):
                continue
            if name.startswith(".debug"):
                continue  # stripped from the shipped file
            out = name.split(".")[1] if name.count(".") >= 1 else name
            kind = "." + re.split(r"[.$]", out)[0] if out else name
            by_owner[owner(source)] += size
            by_member[source.rsplit("/", 1)[-1]] += size
            by_section[owner(source)][kind] += size
    total = sum(by_owner.values())
    print(f"{'contributor':40} {'bytes':>8}  sections")
    for name, size in by_owner.most_common():
        secs = ", ".join(f"{k} {v}" for k, v in by_section[name].most_common(4))
        print(f"{name:40} {size:8}  {secs}")
    print(f"{'total input sections':40} {total:8}")
    print(f"\nlargest {top} archive members / objects:")
    for name, size in by_member.most_common(top):
        print(f"  {name:60} {size:8}")


if __name__ == "__main__":
    main()
