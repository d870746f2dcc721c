"""The soundness sweep: many generated relation questions, every answer
checked against values.

Schemas come from the grammar of tests/soundness_grammar.py, by family
(general, mappings, containers, enumerations, enumerations derived from
builtin types, objects).  Each worker
generates schemas one at a time; a new schema is asked against a window of
recent schemas of its family in both directions, so that every schema
serves several questions and its candidate values are computed once.

For the question "A within B" (`A.relation_to(B)`):

* "subset" is unsound when a candidate member of A is not a member of B;
* "not_subset" needs a witness: a candidate member of A outside B (first
  among the values of both schemas' grammars, then among the deeper
  candidates the property tests use); none found fails the sweep too,
  since the refutation may be unsound;
* and once per schema, `is_empty()` True is unsound when a candidate is a
  member.

The report gives the decided fraction, the questions answered by each route
(structural, descriptor; `_tessaron._route_counts()`), the time per
decision, and the decided fraction of each family.  The sweep fails on any
unsound answer, never on a fraction.

Run: ``python tests/sweep.py --pairs 1000000`` (`make sweep`); the suite runs
it with TESSARON_SWEEP_PAIRS pairs under the default interpreter
(tests/test_decision_soundness.py).
"""

import argparse
import collections
import multiprocessing
import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import _tessaron  # noqa: E402

import soundness_grammar as g  # noqa: E402

# Of the questions, the share of each family.
FAMILY_WEIGHTS = {"general": 3, "mapping": 3, "container": 3, "enum": 1, "builtin_enum": 1, "object": 1}
# A new schema is asked against this many schemas of its family, in both
# directions; the window keeps the most recent ones.
PARTNERS = 8
WINDOW = 48
# Failures kept in a report (all are counted).
KEEP_FAILURES = 60


class Entry:
    """A compiled schema with its candidate values and the members among
    them."""

    __slots__ = ("schema", "validator", "values", "members")

    def __init__(self, schema, validator):
        self.schema = schema
        self.validator = validator
        self.values = g.candidates_of(schema)
        is_valid = validator.is_valid
        self.members = [v for v in self.values if is_valid(v)]


def new_stats():
    return {
        "pairs": 0, "answers": collections.Counter(), "routes": collections.Counter(),
        "route_ns": collections.Counter(), "ns": 0, "max_ns": 0, "families": collections.defaultdict(collections.Counter),
        "schemas": 0, "refused": 0, "failures": [], "failure_count": 0, "failure_kinds": collections.Counter(),
        "deep_witness": 0, "log": None,
    }


def fail(stats, kind, *details):
    stats["failure_count"] += 1
    stats["failure_kinds"][kind] += 1
    if len(stats["failures"]) < KEEP_FAILURES:
        stats["failures"].append((kind,) + tuple(repr(d)[:600] for d in details))


def route_of(before, after):
    for name, b, a in zip(("structural", "descriptor", "undecided"), before, after):
        if a != b:
            return name
    return "none"


def find_witness(a, b):
    """A member of A outside B among the values of both grammars."""
    vb = b.validator.is_valid
    for v in a.members:
        if not vb(v):
            return True
    va = a.validator.is_valid
    for v in b.values:
        if va(v) and not vb(v):
            return True
    return False


def merged_witness(a, b, n=64):
    """A member of A outside B among the dicts that merge a member of A
    with a value of B's grammar (a key only B names, added to a dict of A,
    or to a dict that a dict of A holds)."""
    va, vb = a.validator.is_valid, b.validator.is_valid
    left = [m for m in a.members if isinstance(m, dict)][:n]
    right = [w for w in b.values if isinstance(w, dict)][:n]
    if any(va(d) and not vb(d) for m in left for w in right for d in ({**m, **w}, {**w, **m})):
        return True
    # The values of a member of A under the keys B names, and B's values
    # under A's keys.
    keys = list({k: None for w in right for k in w})[:n]
    if any(va(d) and not vb(d) for m in left for v in list(m.values())[:2] for k in keys
           for d in ({**m, k: v}, {k: v})):
        return True
    values = [v for w in right for v in w.values()][:n]
    if any(va(d) and not vb(d) for m in left for v in values for k in list(m)[:2] for d in ({**m, k: v},)):
        return True
    # One level down: a dict value of a member of A given the keys of a
    # dict from a part of B (a key only B's inner schema names, with a value
    # outside it).
    inner = [w for p in g.parts(b.schema) for w in g.values_of(p, 1) if isinstance(w, dict)][:n]
    return any(va(d) and not vb(d) for m in left for k in list(m)[:2] if isinstance(m[k], dict)
               for w in inner for d in ({**m, k: {**m[k], **w}},))


