"""Per-call overhead of the verdict-only entry.

`is_valid` of a scalar schema should cost within 1.3x of a plain
`isinstance(1, int)` call: reading the argument, checking the lookup tables
and walking one node must stay that cheap.  Run through `make bench`.
"""

import pyperf

from tessaron import Validator


def compiled(spec):
    try:
        return Validator(spec)
    except NotImplementedError:  # a form not built yet
        return None


def time_isinstance(loops):
    t0 = pyperf.perf_counter()
    for _ in range(loops):
        isinstance(1, int)
    return pyperf.perf_counter() - t0


def time_is_valid(loops, v, x):
    t0 = pyperf.perf_counter()
    for _ in range(loops):
        v.is_valid(x)
    return pyperf.perf_counter() - t0


CASES = [("literal 1", compiled(1), 1), ("int", compiled(int), 1), ("int, a bool", compiled(int), True)]

runner = pyperf.Runner()
baseline = runner.bench_time_func("isinstance(1, int)", time_isinstance)
results = {}
for name, validator, value in CASES:
    if validator is not None:
        results[name] = runner.bench_time_func(f"is_valid, schema {name}", time_is_valid, validator, value)

if not runner.args.worker:  # the parent process, after every worker ran
    base = baseline.median()
    for name, bench in results.items():
        ratio = bench.median() / base
        verdict = "ok" if ratio <= 1.3 else "SLOW"
        print(f"is_valid ({name}) / isinstance, medians: {ratio:.2f}x  [{verdict}, target <= 1.3x]")
