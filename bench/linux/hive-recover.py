#!/usr/bin/env python3
"""The key from a Windows disk's SOFTWARE hive: the native hive reader against hivexget, and on
hives crafted against it.

usage: bench/linux/hive-recover.py BUILD_DIR [RUNS] [MB ...]

Writes SOFTWARE-like hives of the given sizes (100 and 160 MB unless told) with
tests/prefix/hives.py into BUILD_DIR/bench-hives, each inside a Windows folder tree with a SYSTEM
hive, two profiles and the code page tables Windows keeps in System32, then times,
in one run and in rotating order, RUNS reads of the game's key with `ostrel recover --windows`
(or, in a build without it, with hive_probe, linked the same way) and RUNS reads of the same
value with hivexget. Peak memory comes from GNU time.

Then the same command on each hostile SOFTWARE hive of hives.py (RUNS runs each): the crowded
one must give the key, the others must fail with the damage named. Prints two tables; a
benchmark, not a test.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(HERE, "..", "..", "tests", "prefix", "hives.py")
KEY = r"Wow6432Node\Activision\Call of Duty 4"
WINE_NLS = "/usr/share/wine/nls"


HOSTILE = ["crowded", "crowded-one-bin", "index-of-damaged", "index-of-itself", "index-nested",
           "index-repeated", "count-list", "count-values", "count-segments"]


def spawn_timed(cmd, stdin_path, damaged=False):
    """Milliseconds from spawn to exit, and of CPU time (which other jobs on the machine do not
    stretch); the last line of stderr. The key must come out, or, when `damaged`, exit status 1
    and a reason that names the damage."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        actions = [(os.POSIX_SPAWN_OPEN, 0, stdin_path, os.O_RDONLY, 0),
                   (os.POSIX_SPAWN_DUP2, out.fileno(), 1),
                   (os.POSIX_SPAWN_DUP2, err.fileno(), 2)]
        start = time.perf_counter()
        pid = os.posix_spawn(cmd[0], cmd, os.environ, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        elapsed = (time.perf_counter() - start) * 1000
        out.seek(0)
        err.seek(0)
        text, reason = out.read(), err.read()
    code = os.waitstatus_to_exitcode(status)
    if damaged:
        if code != 1 or b"hive damaged" not in reason:
            raise RuntimeError("%s gave %d, %r" % (cmd, code, reason[-300:]))
    # The key as text (ostrel, hivexget) or as UTF-16 in hex (hive_probe).
    elif code != 0 or (b"ABCD-EFGH" not in text and b"41004200430044002d00" not in text):
        raise RuntimeError("%s gave %r" % (cmd, (text + reason)[:300]))
    cpu = (usage.ru_utime + usage.ru_stime) * 1000
    return elapsed, cpu, reason.decode(errors="replace").strip().splitlines()[-1:]


def peak_kib(cmd, stdin_path):
    with open(stdin_path) as stdin:
        out = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdin=stdin,
                             capture_output=True).stderr
    return int(out.split()[-1])


def windows_tree(root, system32, make_software):
    """A Windows folder tree with the code page tables in System32, once."""
    if not os.path.exists(os.path.join(system32, "C_1251.NLS")):
        subprocess.run([sys.executable, GENERATOR, "disk", root], check=True)
        make_software(os.path.join(system32, "config", "software"))
        for table in ("c_1251.nls", "l_intl.nls"):
            shutil.copy(os.path.join(WINE_NLS, table), os.path.join(system32, table.upper()))


def main():
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 41
    sizes = [int(s) for s in sys.argv[3:]] or [100, 160]
    ostrel = os.path.join(build, "ostrel")
    help_text = subprocess.run([ostrel, "--help"], capture_output=True, text=True).stdout \
        if os.path.exists(ostrel) else ""
    work = os.path.join(build, "bench-hives")
    question = os.path.join(work, "question")
    os.makedirs(work, exist_ok=True)
    with open(question, "w") as f:
        f.write(KEY + "\tcodkey\n")

    rows = []
    for mb in sizes:
        root = os.path.join(work, "disk-%d" % mb)
        system32 = os.path.join(root, "Windows", "System32")
        hive = os.path.join(system32, "config", "software")
        windows_tree(root, system32, lambda out: subprocess.run(
            [sys.executable, GENERATOR, "software", out, str(mb)], check=True))
        if "--windows" in help_text:
            ours, label = [ostrel, "recover", "--windows", root], "ostrel recover --windows"
        else:
            ours, label = [os.path.join(build, "hive_probe"), hive], "hive_probe"
        theirs = ["/usr/bin/hivexget", hive, KEY, "codkey"]
        times = {0: [], 1: []}
        for run in range(runs):
            # Rotating order: neither reader always meets the warmer page cache.
            for which in ((0, 1) if run % 2 == 0 else (1, 0)):
                times[which].append(spawn_timed([ours, theirs][which], question)[0])
        rows.append((mb, os.path.getsize(hive), label, times, peak_kib(ours, question),
                     peak_kib(theirs, question)))

    print("%d runs of each reader per hive, alternating; medians (fastest)." % runs)
    print("| hive | size (bytes) | reader | time ms | peak KiB | hivexget ms | hivexget KiB | "
          "speed-up |")
    print("|---|---|---|---|---|---|---|---|")
    for mb, size, label, times, ours_kib, theirs_kib in rows:
        ours_ms, theirs_ms = statistics.median(times[0]), statistics.median(times[1])
        print("| %d MB | %d | %s | %.2f (%.2f) | %d | %.2f (%.2f) | %d | %.1fx |" % (
            mb, size, label, ours_ms, min(times[0]), ours_kib, theirs_ms, min(times[1]),
            theirs_kib, theirs_ms / ours_ms))

    if "--windows" not in help_text:
        return
    print()
    print("Hostile hives, %d runs each of `ostrel recover --windows`; medians (slowest)." % runs)
    print("| hive | size (bytes) | answer | time ms | CPU ms | peak KiB |")
    print("|---|---|---|---|---|---|")
    for kind in HOSTILE:
        root = os.path.join(work, "hostile-" + kind)
        system32 = os.path.join(root, "Windows", "System32")
        windows_tree(root, system32, lambda out, kind=kind: subprocess.run(
            [sys.executable, GENERATOR, "hostile", kind, out], check=True))
        cmd = [ostrel, "recover", "--windows", root]
        timed = [spawn_timed(cmd, question, not kind.startswith("crowded")) for _ in range(runs)]
        wall, cpu = [run[0] for run in timed], [run[1] for run in timed]
        answer = "the key" if kind.startswith("crowded") else timed[0][2][0].split("damaged: ")[-1]
        print("| %s | %d | %s | %.2f (%.2f) | %.1f (%.1f) | %d |" % (
            kind, os.path.getsize(os.path.join(system32, "config", "software")), answer,
            statistics.median(wall), max(wall), statistics.median(cpu), max(cpu),
            peak_kib(cmd, question)))


if __name__ == "__main__":
    main()
