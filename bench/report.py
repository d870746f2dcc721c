"""The benchmark's outputs: the Markdown tables, the chart, the pyperf file.

Everything here reads the results dict that run.py builds (and saves as
latest.json), so a report can be regenerated without measuring again:

    python bench/report.py bench/results/latest.json
"""

import json
import sys
from pathlib import Path

GOAL_OBJECTS = 2.0  # valid Python objects: at least 2x the fastest peer
GOAL_INVALID = 1.0  # invalid Python objects: not slower than the fastest peer
GOAL_JSON = 1.5  # is_valid_json against msgspec's typed decode
GOAL_COMPILE = 1.0  # compiling: faster than a pydantic TypeAdapter
GOAL_VALIDATE = 1.1  # validate of a valid value: within 1.1x of is_valid
GOAL_ERROR = 1.5  # validate raising for one bad scalar: 1.5x pydantic
GOAL_LITERALS = 1.0  # a list checked against a union of literals: the fastest peer
GOAL_LITERAL_COMPILE = 1.0  # compiling a union of 4096 literals: msgspec
GOAL_FLOOR = 1.5  # list[int]: is_valid within 1.5x the C floor per item

COLOURS = {
    "tessaron": "#d62728", "msgspec": "#1f77b4", "pydantic": "#2ca02c", "fastjsonschema": "#9467bd",
    "jsonschema": "#8c564b", "typeguard": "#e377c2", "beartype": "#7f7f7f", "orjson": "#bcbd22",
    "python": "#17becf",
}


def fmt_time(s):
    if s is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if s >= scale:
            return f"{s / scale:.3g} {unit}"
    return f"{s / 1e-9:.3g} ns"


def fmt_kib(k):
    return f"{k / 1024:.3g} MiB" if k >= 1024 else f"{k:.0f} KiB"


def fmt_ratio(r):
    if r is None:
        return "-"
    return f"{r:.2f}x" if r >= 0.1 else f"{r:.2g}x"


# --- reading the results ---------------------------------------------------


def columns_of(table):
    seen, cols = set(), []
    for case in table["cases"]:
        for s in case["slots"]:
            if s["column"] not in seen:
                seen.add(s["column"])
                cols.append(s)
    return cols


def role_of(case, column):
    return next(s["role"] for s in case["slots"] if s["column"] == column)


def ours_cell(case, column=None):
    """Our main call's (column, cell), or those of `column` when given."""
    for s in case["slots"]:
        if (s["column"] == column) if column else s["role"] == "ours":
            return s["column"], case["cells"][s["column"]]
    return None, None


def fastest_peer(case, only=None):
    best = None
    for s in case["slots"]:
        cell = case["cells"][s["column"]]
        if s["role"] != "peer" or cell["status"] != "ok":
            continue
        if only and s["lib"] != only:
            continue
        if best is None or cell["median"] < best[1]:
            best = (s["column"], cell["median"])
    return best


def ratio(case, only=None, column=None):
    """Fastest timed peer / ours: above 1 we are faster."""
    _, ours = ours_cell(case, column)
    peer = fastest_peer(case, only)
    if ours is None or ours["status"] != "ok" or peer is None:
        return None, peer
    return peer[1] / ours["median"], peer


def cell_text(cell):
    st = cell["status"]
    if st == "ok":
        text = fmt_time(cell["median"])
        q1, q3, med = cell.get("q1"), cell.get("q3"), cell["median"]
        if q1 is not None and med > 0 and (q3 - q1) / med > 0.10:
            text += f" ±{100 * (q3 - q1) / med:.0f}%"
        return text
    return {"disagrees": "disagrees†", "n/a": "n/a", "not available": "not available", "error": "error‡"}.get(st, st)


# --- Markdown --------------------------------------------------------------


def md_table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    out += ["| " + " | ".join(str(c) for c in r) + " |" for r in rows]
    return "\n".join(out)


