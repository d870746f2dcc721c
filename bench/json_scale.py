"""JSON at scale: peak memory on a large document, and threads.

    python bench/json_scale.py [--smoke] [--out DIR]

run.py calls `run(cfg, log)` after its tables and appends `markdown(...)`
to its report; run alone, this writes DIR/json_scale.{json,md} (DIR
defaults to build/json-scale).

Memory: a document `[1, 1, ...]` of 100 MB (1 MB in a smoke run), each call
in a fresh interpreter (probe.py's method: the heap trimmed, the kernel's
high-water mark reset, one call, the new high-water mark read): the peak
resident memory the call adds.  `json.loads` is the yardstick: the goal is
that `is_valid_json` never needs more.  Our schema is `list[int]`, checked
in one pass; the same list in a union with a class of a metaclass of its own
(a check that may run user code) shows the parse-then-walk path, which
builds the compact tree first.

Threads: the nested order payload of cases.py (1,000 orders), one copy of
the document per thread, each thread checking its copy again and again;
the documents checked per second by 1 and by 8 threads, and their ratio.
Our calls give up the interpreter lock while they parse a document this
large; a library that holds it shows a ratio near 1.  The ratio is bounded
by the machine's idle CPUs: the report shows the load average.

Constrained records: `[{"id": i, "name": f"n{i}"} for i in range(50000)]`
(1.6 MB), checked by `is_valid_json` with 1, 2 and 4 threads against the
same records without a constraint, with a length bound on the name, with
a pattern on the name and bounds on the id, and in a union with another
record.  These checks need no Python object, so the parse keeps running
without the interpreter lock and more threads check more documents; the
one-thread column is the cost of the checks themselves.
"""

import argparse
import json
import os
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent

MEMORY_CALLS = [
    # (column, setup, call)
    ("json.loads", "import json", "json.loads(x)"),
    ("orjson.loads", "import orjson", "orjson.loads(x)"),
    ("msgspec list[int]", "import msgspec; d = msgspec.json.Decoder(list[int]).decode", "d(x)"),
    ("tessaron is_valid_json", "import tessaron; v = tessaron.Validator(list[int])", "v.is_valid_json(x)"),
    ("tessaron is_valid_json, tree path",
     "import tessaron\nclass M(type): pass\nclass C(metaclass=M): pass\n"
     "v = tessaron.Validator(tessaron.union(list[int], C))", "v.is_valid_json(x)"),
    ("tessaron validate_json", "import tessaron; v = tessaron.Validator(list[int])", "v.validate_json(x)"),
    ("tessaron load", "import tessaron; v = tessaron.Validator(list[int])", "v.load(x)"),
]

PROBE = """
import ctypes, gc, json, re, sys
def status(key):
    with open("/proc/self/status") as f:
        return int(re.search(rf"^{{key}}:\\s+(\\d+) kB", f.read(), re.M).group(1))
n = {n}
x = b"[" + b"1, " * (n - 1) + b"1]"
{setup}
trim = ctypes.CDLL("libc.so.6").malloc_trim
gc.collect(); trim(0)
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
r = {call}
peak = status("VmHWM")
print(json.dumps({{"kib": max(0, peak - before), "bytes": len(x)}}))
"""


def memory(cfg, log):
    n = cfg["memory_items"]
    rows = {}
    for column, setup, call in MEMORY_CALLS:
        kibs, err, size = [], None, None
        for _ in range(cfg["memory_reps"]):
            code = PROBE.format(n=n, setup=setup, call=call)
            p = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
            if p.returncode != 0:
                err = p.stderr.strip().splitlines()[-1] if p.stderr.strip() else f"exit {p.returncode}"
                break
            res = json.loads(p.stdout.strip().splitlines()[-1])
            kibs.append(res["kib"])
            size = res["bytes"]
        rows[column] = {"status": "error", "reason": err} if err else {"status": "ok", "kib": sorted(kibs)[len(kibs) // 2],
                                                                      "samples": kibs, "bytes": size}
    shown = "  ".join(f"{c}={r['kib'] / 1024:.0f} MiB" for c, r in rows.items() if r["status"] == "ok")
    log(f"  memory, [1, 1, ...] of {n:,} items: {shown}")
    return {"items": n, "rows": rows}


def _orders_document(cfg):
    sys.path.insert(0, str(HERE))
    import cases

    fam = cases.families(dict(cfg["sizes"], orders=cfg["thread_orders"]))["orders"]
    return fam, json.dumps(fam.make()).encode()


def _throughput(fn, docs, seconds):
    """Documents checked per second by len(docs) threads, each on its own."""
    counts = [0] * len(docs)
    stop = time.perf_counter() + seconds
    barrier = threading.Barrier(len(docs) + 1)

    def work(i):
        doc = docs[i]
        barrier.wait()
        k = 0
        while time.perf_counter() < stop:
            fn(doc)
            k += 1
        counts[i] = k

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(docs))]
    for t in threads:
        t.start()
    started = time.perf_counter()
    barrier.wait()
    for t in threads:
        t.join()
    return sum(counts) / (time.perf_counter() - started)


