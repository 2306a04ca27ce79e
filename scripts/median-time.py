#!/usr/bin/env python3
"""Times commands: `median-time.py RUNS COMMAND... [-- COMMAND...]...`.
Runs the commands in turn, RUNS rounds, so that a change in the machine's load falls
on all of them alike, and prints for each one line: the median wall-clock time and
the median CPU time (user + system) of one run in milliseconds, tab-separated.
Leading NAME=VALUE words of a command set its environment, as a shell would, without
timing a second program such as env(1). Output of the commands is discarded; a failing
run is an error."""
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


def split_environment(command):
    environment = dict(os.environ)
    while command and "=" in command[0] and not command[0].startswith(("/", ".")):
        name, value = command[0].split("=", 1)
        environment[name] = value
        command = command[1:]
    return command, environment


def main():
    runs = int(sys.argv[1])
    commands = [split_environment(command) for command in split_commands(sys.argv[2:])]
    wall = [[] for _ in commands]
    cpu = [[] for _ in commands]
    for _ in range(runs):
        for index, (command, environment) in enumerate(commands):
            start = time.perf_counter()
            child = subprocess.Popen(command, env=environment, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(child.pid, 0)
            wall[index].append(time.perf_counter() - start)
            cpu[index].append(usage.ru_utime + usage.ru_stime)
            if status != 0:
                sys.exit("failed: " + " ".join(command))
    for index in range(len(commands)):
        print("%.3f\t%.3f" % (statistics.median(wall[index]) * 1000, statistics.median(cpu[index]) * 1000))


main()