def goals(results):
    rows = []
    by_key = {t["key"]: t for t in results["tables"]}

    def add(table_key, goal_text, need, only=None, strict=False, column=None, family=None):
        for case in by_key.get(table_key, {"cases": []})["cases"]:
            if family and case["family"] != family:
                continue
            col, ours = ours_cell(case, column)
            r, peer = ratio(case, only, column)
            if ours is None or ours["status"] != "ok":
                verdict = "not measured: " + (ours["status"] if ours else "no call of ours")
                rows.append((goal_text, case["title"], "-", "-", "-", verdict))
                continue
            if peer is None:
                rows.append((goal_text, case["title"], fmt_time(ours["median"]), "no peer timed", "-", "-"))
                continue
            met = r > need if strict else r >= need
            rows.append((goal_text, case["title"], f"{fmt_time(ours['median'])} ({col})",
                         f"{fmt_time(peer[1])} ({peer[0]})", fmt_ratio(r), "yes" if met else "**no**"))

    add("objects", f"valid objects: is_valid ≥ {GOAL_OBJECTS:g}x the fastest peer", GOAL_OBJECTS,
        column="tessaron is_valid")
    for case in by_key.get("objects", {"cases": []})["cases"]:
        _, main = ours_cell(case)
        _, quick = ours_cell(case, "tessaron is_valid")
        if not main or not quick or main["status"] != "ok" or quick["status"] != "ok":
            continue
        over = main["median"] / quick["median"]
        rows.append((f"valid objects: validate within {GOAL_VALIDATE:g}x of is_valid", case["title"],
                     f"{fmt_time(main['median'])} (tessaron)", f"{fmt_time(quick['median'])} (tessaron is_valid)",
                     f"{over:.2f}x of is_valid", "yes" if over <= GOAL_VALIDATE else "**no**"))
    add("invalid", "invalid objects: not slower than the fastest peer", GOAL_INVALID)
    add("invalid", f"error path: validate raising ≥ {GOAL_ERROR:g}x pydantic", GOAL_ERROR, only="pydantic",
        family="int_bad")
    add("literal_unions", "literal unions: not slower than the fastest peer", GOAL_LITERALS)
    add("compile_literal", "compiling a union of literals: not slower than msgspec", GOAL_LITERAL_COMPILE,
        only="msgspec")
    add("json", f"JSON: is_valid_json ≥ {GOAL_JSON:g}x msgspec typed decode", GOAL_JSON, only="msgspec")
    add("compile", "compile: faster than a pydantic TypeAdapter", GOAL_COMPILE, only="pydantic", strict=True)
    return rows


def list_size_lines(sized):
    """The `list[int]` size sweep: per item against the C floor."""
    lines = [f"`list[int]` by size, hot data: time per item of `is_valid`, `validate` and the C floor (one "
             f"`PyLong_Check` per item of the list's storage, bench/floor.c), call included. Targets: `is_valid` "
             f"within {sized['target']:g}x the floor at every size, and never slower than `validate`.", ""]
    if sized.get("floor_missing"):
        lines += [f"The floor was not measured: {sized['floor_missing']}.", ""]
    rows = []
    for r in sized["rows"]:
        n, floor = r["n"], r.get("floor")
        per = {k: fmt_time(r[k] / n) for k in ("is_valid", "validate", "floor") if k in r}
        vs_floor = r["is_valid"] / floor if floor else None
        vs_validate = r["is_valid"] / r["validate"]
        met = (vs_floor is None or vs_floor <= sized["target"]) and vs_validate <= 1.0
        rows.append((f"{n:,}", per["is_valid"], per["validate"], per.get("floor", "-"), fmt_ratio(vs_floor),
                     fmt_ratio(vs_validate), "yes" if met else "**no**"))
    lines += [md_table(["items", "is_valid", "validate", "C floor", "is_valid ÷ floor", "is_valid ÷ validate",
                        "met"], rows), ""]
    return lines


