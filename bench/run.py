#!/usr/bin/env python3
"""Times `mirandel --info` on large synthetic objects beside a plain read of the same file.

Every bench/make_<fmt>.py N OUTDIR writes objects of about N triangles into OUTDIR and prints
their file names, one per line. For each file this prints the plain read time (cat), the first
load (which may write side files), the best of the following loads, the ratio of the best load to
the plain read, and the peak memory of the loading process. A benchmark: it fails on nothing.
"""
import glob
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def timed(cmd, env=None):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return elapsed, proc, after.ru_maxrss if after.ru_maxrss > before.ru_maxrss else None


def main():
    binary = os.environ.get("MIRANDEL", os.path.join(ROOT, "build", "mirandel"))
    sizes = [int(s) for s in (sys.argv[1:] or ["100000", "1000000"])]
    repeats = int(os.environ.get("BENCH_REPEATS", "3"))
    if not os.path.exists(binary):
        print(f"no {binary}: build first (cmake -S . -B build -DCMAKE_BUILD_TYPE=Release)")
        return 0
    makers = sorted(glob.glob(os.path.join(HERE, "make_*.py")))
    print(f"{'file':<28}{'tris':>9}{'MB':>8}{'cat s':>9}{'first s':>9}{'best s':>9}"
          f"{'ratio':>8}{'peak MB':>9}  counts")
    for n in sizes:
        for maker in makers:
            with tempfile.TemporaryDirectory(prefix="mirandel-bench-") as work:
                made = subprocess.run([sys.executable, maker, str(n), work],
                                      stdout=subprocess.PIPE, text=True)
                if made.returncode != 0:
                    print(f"{os.path.basename(maker)}: generator failed")
                    continue
                for name in made.stdout.split():
                    path = os.path.join(work, name)
                    size_mb = os.path.getsize(path) / 1e6
                    env = dict(os.environ, OBJ_PATH=work, ASAN_OPTIONS="detect_leaks=0")
                    cat = min(timed(["cat", path])[0] for _ in range(repeats))
                    first, proc, _ = timed([binary, "--info", "-in", name], env)
                    best, peak = first, 0
                    for _ in range(repeats):
                        t, proc, _ = timed([binary, "--info", "-in", name], env)
                        best = min(best, t)
                    # Peak memory of one more load, alone.
                    peak = subprocess.run(
                        [sys.executable, "-c",
                         "import resource,subprocess,sys;"
                         "subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,"
                         "stderr=subprocess.DEVNULL);"
                         "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
                         binary, "--info", "-in", name],
                        env=env, stdout=subprocess.PIPE, text=True).stdout.strip()
                    counts = " ".join(proc.stdout.decode(errors="replace").split("\n")[1:3])
                    if proc.returncode != 0:
                        counts = "FAILED: " + proc.stderr.decode(errors="replace").strip()[:60]
                    print(f"{name:<28}{n:>9}{size_mb:>8.1f}{cat:>9.3f}{first:>9.3f}{best:>9.3f}"
                          f"{best / cat if cat > 0 else 0:>8.1f}{int(peak or 0) / 1024:>9.1f}"
                          f"  {counts}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
