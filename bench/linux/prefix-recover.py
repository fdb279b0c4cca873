#!/usr/bin/env python3
"""Recover from a fresh Wine prefix: the native prefix reader against `wine reg query`.

usage: bench/linux/prefix-recover.py PREFIX_RECOVER [RUNS]

Makes a prefix with wineboot (build/linux/bench-prefix), writes a key into the 32-bit view with
`reg add /reg:32`, lets wineserver save it, then times, on that same prefix, RUNS reads with the
native reader (a static executable) and RUNS reads with `wine reg query ... /reg:32`, both from a
cold start (no wineserver running, as when a player types the command) and, for Wine, also with a
wineserver kept running. Prints one table; it is a benchmark, not a test.
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
KEY = r"HKLM\Software\Activision\Call of Duty 4"


def timed(cmd, env):
    # posix_spawn, which costs the parent least; output to a file, not a pipe: Wine's services
    # inherit it and would hold a pipe open until wineserver exits, which is not part of the read.
    with tempfile.TemporaryFile() as out:
        actions = [(os.POSIX_SPAWN_DUP2, out.fileno(), 1),
                   (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
        start = time.perf_counter()
        pid = os.posix_spawn(cmd[0], cmd, env, file_actions=actions)
        _, status = os.waitpid(pid, 0)
        elapsed = (time.perf_counter() - start) * 1000
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError("%s failed" % cmd)
        out.seek(0)
        return elapsed, out.read()


def peak_rss_kib(cmd, env):
    # GNU time, not Python: a child forked from Python counts Python's own pages in its peak.
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, env=env, capture_output=True,
                         check=True).stderr
    return int(out.split()[-1])


def main():
    native = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    prefix = os.path.join(root, "build", "linux", "bench-prefix")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=env, stderr=subprocess.DEVNULL)
    shutil.rmtree(prefix, ignore_errors=True)
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    subprocess.run([WINE, "wineboot", "-i"], env=env, **quiet)
    subprocess.run([WINE, "reg", "add", KEY, "/v", "codkey", "/d", "BENCH-1234-5678", "/f",
                    "/reg:32"], env=env, **quiet)
    subprocess.run([WINESERVER, "-w"], env=env)
    system_reg = os.path.getsize(os.path.join(prefix, "system.reg"))

    wine_query = [WINE, "reg", "query", KEY, "/v", "codkey", "/reg:32"]
    native_cmd = [native, prefix]
    native_ms, wine_cold_ms, wine_warm_ms = [], [], []
    for _ in range(runs):
        ms, out = timed(native_cmd, env)
        assert out.strip() == b"BENCH-1234-5678", out
        native_ms.append(ms)
        subprocess.run([WINESERVER, "-w"], env=env)  # cold: no wineserver left from before
        ms, out = timed(wine_query, env)
        assert b"BENCH-1234-5678" in out, out
        wine_cold_ms.append(ms)
    # The warm case: a persistent wineserver with Wine's services already started.
    subprocess.run([WINESERVER, "-w"], env=env)
    subprocess.run([WINESERVER, "-p"], env=env, **quiet)
    subprocess.run([WINE, "cmd", "/c", "exit", "0"], env=env, **quiet)
    for _ in range(runs):
        wine_warm_ms.append(timed(wine_query, env)[0])
    subprocess.run([WINESERVER, "-k"], env=env)

    native_rss = max(peak_rss_kib(native_cmd, env) for _ in range(5))
    # The floor: a static program that does nothing, measured the same way.
    empty = os.path.join(os.path.dirname(prefix), "empty-static")
    subprocess.run(["gcc", "-static", "-O2", "-x", "c", "-", "-o", empty],
                   input=b"int main(void){return 0;}", check=True)
    floor_rss = max(peak_rss_kib([empty], env) for _ in range(5))
    med = statistics.median
    print("prefix: %s (system.reg %d bytes = %d KiB), %d runs each, medians"
          % (prefix, system_reg, system_reg // 1024, runs))
    print("| Measure | native reader | wine reg query (cold) | wine reg query (warm) |")
    print("|---|---|---|---|")
    print("| recover (ms) | %.2f (%.2f-%.2f) | %.1f (%.1f-%.1f) | %.1f (%.1f-%.1f) |" % (
        med(native_ms), min(native_ms), max(native_ms), med(wine_cold_ms), min(wine_cold_ms),
        max(wine_cold_ms), med(wine_warm_ms), min(wine_warm_ms), max(wine_warm_ms)))
    print("| speed-up | - | %.0fx | %.0fx |" % (med(wine_cold_ms) / med(native_ms),
                                                 med(wine_warm_ms) / med(native_ms)))
    print("| native peak RSS (KiB) | %d | system.reg %d KiB | %.2f of the file |" % (
        native_rss, system_reg // 1024, native_rss / (system_reg / 1024)))
    print("| of which the process itself (KiB) | %d | (an empty static program) | |" % floor_rss)


if __name__ == "__main__":
    main()
