"""The verdict-only walk of a list of 10,000 records.

With the record-key table of the lookup tables in place, `is_valid` of a
list of records looks each declared key up with its interned name and
allocates nothing: the Python allocator must see no more during the call
than during a call of `len` (the cost of measuring).  The time per record
is reported alongside.  Run through `make bench`.
"""

import tracemalloc

import pyperf

from tessaron import Validator

SPEC = list[{"id": int, "name": str, "email": str, "score": float, "tags": list[str], "active": bool}]
DATA = [
    {"id": i, "name": f"n{i}", "email": f"n{i}@example.org", "score": i / 7, "tags": ["a", "b"], "active": i % 2 == 0}
    for i in range(10_000)
]


def allocated_during(call, value):
    """Peak bytes the Python allocator handed out during one call."""
    tracemalloc.reset_peak()
    before, _ = tracemalloc.get_traced_memory()
    call(value)
    _, peak = tracemalloc.get_traced_memory()
    return peak - before


def time_is_valid(loops, v, data):
    t0 = pyperf.perf_counter()
    for _ in range(loops):
        v.is_valid(data)
    return pyperf.perf_counter() - t0


validator = Validator(SPEC)
assert validator.is_valid(DATA)

runner = pyperf.Runner()
bench = runner.bench_time_func("is_valid, list of 10,000 records", time_is_valid, validator, DATA)

if not runner.args.worker:  # the parent process, after every worker ran
    tracemalloc.start()
    baseline = allocated_during(len, DATA)
    walk = allocated_during(validator.is_valid, DATA)
    tracemalloc.stop()
    verdict = "ok" if walk <= baseline else "ALLOCATES"
    print(f"is_valid (10,000 records): {walk - baseline} bytes beyond the measuring cost  [{verdict}, target 0]")
    if bench is not None:
        print(f"is_valid (10,000 records): {bench.median() / len(DATA) * 1e9:.1f} ns per record")