def held_tree_lines(held):
    """Tree also held by an index: the same tree with and without an index
    holding its records."""
    lines = [f"Tree also held by an index: a tree-shaped value timed as it is and again with an index holding "
             f"its records (references from outside the value, which the walk must not take for sharing). "
             f"Target: each call on the held tree within {held['target']:g}x the plain one.", ""]
    rows = []
    for r in held["rows"]:
        cells = []
        for call in ("is_valid", "validate", "fail_fast"):
            c = r[call]
            cells += [f"{fmt_time(c['plain'])} / {fmt_time(c['held'])}", fmt_ratio(c["ratio"])]
        met = all(r[c]["ratio"] <= held["target"] for c in ("is_valid", "validate", "fail_fast"))
        rows.append((r["title"], *cells, "yes" if met else "**no**"))
    lines += [md_table(["value", "is_valid plain / held", "÷", "validate plain / held", "÷",
                        "fail_fast plain / held", "÷", "met"], rows), ""]
    return lines


def many_keys_lines(many):
    """Objects with many failing keys: time per key at two sizes."""
    sizes = many["rows"][0]["sizes"] if many["rows"] else []
    lines = [f"JSON objects with many failing keys: `dict[str, int]` given an object whose values are all strings, "
             f"and the same object with each key given again later with an int (a member). Time per key at "
             f"{' and '.join(f'{n:,}' for n in sizes)} keys. Target: per key at the larger size within "
             f"{many['target']:g}x the smaller (work linear in the keys).", ""]
    rows = []
    for r in many["rows"]:
        for call, per in r["calls"].items():
            growth = per[-1] / per[0] if per[0] else None
            met = growth is not None and growth <= many["target"]
            rows.append((r["document"], call, *(fmt_time(p) for p in per), fmt_ratio(growth),
                         "yes" if met else "**no**"))
    lines += [md_table(["document", "call", *(f"{n:,} keys" for n in sizes), "growth", "met"], rows), ""]
    return lines


def single_thread_lines(single):
    """Single-threaded JSON against an older build's recorded figures."""
    lines = [f"Single-threaded JSON on nested records without constraints, against the figures recorded for "
             f"{single['old_commit']} (bench/run.py `JSON_FIGURES_A6F64DE`, measured in another session on a "
             f"shared machine). Target: within {single['target']:g}x the old figure.", ""]
    rows = []
    for r in single["rows"]:
        ratio = r["ratio"]
        met = "-" if ratio is None else ("yes" if ratio <= single["target"] else "**no**")
        rows.append((r["name"], fmt_time(r["median"]), fmt_time(r["old"]), fmt_ratio(ratio), met))
    lines += [md_table(["call", "now", single["old_commit"], "now ÷ old", "met"], rows), ""]
    return lines


def slower_cases(results):
    """Every (case, peer) where a timed peer beats our main call."""
    out = []
    for table in results["tables"]:
        for case in table["cases"]:
            col, ours = ours_cell(case)
            if ours is None or ours["status"] != "ok":
                continue
            for s in case["slots"]:
                cell = case["cells"][s["column"]]
                if s["role"] == "peer" and cell["status"] == "ok" and cell["median"] < ours["median"]:
                    out.append((table["title"], case["title"], col, ours["median"], s["column"], cell["median"]))
    return out


def _load_line(results):
    loads = [c["load"] for t in results["tables"] for c in t["cases"] if c.get("load") is not None]
    if not loads:
        return []
    busy = results["meta"].get("busy_load")
    waits = "The run waits (a bounded time) for a quiet machine before each case; a" if results["meta"].get(
        "quiet_wait") else "A"
    text = (f"Load average at the start of each case: {min(loads):g} to {max(loads):g}. {waits} case that "
            f"started above {busy:g} has its load next to its name, and its numbers are less trustworthy than "
            f"the others.")
    return [text, ""]