def lifted(value, depth=4):
    """The value with its lists and tuples made instances of subclasses
    (HList, HTuple), at every level: what a schema naming those classes or
    holding them as items admits."""
    if depth == 0:
        return value
    if type(value) is list:
        return g.HList(lifted(v, depth - 1) for v in value)
    if type(value) is tuple:
        return g.HTuple(lifted(v, depth - 1) for v in value)
    if type(value) is dict:
        return {k: lifted(v, depth - 1) for k, v in value.items()}
    return value


def lifted_witness(a, b):
    """A member of A outside B among the values of both grammars lifted to
    list and tuple subclasses."""
    va, vb = a.validator.is_valid, b.validator.is_valid
    for v in a.members + b.values:
        if isinstance(v, (list, tuple, dict)):
            w = lifted(v)
            if va(w) and not vb(w):
                return True
    return False


def deep_witness(a, b):
    """The property tests' candidates for the pair: complements draw on the
    values of every part of either schema."""
    va, vb = a.validator.is_valid, b.validator.is_valid
    return any(va(v) and not vb(v) for v in g.candidates_of(a.schema, b.schema))


def lifts(value):
    """The value and its forms as instances of the grammar's subclasses:
    lists and tuples at every level, a pair of items as the named tuple,
    an int or a str at the top."""
    out = [value, lifted(value)]
    if type(value) is int:
        # The int as instances of classes that make one of any value.
        out += [g.MyInt(value), g.Loose(value), g.Perm(value)]
    elif type(value) is str:
        out.append(g.MyStr(value))
    elif type(value) is tuple and len(value) == 2:
        out.append(g.Pair(*value))
    return out


def built_candidates(a, b, n=64):
    """Values built from the values of every part of both schemas (and of
    the pool): each such value, and a set of one; a member of A with one
    item replaced by one, one added or all made one;
    a dict (of A's members or of the parts, or two of them merged) with
    one value replaced or one key added; and a dict of A's members whose
    dict value gets one such key.  What a refutation reaches deep inside
    containers, complements and meets of mappings."""
    parts = [p for s in (a.schema, b.schema) for p in g.parts(s)]
    # Each part's values, its members first.
    values = [g.part_values(p, 2, ())[:n] for p in parts] + [g.POOL[:n]]
    pieces = g.capped(g.interleave(values), 12 * n)
    yield from pieces
    # Sets of one of them, as a set element can be.
    for v in pieces[:2 * n]:
        for h in g.hashable([v, lifted(v)]):
            yield {h}
            yield frozenset({h})
    # The items of a member of A, rebuilt as a tuple (its subclass forms come
    # from `lifts`) or as a list of the member's own class.
    def rebuilt(m, items):
        return tuple(items) if isinstance(m, tuple) else type(m)(items)

    for m in [m for m in a.members if isinstance(m, (list, tuple))][:16]:
        for v in pieces[:2 * n]:
            for i in range(min(len(m), 3)):
                yield rebuilt(m, [*m[:i], v, *m[i + 1:]])
            yield rebuilt(m, [*m, v])
            yield rebuilt(m, [v] * len(m))
    mine = [d for d in a.members if isinstance(d, dict)][:16]
    dicts = mine + g.interleave([[d for d in vs if isinstance(d, dict)][:6] for vs in values])[:24]
    keys = list({k: None for d in dicts for k in d})[:12]
    for d in dicts + [{**d, **e} for d in dicts for e in dicts if d is not e]:
        for k in keys:
            for v in pieces[:n]:
                yield {**d, k: v}
    for d in mine:
        for k in [k for k in d if isinstance(d[k], dict)][:2]:
            for key in keys:
                for v in pieces[:n]:
                    yield {**d, k: {**d[k], key: v}}