def threads(cfg, log):
    import msgspec
    import tessaron

    fam, doc = _orders_document(cfg)
    spec = fam.ours()
    ours = spec if isinstance(spec, tessaron.Validator) else tessaron.Validator(spec)

    class M(type):
        pass

    class C(metaclass=M):
        pass

    tree = tessaron.Validator(tessaron.union(ours, C))
    dec = msgspec.json.Decoder(fam.hint_for("msgspec")).decode
    calls = {
        "tessaron is_valid_json": ours.is_valid_json,
        "tessaron is_valid_json, tree path": tree.is_valid_json,
        "tessaron load": ours.load,
        "msgspec (Struct decoder)": dec,
    }
    for name, fn in calls.items():
        fn(doc)  # warm: the lookup tables, msgspec's type information
    counts = cfg["thread_counts"]
    rows = {}
    for name, fn in calls.items():
        per = {}
        for t in counts:
            docs = [bytes(bytearray(doc)) for _ in range(t)]  # a document of its own per thread
            per[t] = _throughput(fn, docs, cfg["thread_seconds"])
        rows[name] = {"per_second": {str(t): v for t, v in per.items()},
                      "scaling": per[counts[-1]] / per[counts[0]] if per[counts[0]] else None}
    load = os.getloadavg()[0]
    for name, r in rows.items():
        shown = "  ".join(f"{t} threads={v:,.0f}/s" for t, v in r["per_second"].items())
        log(f"  threads, {name}: {shown}  ({r['scaling']:.2f}x)")
    return {"document_bytes": len(doc), "counts": counts, "rows": rows, "load_average": load,
            "cpus": os.cpu_count()}


def constrained(cfg, log):
    from typing import Annotated

    import annotated_types as at
    import tessaron

    doc = json.dumps([{"id": i, "name": f"n{i}"} for i in range(cfg["constrained_records"])]).encode()
    schemas = {
        "no constraint": [{"id": int, "name": str}],
        "length": [{"id": int, "name": Annotated[str, at.MinLen(1)]}],
        "pattern and bounds": [{"id": Annotated[int, at.Ge(0), at.Lt(10**9)],
                                "name": Annotated[str, tessaron.Regex("n[0-9]+")]}],
        # Two members may take each record: each goes to the general walk.
        "union of two records": [tessaron.union({"id": int, "name": str}, {"id": str})],
    }
    counts = cfg["constrained_counts"]
    rows = {}
    for name, schema in schemas.items():
        fn = tessaron.Validator(schema).is_valid_json
        if fn(doc) is not True:
            raise AssertionError(f"{name}: the document is not a member")
        per = {}
        for t in counts:
            docs = [bytes(bytearray(doc)) for _ in range(t)]
            per[t] = _throughput(fn, docs, cfg["thread_seconds"])
        rows[name] = {"per_second": {str(t): v for t, v in per.items()},
                      "scaling": {str(t): per[t] / per[counts[0]] if per[counts[0]] else None for t in counts}}
        shown = "  ".join(f"{t} threads={v:,.0f}/s" for t, v in per.items())
        log(f"  constrained records, {name}: {shown}")
    return {"document_bytes": len(doc), "counts": counts, "rows": rows, "load_average": os.getloadavg()[0],
            "cpus": os.cpu_count()}


def run(cfg, log):
    out = {}
    for key, fn in (("memory", memory), ("threads", threads), ("constrained", constrained)):
        try:
            out[key] = fn(cfg, log)
        except Exception as e:  # report and go on, as run.py does for a case
            log(f"  json scale, {key}: HARNESS ERROR {type(e).__name__}: {e}")
            out[key] = {"error": f"{type(e).__name__}: {e}"}
    return out


