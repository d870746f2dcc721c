"""Interleaved timing of several statements in one process.

Each statement is compiled into its own loop function (as `timeit` does: the
names it uses are locals of that function, so a lookup costs the same for
every library).  A case is timed in rounds: in each round every statement
runs one sample of `loops` calls, the statements taking turns in an order
that rotates from round to round, so that a drift of the machine (another
process, a frequency change) spreads over all of them instead of landing on
one.  A sample is the mean time per call over its loops; a statement's
number is the median of its samples, and its spread the interquartile range.

`loops` is calibrated per statement so that a sample lasts about `target`
seconds (at least one call).  The rounds of a case are cut down, to no fewer
than `min_rounds`, when one round would make the case outlast `budget`.
The garbage collector stays on, so the libraries that allocate pay for
collecting what they allocate, as they do in a program; but whatever is alive
when the rounds start (the inputs, the corpora, the harness) is frozen out of
its scans (`gc.freeze`), so that cost does not grow with the size of the
benchmark's own heap.
"""

import gc
import itertools
import statistics
import time
from dataclasses import dataclass


@dataclass
class Timing:
    median: float  # seconds per call
    q1: float
    q3: float
    samples: list
    loops: int

    @property
    def spread(self):
        """Interquartile range relative to the median."""
        return (self.q3 - self.q1) / self.median if self.median > 0 else 0.0


def loop_function(stmt, names):
    """A function `f(loops, *values)` running `stmt` `loops` times; returns seconds."""
    params = ", ".join(["_loops", "_timer", *names])
    body = "\n".join("        " + line for line in stmt.splitlines())
    src = (
        f"def _inner({params}):\n"
        f"    _it = _repeat(None, _loops)\n"
        f"    _t0 = _timer()\n"
        f"    for _ in _it:\n"
        f"{body}\n"
        f"    return _timer() - _t0\n"
    )
    scope = {"_repeat": itertools.repeat}
    exec(compile(src, f"<bench: {stmt.splitlines()[0]}>", "exec"), scope)
    return scope["_inner"]


class Timer:
    def __init__(self, stmt, ns, x):
        self.names = sorted(ns)
        self.values = [ns[n] for n in self.names]
        if "x" not in ns:
            self.names.append("x")
            self.values.append(x)
        self.fn = loop_function(stmt, self.names)

    def run(self, loops):
        return self.fn(loops, time.perf_counter, *self.values)

    def calibrate(self, target):
        """Loops per sample so that a sample lasts about `target` seconds."""
        self.run(1)  # warm-up: first-use caches, lookup tables
        loops = 1
        while True:
            t = self.run(loops)
            if t >= target / 10 or loops >= 10**7:
                break
            loops *= 10
        return max(1, min(10**7, round(loops * target / max(t, 1e-9))))


def time_interleaved(stmts, x, rounds, min_rounds, target, budget):
    """stmts: {key: (stmt, ns)}.  Returns {key: Timing}."""
    timers = {k: Timer(s, ns, x) for k, (s, ns) in stmts.items()}
    loops = {k: t.calibrate(target) for k, t in timers.items()}
    per_round = sum(timers[k].run(loops[k]) for k in timers)  # also a second warm-up
    if per_round * rounds > budget:
        rounds = max(min_rounds, int(budget / max(per_round, 1e-9)))
    keys = list(timers)
    samples = {k: [] for k in keys}
    gc.collect()
    gc.freeze()
    try:
        for r in range(rounds):
            shift = r % len(keys)
            for k in keys[shift:] + keys[:shift]:
                samples[k].append(timers[k].run(loops[k]) / loops[k])
    finally:
        gc.unfreeze()
    out = {}
    for k, vals in samples.items():
        q = statistics.quantiles(vals, n=4) if len(vals) >= 2 else [vals[0]] * 3
        out[k] = Timing(statistics.median(vals), q[0], q[2], vals, loops[k])
    return out