def markdown(results):
    meta = results["meta"]
    v = meta["versions"]
    lines = ["# tessaron against the validators people use today", ""]
    if meta.get("smoke"):
        lines += ["**Smoke run**: small inputs and few rounds; these numbers only show that the harness works.", ""]
    lines += [
        f"Regenerated by `make bench` ([bench/run.py](../run.py)); raw numbers in `latest.json`, "
        f"the same samples in pyperf's format in `latest.pyperf.json` (`python -m pyperf compare_to`).",
        "",
        f"Machine: {meta['cpu_model_name']}, {meta['cpu_count']} CPUs ({meta.get('cpu_freq') or 'frequency unknown'}), "
        f"{meta['platform']}; CPython {meta['python_version']}; load average {meta.get('load_avg_1min')} "
        f"at the start; {str(meta.get('date', ''))[:16]}, commit {meta.get('commit')}; "
        f"{meta['elapsed_seconds']:.0f} s in all.",
        "",
        "Versions: " + ", ".join(f"{k} {v[k]}" for k in v if v[k]) + ".",
        "",
        *_load_line(results),
        "How to read: a cell is the median time of one call over "
        f"{meta['rounds']} interleaved samples (fewer for the slowest calls, never under 5 in a full run), "
        "all libraries timed in turn in one process; \"±\" is the interquartile range when it exceeds 10% of the "
        "median. **× fastest peer** is the fastest timed peer's median divided by ours: above 1.00x we are "
        "faster. Before it is timed, every library is run on the case's verdict corpus (valid and invalid "
        "values, including one bad item at the end of a 10,000-item list) and must give our verdict on every "
        "one and on the timed input itself; a library that does not is marked *disagrees†* and not timed (the reasons "
        "are listed below). "
        "Peers run in strict mode where they have one. beartype* samples one item per container, so it is not "
        "a full check; on containers it fails the corpus for that reason. *n/a*: the library has no such call; "
        "*not available*: our side of it is not built yet.",
        "",
    ]

    lines += ["## Goals", ""]
    g = goals(results)
    lines += [md_table(["goal", "case", "ours", "fastest peer", "× fastest peer", "met"], g), ""]

    for table in results["tables"]:
        if not table["cases"]:
            continue
        cols = columns_of(table)
        header = ["case"] + [c["column"] for c in cols] + ["× fastest peer"]
        rows = []
        for case in table["cases"]:
            r, peer = ratio(case)
            busy = case.get("load") is not None and case["load"] > results["meta"].get("busy_load", 1e9)
            row = [case["title"] + (f" (load {case['load']:g})" if busy else "")]
            for c in cols:
                cell = case["cells"].get(c["column"])
                row.append(cell_text(cell) if cell else "")
            row.append(fmt_ratio(r) + (f" ({peer[0]})" if peer else ""))
            rows.append(row)
        lines += [f"## {table['title']}", "", md_table(header, rows), ""]
        calls = []
        for c in cols:
            if c["call"]:
                role = {"ours": " (ours; the ratio's subject)", "reference": " (reference, not in the ratio)"}.get(
                    c["role"], "")
                calls.append(f"- **{c['column']}**{role}: `{c['call']}`" + (f"; {c['note']}" if c["note"] else ""))
        lines += calls + [""]

    imp = results.get("imports") or {}
    if imp:
        lines += ["## Import time", "",
                  "Median over fresh interpreters, measured inside each (start-up of the interpreter excluded).", ""]
        rows = [(col, f"`{c['call']}`", fmt_time(c["median"]) if c["status"] == "ok" else c["status"])
                for col, c in imp.items()]
        lines += [md_table(["library", "statement", "median"], rows), ""]

    mem = results.get("memory") or []
    if mem:
        lines += ["## Peak memory of one call", "",
                  "Resident memory the first call adds at its peak, in a fresh interpreter once the input and "
                  "the validator are built (bench/probe.py, median of the runs). It includes what the call "
                  "returns, so the libraries that convert pay for their copy of the input. \"holds\": what the "
                  "process still holds after the call returned and its result was collected (buffers kept for "
                  "the next call, or memory the allocators keep), shown from 64 KiB.", ""]
        groups = []  # rows with the same columns share a table (objects, JSON text)
        for row in mem:
            cols = [s["column"] for s in row["slots"]]
            for g in groups:
                if g[0] == cols:
                    g[1].append(row)
                    break
            else:
                groups.append((cols, [row]))
        for cols, rows_in in groups:
            rows = []
            for row in rows_in:
                r = [row["title"]]
                for c in cols:
                    cell = row["cells"].get(c)
                    if cell is None:
                        r.append("")
                    elif cell["status"] != "ok":
                        r.append(cell["status"])
                    else:
                        held = cell.get("held_kib", 0)
                        r.append(fmt_kib(cell["kib"]) + (f" (holds {fmt_kib(held)})" if held >= 64 else ""))
                rows.append(r)
            lines += [md_table(["case"] + cols, rows), ""]

    floor = results.get("overhead")
    alloc = results.get("allocation")
    decided = results.get("decisions")
    containers = results.get("container_decisions")
    slowest = results.get("slowest_decisions")
    sized = results.get("list_sizes")
    held = results.get("held_trees")
    many = results.get("json_many_keys")
    single = results.get("json_single_thread")
    if floor or alloc or decided or containers or slowest or sized or held or many or single:
        lines += ["## Checks of our own", ""]
    if floor:
        lines += [f"Per-call floor: `is_valid` of a scalar schema against a bare `isinstance(1, int)`; the target "
                  f"is within {floor['target']}x.", ""]
        rows = [(r["name"], fmt_time(r["median"]), fmt_ratio(r["ratio"]),
                 "" if r["name"].startswith("isinstance") else ("ok" if r["ratio"] <= floor["target"] else "**over**"))
                for r in floor["rows"]]
        lines += [md_table(["call", "median", "÷ isinstance", "target"], rows), ""]
    if alloc:
        extra = alloc["bytes_beyond_baseline"]
        lines += [f"Verdict walk of {alloc['records']:,} records of six fields: `is_valid` allocated {extra} bytes "
                  f"beyond the cost of measuring (target 0: {'ok' if extra <= 0 else '**allocates**'}), "
                  f"{alloc['ns_per_record']:.1f} ns per record.", ""]
    if held:
        lines += held_tree_lines(held)
    if sized:
        lines += list_size_lines(sized)
    if many:
        lines += many_keys_lines(many)
    if single:
        lines += single_thread_lines(single)
    for timed, what in ((decided, "flat schemas"), (containers, "list, tuple and set schemas")):
        if not timed:
            continue
        lines += [f"Decisions on the descriptor route (`relation_to` of {what} the structural decision leaves "
                  f"open); the target is under {fmt_time(timed['target'])} each.", ""]
        rows = [(r["name"], fmt_time(r["median"]), "ok" if r["median"] <= timed["target"] else "**over**")
                for r in timed["rows"]]
        lines += [md_table(["question", "median", "target"], rows), ""]
    if slowest:
        lines += [f"Slowest decisions: the questions we know to cost most (large or costly pattern automata, "
                  f"whole decisions by either route); each answers as it would unbounded or \"undecided\" where "
                  f"a budget ends, and the target is under {fmt_time(slowest['target'])} each.", ""]
        rows = [(r["name"], fmt_time(r["median"]), "ok" if r["median"] <= slowest["target"] else "**over**")
                for r in slowest["rows"]]
        lines += [md_table(["question", "median", "target"], rows), ""]

    slow = slower_cases(results)
    lines += ["## Where a peer is faster", ""]
    if slow:
        lines += [md_table(["table", "case", "ours", "peer", "ours ÷ peer"],
                           [(t, c, f"{fmt_time(o)} ({oc})", f"{fmt_time(p)} ({pc})", fmt_ratio(o / p))
                            for t, c, oc, o, pc, p in slow]), ""]
    else:
        lines += ["None: no timed peer beat our main call in any case.", ""]

    lines += ["## † Verdict check: not timed", ""]
    any_dis = False
    for table in results["tables"]:
        for case in table["cases"]:
            for col, cell in case["cells"].items():
                if cell["status"] in ("disagrees", "error"):
                    any_dis = True
                    mark = "†" if cell["status"] == "disagrees" else "‡ error"
                    lines.append(f"- {table['title']} / {case['title']} / **{col}** {mark}: {cell['reason']}")
            for m in case.get("ours_label_mismatches") or []:
                any_dis = True
                lines.append(f"- {table['title']} / {case['title']}: **ours contradicts the corpus**: {m}")
    if not any_dis:
        lines.append("Every library agreed with us on every corpus value.")
    lines.append("")

    na = []
    for table in results["tables"]:
        for case in table["cases"]:
            for col, cell in case["cells"].items():
                if cell["status"] in ("n/a", "not available") and cell.get("reason"):
                    na.append((table["title"], case["title"], col, cell["status"], cell["reason"]))
    if na:
        lines += ["## Not available, not applicable", ""]
        seen = set()
        for t, c, col, st, reason in na:
            key = (col, st, reason)
            if st == "n/a" and key in seen:
                continue
            seen.add(key)
            where = "" if st == "n/a" else f"{t} / {c} / "
            lines.append(f"- {where}**{col}** ({st}): {reason}")
        lines.append("")

    edge_blocks = []
    for table in results["tables"]:
        for case in table["cases"]:
            e = case.get("edges")
            if not e:
                continue
            cols = list(e["verdicts"])
            rows = [[val] + [e["verdicts"][c][i] for c in cols] for i, val in enumerate(e["values"])]
            edge_blocks += [f"**{table['title']} / {case['title']}**", "", md_table(["value"] + cols, rows), ""]
    if edge_blocks:
        lines += ["## Edge probes", "",
                  "Values the libraries read differently from the same hint. Reported for information: they "
                  "change which values a set holds, not the work a check does, so they do not stop a library "
                  "from being timed.", ""] + edge_blocks
    return "\n".join(lines).rstrip() + "\n"