def markdown(res):
    lines = ["", "## JSON at scale", ""]
    mem = res.get("memory", {})
    if "rows" in mem:
        rows = mem["rows"]
        base = rows.get("json.loads", {}).get("kib")
        size = next((r["bytes"] for r in rows.values() if r.get("bytes")), None)
        lines += [f"Peak memory a call adds on `[1, 1, ...]` ({mem['items']:,} items"
                  + (f", {size / 2**20:.0f} MiB of JSON" if size else "") + "), each in a fresh interpreter:", "",
                  "| Call | Peak | vs json.loads |", "|---|---:|---:|"]
        for column, r in rows.items():
            if r["status"] != "ok":
                lines.append(f"| {column} | {r['reason']} | |")
                continue
            ratio = f"{r['kib'] / base:.2f}x" if base else ""
            lines.append(f"| {column} | {r['kib'] / 1024:,.1f} MiB | {ratio} |")
        lines.append("")
    thr = res.get("threads", {})
    if "rows" in thr:
        counts = thr["counts"]
        lines += [f"Documents checked per second, nested orders ({thr['document_bytes'] / 1024:,.0f} KiB each, "
                  f"one copy per thread; {thr['cpus']} CPUs, load average {thr['load_average']:.1f} at the end):", "",
                  "| Call | " + " | ".join(f"{t} thread{'s' if t > 1 else ''}" for t in counts) +
                  f" | {counts[-1]} vs {counts[0]} |",
                  "|---|" + "---:|" * (len(counts) + 1)]
        for name, r in thr["rows"].items():
            cells = " | ".join(f"{r['per_second'][str(t)]:,.0f}" for t in counts)
            lines.append(f"| {name} | {cells} | {r['scaling']:.2f}x |")
        lines.append("")
    con = res.get("constrained", {})
    if "rows" in con:
        counts = con["counts"]
        lines += [f"Documents checked per second by `is_valid_json`, 50,000 records `{{\"id\": int, \"name\": str}}` "
                  f"({con['document_bytes'] / 1024:,.0f} KiB, one copy per thread; {con['cpus']} CPUs, load average "
                  f"{con['load_average']:.1f} at the end), checks made without Python objects:", "",
                  "| Schema | " + " | ".join(f"{t} thread{'s' if t > 1 else ''}" for t in counts) + " | "
                  + " | ".join(f"{t} vs {counts[0]}" for t in counts[1:]) + " |",
                  "|---|" + "---:|" * (2 * len(counts) - 1)]
        for name, r in con["rows"].items():
            cells = " | ".join(f"{r['per_second'][str(t)]:,.0f}" for t in counts)
            ratios = " | ".join(f"{r['scaling'][str(t)]:.2f}x" for t in counts[1:])
            lines.append(f"| {name} | {cells} | {ratios} |")
        lines.append("")
    for key in ("memory", "threads", "constrained"):
        if "error" in res.get(key, {}):
            lines.append(f"JSON at scale, {key}: harness error {res[key]['error']}")
    return "\n".join(lines) + "\n"


FULL = {"memory_items": 100_000_000 // 3, "memory_reps": 3, "thread_counts": [1, 8], "thread_seconds": 3.0,
        "thread_orders": 1000, "constrained_records": 50_000, "constrained_counts": [1, 2, 4]}
SMOKE = {"memory_items": 300_000, "memory_reps": 1, "thread_counts": [1, 8], "thread_seconds": 0.3,
         "thread_orders": 1000, "constrained_records": 50_000, "constrained_counts": [1, 2, 4]}


def config(smoke, sizes):
    cfg = dict(SMOKE if smoke else FULL)
    cfg["sizes"] = sizes
    return cfg


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--smoke", action="store_true")
    ap.add_argument("--out", default=str(HERE.parent / "build" / "json-scale"))
    args = ap.parse_args()
    sys.path.insert(0, str(HERE))
    import run as bench_run

    cfg = config(args.smoke, (bench_run.SMOKE if args.smoke else bench_run.FULL)["sizes"])
    res = run(cfg, lambda *a: print(*a, flush=True))
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    (out / "json_scale.json").write_text(json.dumps(res, indent=1) + "\n")
    (out / "json_scale.md").write_text(markdown(res))
    print(textwrap.indent(markdown(res), "  "))


if __name__ == "__main__":
    main()
