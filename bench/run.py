"""tessaron against the validators people use today: `make bench`.

    python bench/run.py [--smoke] [--out DIR] [--only SUBSTRING] [--json-figures]

For every case: build each library's validator for the case's schema, check
each on the family's verdict corpus (a library that disagrees with us on any
corpus value is reported and not timed for that case), probe the edge values
(reported only), then time all of them interleaved in this one process
(timing.py) and keep medians.  Import times and peak memory come from fresh
interpreters.  Writes DIR/latest.json (raw numbers), DIR/latest.md (the
tables) and DIR/latest.png (the chart); DIR defaults to bench/results.

--smoke: small inputs, three rounds of short samples, one process per
import and memory sample: checks that the harness still works, in well under
a minute; its numbers mean nothing.  Exit status 1 when one of our own
verdicts contradicts a corpus label (the numbers would not compare like with
like) or when a case could not be run at all.

--json-figures: only time the single-threaded JSON calls that the report
compares with an older build's figures (`json_single_thread`) and print
their medians as JSON; run with that build's interpreter to record them.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time
from importlib import metadata as importlib_metadata
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import cases  # noqa: E402
import json_scale  # noqa: E402
import peers  # noqa: E402
import report  # noqa: E402
from timing import time_interleaved  # noqa: E402

FULL = {
    "sizes": {"list_int": 1_000_000, "records": 10_000, "tree": 1_000, "items": 10_000, "orders": 1_000},
    "list_sizes": [1, 4, 16, 64, 256, 1024, 4096, 16384, 65536, 262144, 1048576],
    "key_counts": [10_000, 40_000],
    "rounds": 15, "min_rounds": 5, "target": 0.02, "budget": 25.0,
    "import_rounds": 15, "memory_reps": 3, "quiet_wait": 900.0,
}
SMOKE = {
    "sizes": {"list_int": 10_000, "records": 200, "tree": 100, "items": 500, "orders": 200},
    "list_sizes": [1, 16, 256, 4096],
    "key_counts": [1_000, 4_000],
    "rounds": 3, "min_rounds": 2, "target": 0.001, "budget": 0.5,
    "import_rounds": 1, "memory_reps": 1, "quiet_wait": 0.0,
}


def case_titles(sizes):
    n = {k: f"{v:,}" for k, v in sizes.items()}
    return {
        "int": "int, one value",
        "int_bad": "int given a str",
        "list_int": f"list[int], {n['list_int']} items",
        "record": "record of ten fields",
        "records": f"list of {n['records']} records",
        "records_bad": f"list of {n['records']} records, 1% bad",
        "tree": f"recursive tree of {n['tree']} nodes",
        "literal": "union of 12 literals, one value",
        "literals": f"list of {n['items']} literals (union of 12)",
        "emails": f"{n['items']} strings under a pattern",
        "orders": f"{n['orders']} nested orders",
        "orders_bad": f"{n['orders']} nested orders, 1% bad",
        **{f"lit{k}": f"list of {n['items']} str, union of {k} literals" for k in cases.LITERAL_SIZES},
    }


def compile_titles():
    return {f"lit{k}": f"union of {k} str literals" for k in cases.LITERAL_SIZES}


# (table key, title, channel, [(family, mode)])
TABLES = [
    ("objects", "Python objects, valid input", "objects",
     [("int", "valid"), ("list_int", "valid"), ("record", "valid"), ("records", "valid"), ("tree", "valid"),
      ("orders", "valid"), ("literal", "valid"), ("literals", "valid"), ("emails", "valid")]),
    ("invalid", "Python objects, invalid input", "objects",
     [("int_bad", "first"), ("int_bad", "all"), ("records_bad", "first"), ("records_bad", "all"),
      ("orders_bad", "first"), ("orders_bad", "all")]),
    ("literal_unions", "Literal unions, valid input", "objects",
     [(f"lit{k}", "valid") for k in cases.LITERAL_SIZES]),
    ("json", "JSON text, valid input", "json",
     [("int", "valid"), ("list_int", "valid"), ("record", "valid"), ("records", "valid"), ("tree", "valid"),
      ("orders", "valid"), ("literals", "valid"), ("emails", "valid")]),
    ("json_invalid", "JSON text, invalid input", "json", [("records_bad", "first"), ("orders_bad", "first")]),
    ("compile", "Schema compile", "compile",
     [("int", ""), ("record", ""), ("records", ""), ("tree", ""), ("orders", ""), ("literal", ""), ("emails", "")]),
    ("compile_literal", "Compiling a union of literals", "compile_literal",
     [(f"lit{k}", "") for k in cases.LITERAL_SIZES]),
]
MODE_TEXT = {"valid": "", "first": ", first failure", "all": ", all failures", "": ""}
MEMORY_CASES = [("objects", "list_int"), ("objects", "records"), ("objects", "orders"), ("json", "records")]


def log(*a):
    print(*a, flush=True)


class Quiet:
    """Waits, before each case, for the machine to be quiet enough.

    Other processes on the machine spread the samples and shift the medians.
    Before a case starts, while the one-minute load average is above half
    the CPUs, wait (polling) for at most 60 s per case and `budget` seconds
    in all; the load at the start of each case is recorded either way, and
    the report marks the cases that started on a busy machine."""

    def __init__(self, budget):
        self.left = budget
        self.limit = (os.cpu_count() or 1) / 2

    def wait(self):
        waited = 0.0
        while self.left > 0 and waited < 60 and os.getloadavg()[0] > self.limit:
            time.sleep(5)
            waited += 5
            self.left -= 5
        return round(os.getloadavg()[0], 2)


# --- verdicts ----------------------------------------------------------------


def verdicts(fn, corpus):
    out = []
    for desc, value, _ in corpus:
        try:
            out.append(bool(fn(value)))
        except Exception as e:  # a peer raising something else than its failure
            out.append(f"raised {type(e).__name__}")
    return out


def show(v):
    return {True: "member", False: "not a member"}.get(v, v)


def check_case(slots, corpus, edges):
    """Marks disagreeing slots; returns (label mismatches of ours, edge table)."""
    ours = next((s for s in slots if s.role == "ours" and s.entry and s.entry.verdict), None)
    labels = [ok for _, _, ok in corpus]
    reference = labels
    mismatches = []
    if ours is not None:
        reference = verdicts(ours.entry.verdict, corpus)
        mismatches = [f"{d}: ours says {show(g)}, the label says {show(ok)}"
                      for (d, _, ok), g in zip(corpus, reference) if g != ok]
        if mismatches:
            reference = labels  # hold the peers to the labels, not to a wrong answer
    edge_table = {}
    for s in slots:
        if s.entry is None or s.entry.verdict is None:
            continue
        if s is not ours:
            got = verdicts(s.entry.verdict, corpus)
            bad = [f"{d}: {show(g)}, ours {show(r)}" for (d, _, _), g, r in zip(corpus, got, reference) if g != r]
            if bad:
                s.status, s.reason = "disagrees", "; ".join(bad[:3]) + (f"; +{len(bad) - 3} more" if len(bad) > 3 else "")
                if s.role == "ours-extra":  # two of our own calls answering differently
                    mismatches.append(f"{s.column} disagrees with {ours.column if ours else 'the labels'}: {s.reason}")
        if edges:
            edge_table[s.column] = [show(v) for v in verdicts(s.entry.verdict, [(d, v, None) for d, v in edges])]
    return mismatches, edge_table


# --- one case ------------------------------------------------------------------


def slot_json(s):
    return {"column": s.column, "lib": s.lib, "role": s.role, "call": s.call, "note": s.note}


def run_case(cfg, channel, fam, mode, title):
    if channel == "objects":
        slots = peers.objects_slots(fam, mode)
        corpus, edges = fam.corpus, fam.edges
        x = fam.make()
    elif channel == "json":
        slots = peers.json_slots(fam, mode)
        corpus, edges = fam.json_corpus(), fam.json_edges
        x = json.dumps(fam.make()).encode()
    elif channel == "compile_literal":
        slots = peers.literal_compile_slots(fam)
        corpus, edges, x = [], [], None
    else:
        slots = peers.compile_slots(fam)
        corpus, edges, x = [], [], None
    if not channel.startswith("compile"):  # the timed input itself must get the same verdict from everyone
        corpus = corpus + [("the timed input", x, mode == "valid")]
    mismatches, edge_table = check_case(slots, corpus, edges if mode == "valid" else [])
    stmts = {s.column: (s.entry.stmt, s.entry.ns) for s in slots if s.entry is not None and s.status == "ok"}
    timings = {}
    if stmts:
        timings = time_interleaved(stmts, x, cfg["rounds"], cfg["min_rounds"], cfg["target"], cfg["budget"])
    cells = {}
    for s in slots:
        if s.column in timings:
            t = timings[s.column]
            cells[s.column] = {"status": "ok", "median": t.median, "q1": t.q1, "q3": t.q3,
                               "samples": t.samples, "loops": t.loops}
        else:
            cells[s.column] = {"status": s.status, "reason": s.reason}
    shown = "  ".join(f"{c}={report.fmt_time(v['median'])}" for c, v in cells.items() if v["status"] == "ok")
    log(f"  {title}: {shown}")
    for s in slots:
        if s.status not in ("ok",):
            log(f"    {s.column}: {s.status}: {s.reason}")
    for m in mismatches:
        log(f"    OURS CONTRADICTS THE CORPUS: {m}")
    return {
        "family": fam.key, "mode": mode, "title": title, "cells": cells,
        "slots": [slot_json(s) for s in slots],
        "ours_label_mismatches": mismatches,
        "edges": {"values": [d for d, _ in edges], "verdicts": edge_table} if edge_table else None,
        "input_bytes": len(x) if isinstance(x, bytes) else None,
    }


# --- imports and memory: fresh interpreters -----------------------------------


def import_times(cfg, columns_wanted=None):
    code = "import time\n_t0 = time.perf_counter()\n{}\nprint(time.perf_counter() - _t0)"
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="0")
    rows = [r for r in peers.IMPORTS if columns_wanted is None or r[0] in columns_wanted]
    samples = {c: [] for c, _, _ in rows}
    failed = {}

    def once(column, stmt):
        p = subprocess.run([sys.executable, "-c", code.format(stmt)], capture_output=True, text=True, env=env)
        if p.returncode != 0:
            failed[column] = p.stderr.strip().splitlines()[-1] if p.stderr.strip() else f"exit {p.returncode}"
            return None
        return float(p.stdout.strip().splitlines()[-1])

    for column, _, stmt in rows:  # warm-up: byte-code caches, the page cache
        once(column, stmt)
    for r in range(cfg["import_rounds"]):
        shift = r % len(rows)
        for column, _, stmt in rows[shift:] + rows[:shift]:
            if column not in failed:
                v = once(column, stmt)
                if v is not None:
                    samples[column].append(v)
    out = {}
    for column, lib, stmt in rows:
        if column in failed or not samples[column]:
            out[column] = {"status": "error", "reason": failed.get(column, "no sample"), "lib": lib, "call": stmt}
        else:
            out[column] = {"status": "ok", "median": statistics.median(samples[column]),
                           "samples": samples[column], "lib": lib, "call": stmt}
    shown = "  ".join(f"{c}={report.fmt_time(v['median'])}" for c, v in out.items() if v["status"] == "ok")
    log(f"  import: {shown}")
    return out


def memory_peaks(cfg, tables):
    out = []
    sizes = json.dumps(cfg["sizes"])
    for channel, family in MEMORY_CASES:
        table = next(t for t in tables if t["key"] == ("objects" if channel == "objects" else "json"))
        case = next((c for c in table["cases"] if c["family"] == family), None)
        if case is None:
            continue
        suffix = ""
        if channel == "json" and case.get("input_bytes"):
            suffix = f" (JSON text, {report.fmt_kib(case['input_bytes'] / 1024)})"
        row = {"title": case["title"] + suffix, "cells": {}}
        for s in case["slots"]:
            cell = case["cells"][s["column"]]
            if cell["status"] != "ok" or s["role"] == "reference":
                continue
            kibs, held, err = [], [], None
            for _ in range(cfg["memory_reps"]):
                p = subprocess.run([sys.executable, str(HERE / "probe.py"), channel, family, s["column"], sizes],
                                   capture_output=True, text=True)
                if p.returncode != 0:
                    err = p.stderr.strip().splitlines()[-1] if p.stderr.strip() else f"exit {p.returncode}"
                    break
                res = json.loads(p.stdout.strip().splitlines()[-1])
                if res["status"] != "ok":
                    err = res.get("reason", res["status"])
                    break
                kibs.append(res["kib"])
                held.append(res["held_kib"])
            row["cells"][s["column"]] = ({"status": "error", "reason": err} if err else
                                         {"status": "ok", "kib": statistics.median(kibs), "samples": kibs,
                                          "held_kib": statistics.median(held)})
        row["slots"] = [s for s in case["slots"] if s["column"] in row["cells"]]
        shown = "  ".join(f"{c}={v['kib']:.0f} KiB" for c, v in row["cells"].items() if v["status"] == "ok")
        log(f"  memory, {row['title']}: {shown}")
        out.append(row)
    return out


# --- checks of our own (folded in from overhead.py and records.py) ------------


def overhead(cfg):
    """`is_valid` of a scalar schema against a bare `isinstance(1, int)`.

    Reading the argument, checking the lookup tables and walking one node
    should cost within 1.3x of the type test itself."""
    import tessaron

    stmts = {"isinstance(1, int)": ("isinstance(x, int)", {})}
    for name, spec, value in [("literal 1, given 1", 1, 1), ("int, given 1", int, 1), ("int, given True", int, True)]:
        try:
            v = tessaron.Validator(spec)
        except NotImplementedError:
            continue
        stmts[f"is_valid, {name}"] = ("v.is_valid(y)", {"v": v, "y": value})
    t = time_interleaved(stmts, 1, cfg["rounds"], cfg["min_rounds"], cfg["target"], cfg["budget"])
    base = t["isinstance(1, int)"].median
    rows = [{"name": k, "median": v.median, "ratio": v.median / base} for k, v in t.items()]
    log("  per-call floor: " + "  ".join(f"{r['name']}={report.fmt_time(r['median'])}" for r in rows))
    return {"rows": rows, "target": 1.3}


def allocation(cfg):
    """The verdict-only walk of a list of records allocates nothing.

    With the record-key table in place, `is_valid` looks each declared key up
    with its interned name: the Python allocator must see no more during the
    call than during a call of `len` (the cost of measuring)."""
    import tracemalloc

    import tessaron

    n = cfg["sizes"]["records"]
    spec = list[{"id": int, "name": str, "email": str, "score": float, "tags": list[str], "active": bool}]
    data = [{"id": i, "name": f"n{i}", "email": f"n{i}@example.org", "score": i / 7, "tags": ["a", "b"],
             "active": i % 2 == 0} for i in range(n)]
    v = tessaron.Validator(spec)
    if not v.is_valid(data):
        raise AssertionError("the allocation check's records are not valid")

    def allocated_during(call):
        tracemalloc.reset_peak()
        before, _ = tracemalloc.get_traced_memory()
        call(data)
        _, peak = tracemalloc.get_traced_memory()
        return peak - before

    tracemalloc.start()
    try:
        baseline = allocated_during(len)
        walk = allocated_during(v.is_valid)
    finally:
        tracemalloc.stop()
    t = time_interleaved({"is_valid": ("v.is_valid(x)", {"v": v})}, data, cfg["rounds"], cfg["min_rounds"],
                         cfg["target"], cfg["budget"])["is_valid"]
    out = {"records": n, "bytes_beyond_baseline": walk - baseline, "ns_per_record": t.median / n * 1e9}
    log(f"  is_valid of {n:,} records: {out['bytes_beyond_baseline']} bytes allocated beyond the measuring cost "
        f"(target 0), {out['ns_per_record']:.1f} ns per record")
    return out


def held_trees(cfg):
    """Tree-shaped values whose records something outside them also holds.

    A cache, an index or an ORM session holds the records of the values it
    hands out; the walk must not take them for parts shared within the
    value (whose walks it remembers).  Each value is timed as a plain tree
    and again as an equal tree whose records an index also holds: `is_valid`,
    `validate` and `validate(fail_fast=True)` of the held one should cost at
    most 2x the plain one."""
    import tessaron

    n = 20 * cfg["sizes"]["records"]

    def records():
        return [{"id": i, "tags": ["a", "b"]} for i in range(n)]

    def tree():
        # Distinct records, each holding two fresh subtrees.
        def make(depth, start):
            if depth == 0:
                return {"kids": [], "v": start}
            return {"kids": [make(depth - 1, 2 * start), make(depth - 1, 2 * start + 1)], "v": start}
        return make(max(1, n.bit_length() - 1), 1)

    def all_records(value):
        out, todo = [], [value]
        while todo:
            r = todo.pop()
            out.append(r)
            todo += r["kids"]
        return out

    families = [
        (f"{n:,} records, list[{{id: int, tags: list[str]}}]", list[{"id": int, "tags": list[str]}], records,
         lambda v: v),
        ("a tree of distinct records, recursive {kids: list[X], v: int}",
         tessaron.recursive(lambda X: tessaron.union(int, {"kids": list[X], "v": int})), tree, all_records),
    ]
    rows = []
    for title, spec, make, held_parts in families:
        v = tessaron.Validator(spec)
        plain, held = make(), make()
        index = {id(r): r for r in held_parts(held)}  # noqa: F841 (holds the records)
        if not (v.is_valid(plain) and v.is_valid(held)):
            raise AssertionError(f"the held-tree values are not valid: {title}")
        stmts = {}
        for call, stmt in (("is_valid", "v.is_valid(x)"), ("validate", "v.validate(x)"),
                           ("fail_fast", "v.validate(x, fail_fast=True)")):
            stmts[("plain", call)] = (stmt.replace("x", "p"), {"v": v, "p": plain})
            stmts[("held", call)] = (stmt.replace("x", "h"), {"v": v, "h": held})
        t = time_interleaved(stmts, None, cfg["rounds"], cfg["min_rounds"], cfg["target"], cfg["budget"] / 2)
        row = {"title": title}
        for call in ("is_valid", "validate", "fail_fast"):
            row[call] = {"plain": t[("plain", call)].median, "held": t[("held", call)].median,
                         "ratio": t[("held", call)].median / t[("plain", call)].median}
        rows.append(row)
        log(f"  tree also held by an index, {title}: " +
            "  ".join(f"{c}={report.fmt_time(row[c]['held'])} ({row[c]['ratio']:.2f}x)"
                      for c in ("is_valid", "validate", "fail_fast")))
    return {"rows": rows, "target": 2.0}


def json_many_keys(cfg):
    """Objects with many failing keys: `dict[str, int]` given an object whose
    n values are all strings, and the same object with each key given again
    later with an int (a member: the later value counts).  A failed value
    stays pending until a later one of its key passes, so each key is looked
    up among the failed ones.  `is_valid_json` and `load` are timed at two
    sizes, beside `is_valid(json.loads(x))`.  Target: the time per key at
    the larger size within 1.5x the time per key at the smaller one (work
    linear in the keys) for each call."""
    import tessaron

    v = tessaron.Validator(dict[str, int])

    def failing(n):
        return "{" + ", ".join(f'"k{i}": "x"' for i in range(n)) + "}"

    def overridden(n):
        return failing(n)[:-1] + ", " + ", ".join(f'"k{i}": {i}' for i in range(n)) + "}"

    def load(x):
        try:
            v.load(x)
        except tessaron.ValidationError:
            pass

    calls = {"is_valid_json": ("v.is_valid_json(x)", {"v": v}), "load": ("f(x)", {"f": load}),
             "is_valid(json.loads(x))": ("v.is_valid(loads(x))", {"v": v, "loads": json.loads})}
    rows = []
    for doc_name, make in (("failing values", failing), ("each key overridden by an int", overridden)):
        row = {"document": doc_name, "sizes": list(cfg["key_counts"]), "calls": {}}
        for n in cfg["key_counts"]:
            x = make(n)
            if v.is_valid_json(x) is not (make is overridden):
                raise AssertionError(f"many keys, {doc_name}: the wrong verdict")
            t = time_interleaved(calls, x, cfg["rounds"], cfg["min_rounds"], cfg["target"], cfg["budget"] / 4)
            for call, timing in t.items():
                row["calls"].setdefault(call, []).append(timing.median / n)
        rows.append(row)
        log(f"  many keys, {doc_name}: " + "  ".join(
            f"{call}=" + "/".join(f"{report.fmt_time(p)}" for p in per) + " per key"
            for call, per in row["calls"].items()))
    return {"rows": rows, "target": 1.5}


# Single-threaded JSON at a6f64de, the build before the one pass checked
# literals and refinements natively: the least of three medians of
# `json_single_thread_figures` run by that build's interpreter
# (`python bench/run.py --json-figures`), in turn with this build's, on an
# AMD EPYC of 8 CPUs shared with other work, CPython 3.11.7.  Refresh them
# the same way when the machine changes.
JSON_FIGURES_A6F64DE = {
    "740 orders (754 KB): is_valid_json": 1.585e-3,
    "740 orders, one invalid item: is_valid_json": 225.8e-6,
    "740 orders: load": 4.662e-3,
    "one order: is_valid_json": 2.655e-6,
    "one order: load": 5.515e-6,
    "record of ten fields: is_valid_json": 678.0e-9,
    "10,000 records: is_valid_json": 4.026e-3,
}


def json_single_thread_figures(cfg):
    """The medians of the calls `json_single_thread` compares, by name."""
    import tessaron

    orders, bad = cases.make_orders(740), cases.make_bad_orders(740)
    docs = {
        "orders": json.dumps(orders).encode(), "orders_bad": json.dumps(bad).encode(),
        "order": json.dumps(orders[0]).encode(), "record": json.dumps(cases.make_records(1)[0]).encode(),
        "records": json.dumps(cases.make_records(10_000)).encode(),
    }
    many, one = tessaron.Validator(list[cases.Order]), tessaron.Validator(cases.Order)
    record, records = tessaron.Validator(cases.Record), tessaron.Validator(list[cases.Record])
    calls = {
        "740 orders (754 KB): is_valid_json": ("v.is_valid_json(d)", {"v": many, "d": docs["orders"]}),
        "740 orders, one invalid item: is_valid_json": ("v.is_valid_json(d)", {"v": many, "d": docs["orders_bad"]}),
        "740 orders: load": ("v.load(d)", {"v": many, "d": docs["orders"]}),
        "one order: is_valid_json": ("v.is_valid_json(d)", {"v": one, "d": docs["order"]}),
        "one order: load": ("v.load(d)", {"v": one, "d": docs["order"]}),
        "record of ten fields: is_valid_json": ("v.is_valid_json(d)", {"v": record, "d": docs["record"]}),
        "10,000 records: is_valid_json": ("v.is_valid_json(d)", {"v": records, "d": docs["records"]}),
    }
    for name, (stmt, ns) in calls.items():
        if eval(stmt, {}, ns) is False and "invalid" not in name:
            raise AssertionError(f"{name}: not a member")
    t = time_interleaved(calls, None, cfg["rounds"], cfg["min_rounds"], cfg["target"], cfg["budget"])
    return {name: timing.median for name, timing in t.items()}


def json_single_thread(cfg):
    """Single-threaded JSON on nested records that need no native check
    (typed dicts of customers, addresses, line items, `Literal` statuses, no
    constraints), large and small, against the figures of the build before
    the one pass checked literals and refinements natively.  Target: within
    1.03x of the old figure; the old figures were measured on a shared
    machine in another session, so read a ratio near the target with that
    noise in mind."""
    now = json_single_thread_figures(cfg)
    rows = []
    for name, median in now.items():
        old = JSON_FIGURES_A6F64DE.get(name)
        rows.append({"name": name, "median": median, "old": old, "ratio": median / old if old else None})
    log("  single-threaded JSON against a6f64de: " + "  ".join(
        f"{r['name']}={report.fmt_time(r['median'])}" + (f" ({r['ratio']:.2f}x)" if r["ratio"] else "")
        for r in rows))
    return {"rows": rows, "target": 1.03, "old_commit": "a6f64de"}


def build_floor(directory):
    """Compiles floor.c into `directory`: (module, None), or (None, why not)."""
    import importlib.util
    import shlex
    import sysconfig

    cc = shlex.split(sysconfig.get_config_var("CC") or "cc")
    out = Path(directory) / ("_bench_floor" + (sysconfig.get_config_var("EXT_SUFFIX") or ".so"))
    cmd = cc + ["-O2", "-shared", "-fPIC", "-I", sysconfig.get_paths()["include"], str(HERE / "floor.c"), "-o",
                str(out)]
    try:
        p = subprocess.run(cmd, capture_output=True, text=True)
    except OSError as e:
        return None, f"no C compiler: {e}"
    if p.returncode != 0:
        return None, "floor.c did not compile: " + (p.stderr.strip().splitlines() or ["?"])[-1]
    spec = importlib.util.spec_from_file_location("_bench_floor", out)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module, None


def list_sizes(cfg):
    """`list[int]` per element, size by size, against the C floor.

    The floor is one C call testing `PyLong_Check` on each item of the
    list's storage (floor.c).  Hot data: the same list checked again and
    again.  At every size `is_valid` should cost at most 1.5x the floor
    (the fixed cost of a call included) and never more than `validate`."""
    import random
    import tempfile

    import tessaron

    v = tessaron.Validator(list[int])
    with tempfile.TemporaryDirectory() as tmp:
        floor, why = build_floor(tmp)
    rows = []
    for n in cfg["list_sizes"]:
        rng = random.Random(1)
        x = [rng.randrange(-(10**9), 10**9) for _ in range(n)]
        stmts = {"is_valid": ("v.is_valid(x)", {"v": v}), "validate": ("v.validate(x)", {"v": v})}
        if floor is not None:
            if floor.all_ints(x) is not True:
                raise AssertionError("the C floor disagrees on a list of ints")
            stmts["floor"] = ("f(x)", {"f": floor.all_ints})
        t = time_interleaved(stmts, x, cfg["rounds"], cfg["min_rounds"], cfg["target"], cfg["budget"] / 4)
        row = {"n": n, **{k: t[k].median for k in t}}
        rows.append(row)
        base = row.get("floor")
        log(f"  list[int] of {n:,}: " + "  ".join(f"{k}={t[k].median / n * 1e9:.2f} ns/item" for k in t) +
            (f"  is_valid/floor={row['is_valid'] / base:.2f}x" if base else ""))
    return {"rows": rows, "target": 1.5, "floor_missing": why}


def decisions(cfg):
    """`relation_to` on flat schemas that the structural decision leaves
    open, so that the descriptor route answers them: bounded ints, a pattern,
    a literal union.  Each should cost under a millisecond."""
    from typing import Annotated, Literal

    import annotated_types as at

    from tessaron import union

    questions = [
        ("bounded ints within two ranges",
         Annotated[int, at.Ge(0), at.Le(100)],
         union(Annotated[int, at.Ge(0), at.Lt(50)], Annotated[int, at.Ge(50), at.Le(200)]), "subset"),
        ("a pattern within a length", Annotated[str, _Pattern("[0-9]{4}")], Annotated[str, at.MaxLen(4)], "subset"),
        ("a literal union and a pattern within lengths",
         union(Literal["red", "green", "blue"], Annotated[str, _Pattern("[a-z]{6}")]),
         Annotated[str, at.MinLen(3), at.MaxLen(6)], "subset"),
        ("ints >= 0 or < 0 against int", int, union(Annotated[int, at.Ge(0)], Annotated[int, at.Lt(0)]), "subset"),
    ]
    return _time_questions(cfg, questions, 1e-3, "descriptor route")


def container_decisions(cfg):
    """`relation_to` between typical list, tuple and set schemas that the
    structural decision leaves open: item counts, unions of fixed tuples,
    literal items, sets of mixed literals.  Each should cost under a few
    milliseconds."""
    from typing import Annotated, Literal, Union

    import annotated_types as at

    from tessaron import union

    int_or_str = Union[int, str]
    questions = [
        ("int tuples of at most two items within the fixed ones", Annotated[tuple[int, ...], at.MaxLen(2)],
         union(tuple[()], tuple[int], tuple[int, int]), "subset"),
        ("int tuples within the empty one and the non-empty ones", tuple[int, ...],
         union(tuple[()], Annotated[tuple[int, ...], at.MinLen(1)]), "subset"),
        ("list[int] within list[Literal[1, 2]]", list[int], list[Literal[1, 2]], "not_subset"),
        ("lists of bounded ints within a union of ranges", list[Annotated[int, at.Ge(0), at.Le(100)]],
         list[Union[Annotated[int, at.Ge(0), at.Lt(50)], Annotated[int, at.Ge(50)]]], "subset"),
        ("pairs of int or str within the two mixed pairs", tuple[int_or_str, int_or_str],
         union(tuple[int, str], tuple[str, int]), "not_subset"),
        ("sets of True and 'a' within sets of either", set[Literal[True, "a"]],
         union(set[Literal[True]], set[Literal["a"]]), "not_subset"),
    ]
    return _time_questions(cfg, questions, 3e-3, "containers")


def slowest_decisions(cfg):
    """The slowest decisions we know of: patterns whose automata are large or
    costly to build (Unicode classes under counted repetitions, a counted
    repetition of two thousand over a class), in unions, tuples, records and
    against a thousand literals; two unions of a thousand tagged pairs; the
    complements of lists of dicts, whose shapes share their nested values;
    two unions of two hundred tagged pattern triples; sixteen thousand
    literals within themselves or None, and a one-item tuple of 90,000
    literals within a hundred tuples of 900 each.
    Each must answer within
    50 ms: the same answer as when its budgets were not spent, or
    "undecided" where they end (never a wrong one)."""
    import re
    from typing import Annotated, Any, Literal

    from tessaron import Regex, Validator, complement, intersection, recursive, union

    def side(t):
        return union(*[Annotated[type(f"S{t}{i}", (str,), {}), re.compile(r"\w{1,%d}" % (10 + i % 3))]
                       for i in range(10)])

    a, b = side("a"), side("b")
    word, digits = Annotated[str, re.compile(r"\w{1,8}")], Annotated[str, re.compile(r"\d{1,8}")]
    sep = "|".join(re.escape(chr(c)) for c in range(33, 127))
    costly = Validator(Annotated[str, re.compile(f"[!-~]*[!-~]{{0,2000}}|{sep}")])
    costly_union = union(*[Annotated[str, re.compile(f"[!-~]*[!-~]{{0,{2000 + i}}}|{sep}")] for i in range(31)])
    printable = Annotated[str, re.compile("[!-~]*")]
    literals = Validator(Literal[tuple(f"x{i}" for i in range(1000))])
    tagged_str = union(*[tuple[Literal[i], str] for i in range(1000)])
    tagged_bytes = union(*[tuple[Literal[i], bytes] for i in range(1000)])
    pair = lambda p, q: Validator(tuple[Annotated[str, Regex(p)], Annotated[str, Regex(q)]])  # noqa: E731
    any_pair, word_pair = pair("(?s).{1,10}", "(?s).{1,11}"), pair(r"\w{1,10}", r"\w{1,11}")
    words20 = Validator(tuple[tuple(Annotated[str, Regex(r"\w{1,%d}" % (3 + i % 6))] for i in range(20))])
    digits20 = Validator(tuple[tuple(Annotated[str, Regex(r"\d{1,%d}" % (3 + i % 6))] for i in range(20))])
    recursive_dicts = recursive(lambda x: union(list[x], {"a": int, "b?": str, str: object}))
    words_digits = Validator(union(*[tuple[Literal[i], Annotated[str, Regex(r"\w{1,%d}" % (3 + i % 5))],
                                           Annotated[str, Regex(r"\d{1,%d}" % (2 + i % 4))]] for i in range(200)]))
    words_words = Validator(union(*[tuple[Literal[i], Annotated[str, Regex(r"\w{1,%d}" % (4 + i % 5))],
                                          Annotated[str, Regex(r"\w{1,%d}" % (2 + i % 4))]] for i in range(200)]))
    # (name, statement, namespace, the answers it may give)
    questions = [
        ("ten \\w patterns within ten others or str", "a.relation_to(u)", {"a": a, "u": union(b, str)},
         {"subset", "undecided"}),
        ("ten \\w patterns within ten others", "a.relation_to(b)", {"a": a, "b": b}, {"undecided"}),
        ("ten \\w patterns, is_empty", "a.is_empty()", {"a": a}, {False}),
        ("1,000 literals within (?:\\w|\\d){1,300}", "v.relation_to(w)",
         {"v": literals, "w": Validator(Annotated[str, re.compile(r"(?:\w|\d){1,300}")])}, {"subset"}),
        ("\\w{1,8} within \\d{1,8}", "v.relation_to(w)", {"v": Validator(word), "w": Validator(digits)},
         {"not_subset"}),
        ("tuple of one \\w{1,8} within one \\d{1,8}", "v.relation_to(w)",
         {"v": Validator(tuple[word]), "w": Validator(tuple[digits])}, {"not_subset"}),
        ("tuple of 12 \\w{1,8} within 12 \\d{1,8}", "v.relation_to(w)",
         {"v": Validator(tuple[(word,) * 12]), "w": Validator(tuple[(digits,) * 12])}, {"not_subset"}),
        ("record of 8 \\w{1,8} within 8 \\d{1,8}", "v.relation_to(w)",
         {"v": Validator({f"k{i}": word for i in range(8)}), "w": Validator({f"k{i}": digits for i in range(8)})},
         {"not_subset"}),
        ("[!-~]{0,2000} pattern, is_empty", "v.is_empty()", {"v": costly}, {False}),
        ("[!-~]{0,2000} pattern within [!-~]*", "v.relation_to(w)", {"v": costly, "w": Validator(printable)},
         {"subset", "undecided"}),
        ("[!-~]{0,2000} pattern, is_equivalent", "v.is_equivalent(w)", {"v": costly, "w": Validator(printable)},
         {True, False}),
        ("union of 31 [!-~]{0,2000+i} patterns, is_empty", "v.is_empty()", {"v": costly_union}, {False}),
        ("1,000 (i, str) within 1,000 (i, bytes)", "u.relation_to(w)", {"u": tagged_str, "w": tagged_bytes},
         {"not_subset", "undecided"}),
        ("1,000 (i, str) without 1,000 (i, bytes), is_empty", "intersection(u, complement(w)).is_empty()",
         {"u": tagged_str, "w": tagged_bytes, "intersection": intersection, "complement": complement}, {False}),
        ("pair of .{1,n} within pair of \\w{1,n}", "v.relation_to(w)", {"v": any_pair, "w": word_pair},
         {"not_subset", "undecided"}),
        ("pair of .{1,n} and of \\w{1,n}, is_equivalent", "v.is_equivalent(w)", {"v": any_pair, "w": word_pair},
         {False}),
        ("tuple of 20 \\w{1,n} within 20 \\d{1,n}", "v.relation_to(w)", {"v": words20, "w": digits20},
         {"not_subset", "undecided"}),
        # Dict shapes sorted and searched with nested values shared; unions of
        # tagged pattern triples too large to convert.
        ("complements of lists of recursive dicts", "v.relation_to(w)",
         {"v": Validator(complement(list[tuple[()] | recursive_dicts])),
          "w": Validator(complement(list[dict[Any, {"a": int}]]))}, {"not_subset"}),
        ("lists of dicts of nested records within lists of empty dicts", "v.relation_to(w)",
         {"v": Validator(list[dict[int, {"b": None, "c": {"a": int}, Literal["a"] | Literal["b"]: str}]]),
          "w": Validator(list[dict[int, union()]])}, {"not_subset"}),
        ("200 (i, \\w{1,n}, \\d{1,n}) within 200 (i, \\w{1,n}, \\w{1,n})", "v.relation_to(w)",
         {"v": words_digits, "w": words_words}, {"subset", "undecided"}),
        ("200 (i, \\w{1,n}, \\d{1,n}) without 200 (i, \\w{1,n}, \\w{1,n}), is_empty", "v.is_empty()",
         {"v": intersection(words_digits, complement(words_words))}, {True, False}),
        # Literals checked against a pattern: matched as a set by the call's
        # own matcher, charged to its automaton work, the pattern compiled
        # once per validator.
        ("120 prefixes of a's within (?:a{0,500}){0,1000}", "v.relation_to(w)",
         {"v": Validator(Literal[tuple("a" * k for k in range(1, 121))]),
          "w": Validator(Annotated[str, Regex("(?:a{0,500}){0,1000}")])}, {"subset", "undecided"}),
        ("2,000 codes within an alternation of 60,000 words", "v.relation_to(w)",
         {"v": Validator(Literal[tuple(f"{i:011d}" for i in range(0, 60000, 30))]),
          "w": Validator(Annotated[str, Regex("|".join(f"{i:011d}" for i in range(60000)))])}, {"subset"}),
        # Large unions: each left member looked up in the right union, and
        # one-item tuples of literal blocks.
        ("16,000 literals within themselves or None", "v.relation_to(w)",
         {"v": Validator(Literal[tuple(range(16000))]), "w": Validator(Literal[tuple(range(16000))] | None)},
         {"subset"}),
        ("tuple of 90,000 literals within 100 tuples of 900", "v.relation_to(w)",
         {"v": Validator(tuple[Literal[tuple(range(90000))]]),
          "w": Validator(union(*[tuple[Literal[tuple(range(i * 900, i * 900 + 900))]] for i in range(100)]))},
         {"subset", "undecided"}),
    ]
    stmts = {}
    for name, stmt, ns, answers in questions:
        got = eval(stmt, {}, ns)
        if got not in answers:
            raise AssertionError(f"{name}: {got!r}, expected one of {sorted(map(str, answers))}")
        stmts[name] = (stmt, ns)
    t = time_interleaved(stmts, None, cfg["rounds"], cfg["min_rounds"], cfg["target"], cfg["budget"])
    rows = [{"name": k, "median": v.median} for k, v in t.items()]
    log("  slowest decisions: " + "  ".join(f"{r['name']}={report.fmt_time(r['median'])}" for r in rows))
    return {"rows": rows, "target": 50e-3}


def _time_questions(cfg, questions, target, label):
    """Checks each (name, left, right, answer) and times its `relation_to`."""
    from tessaron import Validator

    stmts = {}
    for name, left, right, answer in questions:
        v, w = Validator(left), Validator(right)
        got = v.relation_to(w)
        if got != answer:
            raise AssertionError(f"{name}: {got}, expected {answer}")
        stmts[name] = ("v.relation_to(w)", {"v": v, "w": w})
    t = time_interleaved(stmts, None, cfg["rounds"], cfg["min_rounds"], cfg["target"], cfg["budget"])
    rows = [{"name": k, "median": v.median} for k, v in t.items()]
    log(f"  {label}: " + "  ".join(f"{r['name']}={report.fmt_time(r['median'])}" for r in rows))
    return {"rows": rows, "target": target}


class _Pattern:
    """A pattern marker (read through its `pattern` attribute)."""

    def __init__(self, pattern):
        self.pattern = pattern


# --- metadata ------------------------------------------------------------------

PACKAGES = ["tessaron", "msgspec", "pydantic", "pydantic-core", "fastjsonschema", "jsonschema", "typeguard",
            "beartype", "orjson", "pyperf", "matplotlib"]


def machine():
    import pyperf

    md = pyperf.Run([1.0], metadata={"name": "probe"}, collect_metadata=True).get_metadata()
    keys = ["cpu_model_name", "cpu_count", "cpu_freq", "platform", "python_version", "load_avg_1min", "date"]
    out = {k: md.get(k) for k in keys}
    out["pyperf_metadata"] = {k: v for k, v in md.items() if k not in ("name",)}
    versions = {}
    for p in PACKAGES:
        try:
            versions[p] = importlib_metadata.version(p)
        except importlib_metadata.PackageNotFoundError:
            versions[p] = None
    out["versions"] = versions
    try:
        root = HERE.parent
        rev = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=root, capture_output=True, text=True)
        out["commit"] = rev.stdout.strip() or None
        dirty = subprocess.run(["git", "status", "--porcelain", "--", "src", "python", "CMakeLists.txt",
                                "pyproject.toml"], cwd=root, capture_output=True, text=True)
        if out["commit"] and dirty.stdout.strip():
            out["commit"] += " (with uncommitted changes to the library's sources)"
    except OSError:
        out["commit"] = None
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--smoke", action="store_true", help="small inputs, few rounds: check the harness only")
    ap.add_argument("--out", default=str(HERE / "results"), help="directory for latest.{json,md,png}")
    ap.add_argument("--only", default=None, help="run only the cases whose family contains this text")
    ap.add_argument("--json-figures", action="store_true",
                    help="print the single-threaded JSON medians as JSON and stop (to record an old build's)")
    args = ap.parse_args()
    cfg = SMOKE if args.smoke else FULL
    if args.json_figures:
        print(json.dumps(json_single_thread_figures(cfg), indent=1))
        return 0
    started = time.monotonic()
    titles = case_titles(cfg["sizes"])
    fams = cases.families(cfg["sizes"])
    meta = machine()
    meta.update(smoke=args.smoke, sizes=cfg["sizes"], rounds=cfg["rounds"], target=cfg["target"])
    log(f"bench: {meta['cpu_model_name']}, {meta['cpu_count']} CPUs, Python {meta['python_version']}"
        f"{' (smoke)' if args.smoke else ''}")

    quiet = Quiet(cfg["quiet_wait"])
    meta["busy_load"], meta["quiet_wait"] = quiet.limit, cfg["quiet_wait"]
    tables, failures = [], []
    for key, title, channel, plan in TABLES:
        log(f"== {title}")
        table = {"key": key, "title": title, "channel": channel, "cases": []}
        for family, mode in plan:
            if args.only and args.only not in family:
                continue
            case_title = (compile_titles() if channel == "compile_literal" else titles).get(family, family)
            case_title += MODE_TEXT[mode]
            load = quiet.wait()
            try:
                case = run_case(cfg, channel, fams[family], mode, case_title)
                case["load"] = load
            except Exception as e:  # the harness itself failed: report and go on
                log(f"  {case_title}: HARNESS ERROR {type(e).__name__}: {e}")
                failures.append(f"{title} / {case_title}: {type(e).__name__}: {e}")
                continue
            if case["ours_label_mismatches"]:
                failures += [f"{title} / {case_title}: {m}" for m in case["ours_label_mismatches"]]
            table["cases"].append(case)
        tables.append(table)

    log("== Import time")
    imports = import_times(cfg)
    log("== Peak memory")
    memory = memory_peaks(cfg, tables)
    log("== Checks of our own")
    floor = overhead(cfg)
    alloc = allocation(cfg)
    held = held_trees(cfg)
    sized = list_sizes(cfg)
    many_keys = json_many_keys(cfg)
    single_thread = json_single_thread(cfg)
    decided = decisions(cfg)
    containers = container_decisions(cfg)
    slowest = slowest_decisions(cfg)
    log("== JSON at scale")
    scaled = json_scale.run(json_scale.config(args.smoke, cfg["sizes"]), log)

    meta["elapsed_seconds"] = time.monotonic() - started
    results = {"meta": meta, "tables": tables, "imports": imports, "memory": memory, "overhead": floor,
               "allocation": alloc, "held_trees": held, "list_sizes": sized, "json_many_keys": many_keys,
               "json_single_thread": single_thread, "decisions": decided,
               "container_decisions": containers, "slowest_decisions": slowest, "json_scale": scaled,
               "failures": failures}
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    (out / "latest.json").write_text(json.dumps(results, indent=1, default=str) + "\n")
    (out / "latest.md").write_text(report.markdown(results) + json_scale.markdown(scaled))
    report.plot(results, out / "latest.png")
    report.write_pyperf(results, out / "latest.pyperf.json")
    log(f"wrote {out / 'latest.md'}, {out / 'latest.png'}, {out / 'latest.json'} "
        f"in {meta['elapsed_seconds']:.0f} s")
    if failures:
        log("FAILED:\n  " + "\n  ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