def part_witness(a, b):
    """A member of A outside B among the values built from the parts of
    both schemas, and their subclass forms."""
    va, vb = a.validator.is_valid, b.validator.is_valid
    for c in built_candidates(a, b):
        for v in lifts(c):
            try:
                if va(v) and not vb(v):
                    return True
            except TypeError:
                pass
    return False


def work_counters():
    """The thread's work counters: decision work and pattern builds."""
    return _tessaron._decision_work() + _tessaron._pattern_builds()


def log(stats, what, before):
    """A line of the answer log (when kept): the answer and the work
    counters it moved."""
    if stats["log"] is not None:
        moved = " ".join(str(a - b) for a, b in zip(work_counters(), before))
        stats["log"].append(f"{what} {moved}")


def ask(stats, family, a, b):
    counts = _tessaron._route_counts
    before = counts()
    work_before = work_counters() if stats["log"] is not None else None
    start = time.perf_counter_ns()
    answer = a.validator.relation_to(b.validator)
    ns = time.perf_counter_ns() - start
    route = route_of(before, counts())
    log(stats, f"{family} {answer} {route}", work_before)
    stats["pairs"] += 1
    stats["answers"][answer] += 1
    stats["routes"][route] += 1
    stats["route_ns"][route] += ns
    stats["ns"] += ns
    stats["max_ns"] = max(stats["max_ns"], ns)
    stats["families"][family][answer] += 1
    if answer == "subset":
        vb = b.validator.is_valid
        outside = [v for v in a.members if not vb(v)]
        if not outside:
            va = a.validator.is_valid
            outside = [v for v in b.values if va(v) and not vb(v)]
        if outside:
            fail(stats, "subset with a member of the left side outside the right", a.validator, b.validator,
                 outside[:3], a.schema, b.schema)
    elif answer == "not_subset":
        if not find_witness(a, b):
            if merged_witness(a, b) or lifted_witness(a, b) or deep_witness(a, b) or part_witness(a, b):
                stats["deep_witness"] += 1
            else:
                fail(stats, "not_subset without a witness", a.validator, b.validator, a.schema, b.schema)


def make_entry(stats, schema):
    v = g.compile_spec(schema)
    if v is None:
        stats["refused"] += 1
        return None
    e = Entry(schema, v)
    stats["schemas"] += 1
    work_before = work_counters() if stats["log"] is not None else None
    empty = v.is_empty()
    log(stats, f"is_empty {empty}", work_before)
    if empty and e.members:
        fail(stats, "is_empty with a member", v, e.members[:3])
    return e


def work(args):
    """The statistics of `pairs` questions from `seed`: args is (seed, pairs)
    or (seed, pairs, keep_log)."""
    seed, pairs, keep_log = (*args, False)[:3]
    rng = random.Random(seed)
    stats = new_stats()
    if keep_log:
        stats["log"] = []
    windows = {f: [] for f in FAMILY_WEIGHTS}
    families, weights = zip(*FAMILY_WEIGHTS.items())
    while stats["pairs"] < pairs:
        family = rng.choices(families, weights)[0]
        e = make_entry(stats, g.FAMILIES[family](rng))
        if e is None:
            continue
        window = windows[family]
        for other in rng.sample(window, min(PARTNERS, len(window))):
            ask(stats, family, e, other)
            ask(stats, family, other, e)
        ask(stats, family, e, e)
        window.append(e)
        if len(window) > WINDOW:
            window.pop(rng.randrange(len(window)))
    return stats


def merge(parts):
    total = new_stats()
    for s in parts:
        for k in ("pairs", "ns", "schemas", "refused", "failure_count", "deep_witness"):
            total[k] += s[k]
        for k in ("answers", "routes", "route_ns", "failure_kinds"):
            total[k].update(s[k])
        for f, c in s["families"].items():
            total["families"][f].update(c)
        total["max_ns"] = max(total["max_ns"], s["max_ns"])
        total["failures"].extend(s["failures"][: KEEP_FAILURES - len(total["failures"])])
        if s["log"] is not None:
            total["log"] = (total["log"] or []) + s["log"]
    return total


