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


CASES = [(name, compiled(spec), value) for name, spec, value in [("literal 1", 1, 1), ("int", int, 1)]]

runner = pyperf.Runner()
baseline = runner.timeit("isinstance(1, int)", stmt="isinstance(1, int)")
results = {}
for name, validator, value in CASES:
    if validator is None:
        continue
    bench = runner.timeit(
        f"is_valid, schema {name}", stmt="v.is_valid(x)", globals={"v": validator, "x": value}
    )
    if bench is not None:
        results[name] = bench

if baseline is not None:
    base = baseline.mean()
    for name, bench in results.items():
        ratio = bench.mean() / base
        verdict = "ok" if ratio <= 1.3 else "SLOW"
        print(f"is_valid ({name}) / isinstance: {ratio:.2f}x  [{verdict}, target <= 1.3x]")
