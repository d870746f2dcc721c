"""The per-validator lookup tables: built once, on first use, shared by
threads, and never changing an answer.

The tables hold the interned names of record keys and object attributes;
the garbage collector sees them through the validator, which is how these
tests observe when and how often they are built.
"""

import dataclasses
import faulthandler
import gc
import sys
import threading
from typing import Annotated, Literal, Union

import pytest

from tessaron import ValidationError, Validator

from interpreter import PYPY, cpython_only


class P:
    def __init__(self, pattern):
        self.pattern = pattern


def table_names(v):
    """The str objects the validator's tables (and pool) hold, with repeats."""
    return [o for o in gc.get_referents(v) if type(o) is str]


# gc.get_referents reads an extension object's references through its
# tp_traverse slot.
reads_the_tables = cpython_only("gc.get_referents does not see what an extension object holds")


@reads_the_tables
def test_tables_are_built_on_first_validation_only():
    v = Validator({"alpha_key": int, "beta_key": str})
    assert table_names(v) == []
    assert v.is_valid({"alpha_key": 1, "beta_key": "x"})
    assert sorted(table_names(v)) == ["alpha_key", "beta_key"]
    for _ in range(3):
        v.validate({"alpha_key": 1, "beta_key": "x"})
    assert sorted(table_names(v)) == ["alpha_key", "beta_key"]


@reads_the_tables
def test_shared_entry_list_has_one_entry():
    # the two records are equal, so they share one entry list
    v = Validator(tuple[{"shared_key": int}, {"shared_key": int}])
    assert v.is_valid(({"shared_key": 1}, {"shared_key": 2}))
    assert table_names(v).count("shared_key") == 1


@reads_the_tables
def test_object_attribute_names():
    @dataclasses.dataclass
    class Point:
        x_coordinate: int
        y_coordinate: int

    v = Validator(Point)
    assert v.is_valid(Point(1, 2))
    assert not v.is_valid(Point(1, "2"))
    assert sorted(table_names(v)) == ["x_coordinate", "y_coordinate"]


@reads_the_tables
def test_copy_builds_its_own_tables():
    import copy

    v = Validator({"copied_key": int})
    v.is_valid({"copied_key": 1})
    c = copy.copy(v)
    assert table_names(c) == []
    assert c.is_valid({"copied_key": 1})
    assert table_names(c) == ["copied_key"]


class Integer(int):
    pass


class Text(str):
    pass


@pytest.mark.parametrize(
    "spec, value, member",
    [
        (Literal[1, 2, "x"], 1, True),
        (Literal[1, 2, "x"], 2, True),
        (Literal[1, 2, "x"], "x", True),
        (Literal[1, 2, "x"], 3, False),
        (Literal[1, 2, "x"], "y", False),
        (Literal[1, 2, "x"], True, False),  # a bool is not the int 1 here
        (Literal[1, True], True, True),  # a bool member is walked, not looked up
        (Literal[1, True], 1, True),
        (Literal[1, 2, "x"], 1.0, False),
        (Literal[1, 2, "x"], Integer(1), False),
        (Literal[1, 2, "x"], Text("x"), False),
        (Literal[2**70, 5], 2**70, True),  # beyond 64 bits: walked
        (Literal[2**70, 5], 2**64, False),
        (Literal["\ud800", "a"], "\ud800", True),  # no UTF-8 form: walked
        (Literal["\ud800", "a"], "a", True),
        (Union[Literal["a"], str], "b", True),  # not only literals: no table entry
        (Literal[b"x", 1], b"x", True),
    ],
)
def test_literal_sets_answer_like_the_members(spec, value, member):
    v = Validator(spec)
    for _ in range(2):  # before and after the tables exist
        assert v.is_valid(value) is member
        assert (value in v) is member
    try:
        v.validate(value)
        assert member
    except ValidationError:
        assert not member


def fresh_heavy_validator():
    """A schema whose tables take a while to build: many records and patterns."""
    fields = {f"key_{i}": Annotated[str, P(f"(?:v{i}|[a-z]{{{i % 7 + 1}}})[0-9]*")] for i in range(40)}
    return Validator(list[fields | {"kind": Literal["a", "b", 3]}])


def heavy_value(n, bad=False):
    row = {f"key_{i}": f"v{i}7" for i in range(40)} | {"kind": "a"}
    rows = [dict(row) for _ in range(n)]
    if bad:
        rows[-1]["key_3"] = "!"
    return rows


@pytest.mark.parametrize("round_", range(3))
def test_many_threads_one_fresh_validator(round_):
    v = fresh_heavy_validator()
    good, bad = heavy_value(20), heavy_value(20, bad=True)
    threads_count = 16
    barrier = threading.Barrier(threads_count)
    results = [None] * threads_count
    errors = []

    def work(i):
        try:
            barrier.wait()
            outcome = [v.is_valid(good), v.is_valid(bad)]
            try:
                v.validate(bad)
            except ValidationError as exc:
                outcome.append(exc.errors[0]["code"])
            results[i] = outcome
        except BaseException as exc:  # reported below
            errors.append(exc)

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    # A deadlock would hold the interpreter lock, so no join could time out:
    # the watchdog thread of faulthandler ends the process with the stacks.
    faulthandler.dump_traceback_later(120, exit=True)
    try:
        threads = [threading.Thread(target=work, args=(i,), daemon=True) for i in range(threads_count)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=60)
        assert not any(t.is_alive() for t in threads), "a thread is stuck: deadlock"
    finally:
        faulthandler.cancel_dump_traceback_later()
        sys.setswitchinterval(old)
    assert errors == []
    assert results == [[True, False, "string_pattern_mismatch"]] * threads_count
    # built once: one interned name per declared key, never a second set
    if not PYPY:
        names = [n for n in table_names(v) if n not in ("a", "b")]  # less the pooled literals
        assert len(names) == 41 and len(set(names)) == 41


@cpython_only("no tracemalloc")
def test_verdict_walk_of_records_allocates_nothing():
    v = Validator(list[{"id": int, "name": str, "tags": list[str]}])
    data = [{"id": i, "name": f"n{i}", "tags": ["a", "b"]} for i in range(10_000)]
    assert v.is_valid(data)

    def peak_during(call):
        tracemalloc.reset_peak()
        before, _ = tracemalloc.get_traced_memory()
        call(data)
        _, peak = tracemalloc.get_traced_memory()
        return peak - before

    import tracemalloc

    tracemalloc.start()
    try:
        baseline = peak_during(len)  # what measuring itself costs
        assert peak_during(v.is_valid) <= baseline
    finally:
        tracemalloc.stop()