# --- the chart ---------------------------------------------------------------


def _panels(results):
    """(title, [(case title, [(column, lib, value)])], formatter, column) for each chart panel."""
    panels = []
    side = {"objects": 0, "invalid": 0, "compile": 0, "json": 1, "json_invalid": 1}
    for table in results["tables"]:
        if not table["cases"]:
            continue
        cols = [c for c in columns_of(table) if c["role"] in ("ours", "peer", "reference")]
        data = []
        for case in table["cases"]:
            bars = [(c["column"], c["lib"], case["cells"][c["column"]]["median"]) for c in cols
                    if c["column"] in case["cells"] and case["cells"][c["column"]]["status"] == "ok"]
            data.append((case["title"], bars))
        panels.append((table["title"] + ": time per call", data, fmt_time, side.get(table["key"], 1)))
    imp = results.get("imports") or {}
    if imp:
        bars = [(c, v["lib"], v["median"]) for c, v in imp.items() if v["status"] == "ok"]
        panels.append(("Import time", [("import", bars)], fmt_time, 1))
    mem = results.get("memory") or []
    if mem:
        data = []
        for row in mem:
            bars = [(s["column"], s["lib"], row["cells"][s["column"]]["kib"] * 1024) for s in row["slots"]
                    if s["role"] in ("ours", "peer") and row["cells"][s["column"]]["status"] == "ok"]
            data.append((row["title"], bars))
        panels.append(("Peak memory of one call", data, lambda b: fmt_kib(b / 1024), 1))
    return panels


