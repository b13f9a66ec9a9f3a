"""Timing of whole commands for the scripted benchmarks."""

import subprocess
import time


def best_of(command, env, runs, before=None):
    """The shortest of `runs` runs of a command, in seconds; `before` is called ahead of each."""
    best = None
    for _ in range(runs):
        if before:
            before()
        start = time.perf_counter()
        subprocess.run(command, check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    return best
