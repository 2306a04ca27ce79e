#!/usr/bin/env python3
"""Times commands: `median-time.py RUNS COMMAND... [-- COMMAND...]...`.
Runs the commands in turn, RUNS rounds, so that a change in the machine's load falls
on all of them alike, and prints for each one line: the median wall-clock time and
the median CPU time (user + system) of one run in milliseconds, tab-separated.
Output of the commands is discarded; a failing run is an error."""
import os
import statistics
import subprocess
import sys
import time


def split_commands(words):
    commands, current = [], []
    for word in words:
        if word == "--":
            commands.append(current)
            current = []
        else:
            current.append(word)
    commands.append(current)
    return commands


def main():
    runs = int(sys.argv[1])
    commands = split_commands(sys.argv[2:])
    wall = [[] for _ in commands]
    cpu = [[] for _ in commands]
    for _ in range(runs):
        for index, command in enumerate(commands):
            start = time.perf_counter()
            child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(child.pid, 0)
            wall[index].append(time.perf_counter() - start)
            cpu[index].append(usage.ru_utime + usage.ru_stime)
            if status != 0:
                sys.exit("failed: " + " ".join(command))
    for index in range(len(commands)):
        print("%.3f\t%.3f" % (statistics.median(wall[index]) * 1000, statistics.median(cpu[index]) * 1000))


main()
