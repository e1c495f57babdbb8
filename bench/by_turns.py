#!/usr/bin/env python3
"""Runs builds of keldrun by turns, one run of each at a time, and prints each one's median wall
time. This machine's speed changes for seconds at a time: timed in blocks (perf stat -r N of one
build, then of the other), the same binary came out 1-2 ms apart on a 17 ms command.

usage: bench/by_turns.py RUNS FOLDER KELDRUN... [-- ARGUMENTS]
  Runs each KELDRUN with ARGUMENTS (default: compare a.snp b.snp) in FOLDER, RUNS times, the
  order reversed every other round; output goes to /dev/null.
  Example: bench/by_turns.py 150 /tmp/keldrun_compare_bench/real old/keldrun build/native/keldrun
"""
import os
import statistics
import sys
import time


def main():
    args = sys.argv[1:]
    extra = ["compare", "a.snp", "b.snp"]
    if "--" in args:
        extra = args[args.index("--") + 1:]
        args = args[:args.index("--")]
    if len(args) < 3:
        sys.exit(__doc__)
    runs, folder, programs = int(args[0]), args[1], [os.path.abspath(p) for p in args[2:]]
    os.chdir(folder)
    null = os.open(os.devnull, os.O_WRONLY)
    actions = [(os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2)]
    times = {p: [] for p in programs}
    for r in range(runs):
        for p in programs if r % 2 == 0 else programs[::-1]:
            start = time.perf_counter()
            pid = os.posix_spawn(p, [p] + extra, os.environ, file_actions=actions)
            os.waitpid(pid, 0)
            times[p].append((time.perf_counter() - start) * 1000)
    for p in programs:
        t = sorted(times[p])
        print("%s: median %.2f ms (quartiles %.2f-%.2f) of %d runs"
              % (p, statistics.median(t), t[len(t) // 4], t[3 * len(t) // 4], runs))


if __name__ == "__main__":
    main()