# The questions are split into this many shards, each generated from a seed
# of its own, whatever the number of processes: a seed asks the same
# questions on every machine.
SHARDS = 8


def run(pairs, seed=0, jobs=None, keep_log=False):
    """Runs the sweep over about `pairs` questions in `jobs` processes (one
    per core, at most SHARDS, by default); the merged statistics.  With
    `keep_log`, the statistics hold the log of every answer in shard order,
    each shard in a fresh process, so that the work counters it logs do not
    depend on what an earlier shard left in the thread's memos."""
    jobs = jobs or min(os.cpu_count() or 1, SHARDS)
    shares = [pairs // SHARDS + (1 if i < pairs % SHARDS else 0) for i in range(SHARDS)]
    tasks = [(seed * 1000 + i, n, keep_log) for i, n in enumerate(shares) if n]
    if (jobs == 1 or len(tasks) == 1) and not keep_log:
        return merge([work(t) for t in tasks])
    context = multiprocessing.get_context("fork")
    with context.Pool(min(jobs, len(tasks)), maxtasksperchild=1 if keep_log else None) as pool:
        return merge(pool.map(work, tasks))


def report(stats, seconds=None):
    """The lines of a report."""
    n = stats["pairs"] or 1
    a, r, rn = stats["answers"], stats["routes"], stats["route_ns"]
    decided = a["subset"] + a["not_subset"]
    lines = [
        f"soundness sweep: {stats['pairs']} questions over {stats['schemas']} schemas "
        f"({stats['refused']} refused by the builder); decided {decided} ({decided / n:.1%}: "
        f"{a['subset']} subset, {a['not_subset']} not_subset, {a['undecided']} undecided)",
    ]
    for route in ("structural", "descriptor", "undecided"):
        k = r[route]
        mean = rn[route] / k / 1000 if k else 0.0
        lines.append(f"  {route:<10} {k:>9} questions ({k / n:6.1%}), {mean:9.1f} us per decision")
    lines.append(f"  all        {stats['pairs']:>9} questions, {stats['ns'] / n / 1000:9.1f} us per decision "
                 f"(longest {stats['max_ns'] / 1e6:.1f} ms)")
    for f in sorted(stats["families"]):
        c = stats["families"][f]
        k = sum(c.values()) or 1
        lines.append(f"  family {f:<10} {sum(c.values()):>8} questions, decided {(c['subset'] + c['not_subset']) / k:.1%}")
    if stats["deep_witness"]:
        lines.append(f"  refutations witnessed only by the deeper candidates: {stats['deep_witness']}")
    if seconds is not None:
        lines.append(f"  wall time {seconds:.1f} s")
    lines.append(f"  unsound or unwitnessed answers: {stats['failure_count']}")
    for kind, k in sorted(stats["failure_kinds"].items()):
        lines.append(f"    {kind}: {k}")
    for f in stats["failures"]:
        lines.append("    " + " | ".join(f))
    return lines


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--pairs", type=int, default=100000)
    p.add_argument("--seed", type=int, default=0)
    p.add_argument("--jobs", type=int, default=None)
    p.add_argument("--answers", metavar="FILE", default=None,
                   help="write every answer (is_empty of each schema, each question's answer and route) with the "
                   "work counters it moved, one a line, to FILE: two builds that answer alike write the same file")
    args = p.parse_args(argv)
    start = time.monotonic()
    stats = run(args.pairs, args.seed, args.jobs, keep_log=args.answers is not None)
    print("\n".join(report(stats, time.monotonic() - start)))
    if args.answers is not None:
        with open(args.answers, "w", encoding="utf-8") as f:
            f.writelines(line + "\n" for line in stats["log"])
    return 1 if stats["failure_count"] else 0


if __name__ == "__main__":
    sys.exit(main())