def plot(results, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    panels = _panels(results)
    size = [sum(len(b) + 1 for _, b in data) + 2 for _, data, _, _ in panels]
    cols = [[i for i, p in enumerate(panels) if p[3] == c] for c in (0, 1)]
    height = max(sum(size[i] for i in col) for col in cols) * 0.15 + 1.2
    fig = plt.figure(figsize=(17, height))
    outer = fig.add_gridspec(1, 2, wspace=0.55, left=0.165, right=0.98, top=1 - 0.9 / height, bottom=0.02)
    for c, col in enumerate(cols):
        if not col:
            continue
        total = sum(size[i] for i in col)
        ratios = [size[i] for i in col] + [max(0, max(sum(size[i] for i in k) for k in cols) - total)]
        inner = outer[c].subgridspec(len(ratios), 1, height_ratios=[max(r, 0.001) for r in ratios], hspace=0.45)
        for k, i in enumerate(col):
            title, data, fmt, _ = panels[i]
            ax = fig.add_subplot(inner[k])
            y, ticks, ticklabels = 0.0, [], []
            values = [v for _, bars in data for _, _, v in bars if v > 0]
            floor = min(values) / 2 if values else 1.0  # where a zero is drawn on the log scale
            for case_title, bars in data:
                start = y
                for column, lib, value in bars:
                    ours = lib == "tessaron" and column.startswith("tessaron")
                    shown = value if value > 0 else floor
                    ax.barh(y, shown, height=0.8, color=COLOURS.get(lib, "#333333"),
                            edgecolor="black" if ours else "none", linewidth=0.8)
                    ax.text(shown, y, f" {fmt(value)}  {column}", va="center", fontsize=6.5,
                            fontweight="bold" if ours else "normal")
                    y += 1
                ticks.append((start + max(y - 1, start)) / 2)
                ticklabels.append(case_title)
                y += 1
            ax.set_xscale("log")
            if values:
                ax.set_xlim(floor / 2, max(values) * 40)
            ax.set_ylim(y - 0.5, -0.7)
            ax.set_yticks(ticks)
            ax.set_yticklabels(ticklabels, fontsize=7.5)
            ax.tick_params(axis="x", labelsize=7)
            ax.set_title(title, fontsize=9.5, loc="left")
            ax.grid(axis="x", which="major", alpha=0.3)
    meta = results["meta"]
    fig.suptitle(f"tessaron {meta['versions'].get('tessaron')} against its peers, log scale, shorter is better "
                 f"(ours outlined)   {meta['cpu_model_name']}, {meta['cpu_count']} CPUs, CPython "
                 f"{meta['python_version']}" + ("   [SMOKE RUN: the numbers mean nothing]" if meta.get("smoke") else ""),
                 fontsize=10, y=1 - 0.3 / height)
    fig.savefig(path, dpi=80)
    plt.close(fig)


# --- pyperf's format ---------------------------------------------------------


def write_pyperf(results, path):
    """One pyperf benchmark per (table, case, library), values in seconds per call."""
    import pyperf

    common = dict(results["meta"]["pyperf_metadata"])
    for k in ("date", "mem_max_rss", "load_avg_1min", "uptime", "runnable_threads"):
        common.pop(k, None)
    benches = []
    for table in results["tables"]:
        for case in table["cases"]:
            for col, cell in case["cells"].items():
                if cell["status"] != "ok":
                    continue
                md = dict(common, name=f"{table['key']}: {case['title']}: {col}", loops=cell["loops"], unit="second")
                run = pyperf.Run(cell["samples"], metadata=md, collect_metadata=False)
                benches.append(pyperf.Benchmark([run]))
    for col, cell in (results.get("imports") or {}).items():
        if cell["status"] == "ok":
            md = dict(common, name=f"import: {col}", loops=1, unit="second")
            benches.append(pyperf.Benchmark([pyperf.Run(cell["samples"], metadata=md, collect_metadata=False)]))
    if benches:
        pyperf.BenchmarkSuite(benches).dump(str(path), replace=True)


if __name__ == "__main__":
    src = Path(sys.argv[1])
    res = json.loads(src.read_text())
    (src.parent / "latest.md").write_text(markdown(res))
    plot(res, src.parent / "latest.png")
