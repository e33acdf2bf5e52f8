#!/usr/bin/env python3
"""Start-up of pintool: the time from process start to the main window shown, and the peak
resident memory, on the offscreen platform. Usage: startup.py PROBE [RUNS]"""

import os
import resource
import statistics
import subprocess
import sys
import time

probe = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
times, rss = [], []
for _ in range(runs):
    start = time.perf_counter()
    child = subprocess.Popen([probe], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             env=env, text=True)
    line = child.stdout.readline()
    times.append((time.perf_counter() - start) * 1000)
    child.wait()
    if not line.startswith("shown") or child.returncode != 0:
        sys.exit(f"probe failed: {line!r}, status {child.returncode}")
    rss.append(int(line.split()[1]))
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"start-up to main window: median {statistics.median(times):.1f} ms, "
      f"max {max(times):.1f} ms over {runs} runs")
print(f"resident when shown: {max(rss) / 1024:.1f} MiB; peak of any run: {peak / 1024:.1f} MiB")
