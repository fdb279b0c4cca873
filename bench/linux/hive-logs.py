#!/usr/bin/env python3
"""The key from a dirty hive, its transaction logs replayed, beside the same hive read clean and
beside hivexget (which reads the primary file alone).

usage: bench/linux/hive-logs.py BUILD_DIR [RUNS]

Writes SOFTWARE-like hives with tests/prefix/hives.py into BUILD_DIR/bench-hive-logs: one of
about 48 MiB with 6 MiB of logs (new format, in LOG1 and LOG2, and the old format's single log),
and one of 160 MB with 1 MiB and with 8 MiB of logs. The logs rewrite pages spread over the hive
and, last, the page that holds the key, which then reads WXYZ-... instead of ABCD-...; entries are
made by tests/prefix/hivelogs.py. Each hive stands in a Windows folder tree of its own, with
the code page table Windows keeps beside it. Times RUNS reads of the key, in rotating order, with
`ostrel recover --windows` on the clean hive, with the same on the dirty hive and its logs, and
with hivexget on the dirty primary; peak memory comes from GNU time. Prints one table; a
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
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "prefix"))
import hives  # noqa: E402
import hivelogs  # noqa: E402

KEY = r"Wow6432Node\Activision\Call of Duty 4"
OLD = "ABCD-EFGH-IJKL-MNOP-QRST".encode("utf-16-le")
NEW = "WXYZ-EFGH-IJKL-MNOP-QRST".encode("utf-16-le")
PAGES_PER_ENTRY = 64
SEQ = 1000


def dirty_state(clean, log_bytes):
    """The hive after Windows rewrote pages spread over it, enough to fill about log_bytes of
    logs, the page with the key last: (the new bytes, the runs of pages in order)."""
    pages = (len(clean) - 4096) // 4096
    wanted = max(1, log_bytes // (4096 + 8) - 1)
    step = max(1, pages // wanted)
    key = clean.index(OLD)
    new = bytearray(clean)
    new[key:key + len(OLD)] = NEW
    runs = [(at, bytes(new[4096 + at:8192 + at])) for at in range(0, pages * 4096, step * 4096)]
    runs = runs[:wanted] + [((key - 4096) // 4096 * 4096, None)]
    return bytes(new), [(at, page if page else new[4096 + at:8192 + at]) for at, page in runs]


def new_logs(clean, new, runs):
    entries = [hivelogs.entry(SEQ + i, new, runs[j:j + PAGES_PER_ENTRY])
               for i, j in enumerate(range(0, len(runs), PAGES_PER_ENTRY))]
    half = (len(entries) + 1) // 2
    return {"SOFTWARE.LOG1": hivelogs.new_log(clean, SEQ, entries[:half]),
            "SOFTWARE.LOG2": hivelogs.new_log(clean, SEQ + half, entries[half:])}


def old_logs(clean, new, runs):
    # The old format logs the pages that differ from the hive: make the rewritten ones differ.
    before = bytearray(clean)
    for at, _ in runs:
        before[4096 + at:8192 + at] = bytes(4096)
    return {"SOFTWARE.LOG": hivelogs.old_log(bytes(before), new, SEQ)}


def windows_tree(folder, software, logs=()):
    """FOLDER/Windows/System32/config/SOFTWARE (a hard link to the hive) and its logs."""
    config = os.path.join(folder, "Windows", "System32", "config")
    os.makedirs(config, exist_ok=True)
    for path in [software] + list(logs):
        name = "SOFTWARE" if path == software else os.path.basename(path)
        if not os.path.exists(os.path.join(config, name)):
            os.link(path, os.path.join(config, name))
    table = os.path.join(folder, "Windows", "System32", "C_1252.NLS")
    if not os.path.exists(table):
        shutil.copy("/usr/share/wine/nls/c_1252.nls", table)
    return folder


def spawn_timed(cmd, stdin_path, want):
    with tempfile.TemporaryFile() as out:
        actions = [(os.POSIX_SPAWN_OPEN, 0, stdin_path, os.O_RDONLY, 0),
                   (os.POSIX_SPAWN_DUP2, out.fileno(), 1),
                   (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
        start = time.perf_counter()
        pid = os.posix_spawn(cmd[0], cmd, os.environ, file_actions=actions)
        _, status = os.waitpid(pid, 0)
        elapsed = (time.perf_counter() - start) * 1000
        out.seek(0)
        text = out.read()
    if os.waitstatus_to_exitcode(status) != 0 or want not in text:
        raise RuntimeError("%s gave %r" % (cmd, text[:200]))
    return elapsed


def peak_kib(cmd, stdin_path):
    with open(stdin_path) as stdin:
        out = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdin=stdin,
                             capture_output=True, check=True).stderr
    return int(out.split()[-1])


def main():
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 21
    ostrel = os.path.join(build, "ostrel")
    work = os.path.join(build, "bench-hive-logs")
    os.makedirs(work, exist_ok=True)
    question = os.path.join(work, "question")
    with open(question, "w") as f:
        f.write(KEY + "\tcodkey\n")

    rows = []
    for mb, log_mib, kind in ((50.3, 6, "new"), (50.3, 6, "old"), (160, 1, "new"), (160, 8, "new")):
        folder = os.path.join(work, "%g-%s-%d" % (mb, kind, log_mib))
        clean_path = os.path.join(work, "clean-%g" % mb)
        if not os.path.exists(clean_path):
            hives.software_like(clean_path, mb)
        with open(clean_path, "rb") as f:
            clean = f.read()
        primary = os.path.join(folder, "SOFTWARE")
        if not os.path.exists(primary):
            os.makedirs(folder, exist_ok=True)
            new, pages = dirty_state(clean, log_mib << 20)
            logs = (new_logs if kind == "new" else old_logs)(clean, new, pages)
            for name, data in logs.items():
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(data)
            with open(primary, "wb") as f:
                f.write(hivelogs.primary(clean, SEQ + 1, SEQ))
        logs = sorted(os.path.join(folder, name) for name in os.listdir(folder) if ".LOG" in name)
        clean_tree = windows_tree(clean_path + "-tree", clean_path)
        dirty_tree = windows_tree(folder + "-tree", primary, logs)
        readers = [([ostrel, "recover", "--windows", clean_tree], b"ABCD-EFGH"),
                   ([ostrel, "recover", "--windows", dirty_tree], b"WXYZ-EFGH"),
                   (["/usr/bin/hivexget", primary, KEY, "codkey"], b"ABCD-EFGH")]
        times = [[] for _ in readers]
        for run in range(runs):
            # Rotating order: no reader always meets the warmest page cache.
            for which in range(run % 3, run % 3 + 3):
                cmd, want = readers[which % 3]
                times[which % 3].append(spawn_timed(cmd, question, want))
        rows.append((mb, len(clean), kind, sum(os.path.getsize(log) for log in logs), times,
                     [peak_kib(cmd, question) for cmd, _ in readers]))

    print("%d runs of each reader per hive, in turn; medians (fastest)." % runs)
    print("| hive | size (bytes) | logs | log bytes | recover, clean ms | KiB | "
          "recover, logs replayed ms | KiB | hivexget ms | KiB |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for mb, size, kind, log_size, times, peaks in rows:
        cells = ["%.2f (%.2f) | %d" % (statistics.median(t), min(t), kib)
                 for t, kib in zip(times, peaks)]
        print("| %g MB | %d | %s | %d | %s |" % (mb, size, kind, log_size, " | ".join(cells)))


if __name__ == "__main__":
    main()
