#!/usr/bin/env python3
"""The whole `orvalis build` of one collection with each help compiler, side by
side in one run (alternating, so machine load hits both alike): median wall
time of the whole build and of its compile phase (from the end of the pages, "Sorting: 100%",
line to the end), peak memory, catalogue size, and the ratios.

    bench/compare_engines.py MUSIC [--runs 3] [--engines native,chmcmd] [--exe build/orvalis]
        [--extra "--no-search"]
"""
import argparse, os, shutil, statistics, subprocess, sys, tempfile, time

p = argparse.ArgumentParser()
p.add_argument("music")
p.add_argument("--runs", type=int, default=3)
p.add_argument("--engines", default="native,chmcmd")
p.add_argument("--exe", default=os.path.join(os.path.dirname(__file__), "..", "build", "orvalis"))
p.add_argument("--extra", default="", help="more words for every build")
a = p.parse_args()

work = tempfile.mkdtemp(prefix="orvalis-bench-")
env = dict(os.environ, XDG_RUNTIME_DIR=work, XDG_CONFIG_HOME=work + "/config", HOME=work, LC_ALL="C.UTF-8")


def build(engine, out):
    args = [a.exe, "build", "--force", "--compiler", engine, "--out", out] + a.extra.split() + [a.music]
    start = time.monotonic()
    compiling = None
    proc = subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in proc.stderr:
        if compiling is None and line.startswith("Sorting: 100%"):
            compiling = time.monotonic()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"{engine}: the build failed")
    end = time.monotonic()
    peak = usage.ru_maxrss  # KB, this build alone
    return end - start, end - (compiling or end), peak, os.path.getsize(out)


try:
    engines = a.engines.split(",")
    build(engines[0], work + "/warm.chm")  # warm the page cache
    results = {e: [] for e in engines}
    for _ in range(a.runs):
        for e in engines:
            results[e].append(build(e, f"{work}/{e}.chm"))
    print(f"{'engine':8} {'build (s)':>10} {'compile (s)':>12} {'peak (MB)':>10} {'size (KB)':>10}")
    med = {}
    for e, rs in results.items():
        med[e] = [statistics.median(r[i] for r in rs) for i in range(4)]
        t, c, m, s = med[e]
        print(f"{e:8} {t:10.2f} {c:12.2f} {m / 1024:10.1f} {s / 1024:10.0f}")
    if len(engines) == 2:
        x, y = engines
        print(f"{x} against {y}: build {med[y][0] / med[x][0]:.1f}x faster, compile {med[y][1] / med[x][1]:.1f}x "
              f"faster, file {med[x][3] / med[y][3]:.2f}x the size")
finally:
    shutil.rmtree(work, ignore_errors=True)
