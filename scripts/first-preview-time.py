#!/usr/bin/env python3
"""Times starts of the desktop program: `first-preview-time.py RUNS PROGRAM IMAGE`.
Runs PROGRAM IMAGE with QB_EXIT_WHEN_PREVIEWED=1, RUNS times, and prints tab-separated
medians in milliseconds: from just before the process is started to the moment it says
its window shows the listed disk with the first file previewed and painted, and the
fastest of those; the whole process until it has ended; and the CPU time (user + system)
of the whole process. On a machine shared with other work the fastest run is the one
least held up by it."""
import os
import resource
import statistics
import subprocess
import sys
import time


def one_run(program, image):
    environment = dict(os.environ, QB_EXIT_WHEN_PREVIEWED="1")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.time_ns()
    done = subprocess.run([program, image], env=environment, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, check=True, text=True)
    ended = time.time_ns()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    words = done.stdout.split()
    if len(words) < 2 or words[0] != "previewed":
        raise SystemExit(f"{program} did not say when it had previewed {image}")
    previewed = int(words[1])
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return (previewed - start) / 1e6, (ended - start) / 1e6, cpu * 1e3


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    runs, program, image = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    results = [one_run(program, image) for _ in range(runs)]
    columns = list(zip(*results))
    figures = [statistics.median(columns[0]), min(columns[0])] + [statistics.median(c) for c in columns[1:]]
    print("\t".join(f"{value:.1f}" for value in figures))


if __name__ == "__main__":
    main()
