"""Bounded work and memory of the walk on hostile inputs.

Each behaviour here used to cost time exponential in the nesting of the
value, or memory proportional to failures times depth.  The tests use inputs
small enough to run in well under a second once fixed, and assert on the
structure of the result (what was reported, which objects are shared, how
much heap a raise keeps) rather than on timings.
"""

import ctypes
import dataclasses
import json
import os
import subprocess
import sys
from collections import OrderedDict
from typing import Annotated, Literal, Union

import pytest

import _tessaron
from tessaron import ValidationError, Validator, anything, complement, intersection, recursive, union

from interpreter import cpython_only

SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def _heap_reader():
    if SANITIZED:
        return None
    try:
        fn = ctypes.CDLL(None).mallinfo2
    except (OSError, AttributeError):
        return None
    fn.restype = _Mallinfo2
    return lambda: fn().uordblks + fn().hblkhd


HEAP_IN_USE = _heap_reader()


def raised(v, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        v.validate(value, **kwargs)
    return info.value


# --- many failures under a deep prefix ---------------------------------------------


def nested(spec, depth):
    for _ in range(depth):
        spec = list[spec]
    return spec


@pytest.mark.skipif(HEAP_IN_USE is None, reason="needs the C heap counters (glibc, no sanitizer)")
@cpython_only("its C-API objects (the errors' items among them) come from the C heap too")
def test_failures_share_their_path_prefix():
    # 20,000 failures, each under the same 100 list levels: a copied path
    # per failure kept about 3.2 KB each; shared prefixes keep one node.
    failures, depth = 20_000, 100
    v = Validator(nested(int, depth + 1))
    value = ["x"] * failures
    for _ in range(depth):
        value = [value]
    before = HEAP_IN_USE()
    err = raised(v, value)
    grown = HEAP_IN_USE() - before
    message = len(str(err))
    assert message > 0
    assert grown - message < 400 * failures, (grown, message)


def test_errors_share_the_objects_of_a_common_prefix():
    v = Validator({"a": {"b": {"c": list[int]}}})
    err = raised(v, {"a": {"b": {"c": ["x", "y", 3, "z"]}}})
    paths = [item["path"] for item in err.errors]
    assert paths == [("a", "b", "c", 0), ("a", "b", "c", 1), ("a", "b", "c", 3)]
    for k in range(3):
        assert paths[0][k] is paths[1][k] is paths[2][k]
    assert err.errors[0]["expected"] is err.errors[2]["expected"]
    assert err.errors[0]["code"] is err.errors[1]["code"]
    assert err.errors[0]["path"] == err.path


# --- unions of recursive schemas ----------------------------------------------------
#
# A union tries each member on the same value; through a recursive schema
# every member reached the same sub-values again, so the work grew as
# members ** depth.  `_walk_steps()` counts the walk levels entered on this
# thread; the bounds below are a few dozen levels per level of the value,
# where the exponential walk needed millions at these depths.


def steps_of(call):
    before = _tessaron._walk_steps()
    try:
        result = ("ok", call())
    except ValidationError as e:
        result = ("error", [(x["code"], x["path"], x["expected"], x["value"]) for x in e.errors])
    return result, _tessaron._walk_steps() - before


Node = recursive(lambda X: union({"type": Literal["add"], "left": X},
                                 {"type": Literal["mul"], "left": X},
                                 {"type": Literal["num"], "value": int}))
DEPTH = 16


def chain(leaf, op, depth=DEPTH):
    value = leaf
    for _ in range(depth):
        value = {"left": value, "type": op}  # "left" first, also in the JSON text
    return value


BAD = chain({"type": "num", "value": "oops"}, "add")
UNDER = ("left",) * DEPTH
ALL_BAD = [
    ("missing_key", UNDER + ("left",), "required key left", "missing"),
    ("literal_error", UNDER + ("type",), "the literal 'add'", "'num'"),
    ("extra_forbidden", UNDER + ("value",), "no unexpected key", "'value'"),
]


@pytest.mark.parametrize(
    "entry, expected",
    [
        (lambda v: Node.validate(v), ("error", ALL_BAD)),
        (lambda v: Node.validate(v, fail_fast=True), ("error", ALL_BAD[:1])),
        (lambda v: Node.ensure(v), ("error", ALL_BAD)),
        (lambda v: Node.is_valid(v), ("ok", False)),
        (lambda v: Node.validate_json(json.dumps(v)), ("error", ALL_BAD)),
        (lambda v: Node.load(json.dumps(v), fail_fast=True), ("error", ALL_BAD[:1])),
        (lambda v: Node.is_valid_json(json.dumps(v)), ("ok", False)),
    ],
    ids=["validate", "fail_fast", "ensure", "is_valid", "validate_json", "load", "is_valid_json"],
)
def test_failing_union_of_recursive_records_is_polynomial(entry, expected):
    result, steps = steps_of(lambda: entry(BAD))
    assert result == expected
    assert steps < 60 * DEPTH, steps


@pytest.mark.parametrize(
    "schema",
    [recursive(lambda X: union(int, {"a": X})), recursive(lambda X: union(int, dict[str, X]))],
    ids=["record", "dict"],
)
@pytest.mark.parametrize("fail_fast", [False, True])
def test_failing_union_of_recursive_records_is_linear_in_depth(schema, fail_fast):
    # Each level's member walked the failing rest again under the other
    # member's failure: 1,024 walk levels at depth 20, 24,174 at depth 120.
    def steps(depth):
        value = "x"
        for _ in range(depth):
            value = {"a": value}
        result, n = steps_of(lambda: schema.validate(value, fail_fast=fail_fast))
        assert result[0] == "error"
        return n

    assert steps(120) <= 7 * steps(20)


@pytest.mark.parametrize("entry", [Node.is_valid, Node.validate, lambda v: Node.is_valid_json(json.dumps(v))])
def test_valid_value_of_the_second_member_is_polynomial(entry):
    # The first member walks "left" fully, then fails on "type"; the second
    # walks the same "left" again, at every level.
    result, steps = steps_of(lambda: entry(chain({"type": "num", "value": 1}, "mul")))
    assert result[1] in (True, None)
    assert steps < 30 * DEPTH, steps


def test_union_of_recursive_lists_is_polynomial():
    v = recursive(lambda X: Union[int, list[X], list[X | str]])
    value = 1.5
    for _ in range(20):
        value = [value]
    result, steps = steps_of(lambda: v.validate(value))
    assert result == ("error", [("union_error", (0,) * 20, "one of: str, int, list, list", "1.5")])
    assert steps < 60 * 20, steps
    assert steps_of(lambda: v.is_valid(value))[1] < 30 * 20
    assert steps_of(lambda: v.is_valid_json(json.dumps(value)))[1] < 30 * 20


Tagged = recursive(lambda X: union(int, list[X], {"k": X, "t": Literal[1]}, {"k": X, "t": Literal[2]}))


def tagged_chain(leaf, depth):
    for _ in range(depth):
        leaf = {"k": leaf, "t": 1}
    return leaf


def test_value_past_the_recursion_limit_is_polynomial():
    # Every level fails by the limit met below it; each member still walks
    # the same child, from the same guard, only once.
    value = [tagged_chain(1, 130)]
    result, steps = steps_of(lambda: Tagged.validate(value, fail_fast=True))
    assert result[0] == "error"
    assert [(code, len(path)) for code, path, _, _ in result[1]] == [("recursion_limit", 128)]
    assert steps < 60 * 130, steps
    assert steps_of(lambda: Tagged.is_valid(value))[1] < 60 * 130


def test_remembered_verdict_respects_the_recursion_limit():
    # `shared` is first checked near the top, where it fits; reached again
    # under 100 more levels it crosses the limit of 128 nested definitions.
    # The first item makes the walk start remembering (its first member
    # fails after walking "k").
    shared = tagged_chain(1, 60)
    assert Tagged.is_valid([{"k": 1, "t": 2}, shared, tagged_chain(shared, 40)])
    assert not Tagged.is_valid([{"k": 1, "t": 2}, shared, tagged_chain(shared, 100)])


def test_remembered_verdict_is_dropped_once_user_code_ran():
    # `inner` is checked (valid) under the first record member; its
    # predicate then changes `inner`, and the second member must see it.
    def check(x):
        if x == "go":
            inner["k"] = 5
            return False
        return x != "zz"

    s = recursive(lambda X: union({"a": X, "b": X, "k": Annotated[str, check]},
                                  {"a": X, "b": X, "k": X}, Literal["ok", "zz", "go"]))
    inner = {"a": "ok", "b": "ok", "k": "ok"}
    value = {"a": {"a": "ok", "b": "ok", "k": "zz"}, "b": inner, "k": "go"}
    assert s.is_valid(value) is False
    assert inner["k"] == 5


# Members that reach the same child a level apart (`list[X]` and
# `list[X | str]`): past the recursion limit every walk of the child meets
# a limit, and its memory must answer for the other depth too, or the work
# grows with every combination of those offsets (an hour at depth 140 for
# `Offsets` below).
Offsets = recursive(lambda X: union(int, list[X], list[union(X, str)],
                                    {"k": X, "t": Literal[1]}, {"k": X, "t": Literal[2]}))
Lists = recursive(lambda X: union(int, list[X], list[union(X, str)], list[union(X, bytes)]))


def offsets_chain(depth):
    value = None
    for i in range(depth):
        value = {"k": value, "t": 2} if i % 7 == 0 else [value]
    return value


def list_chain(depth, leaf=None):
    value = leaf
    for _ in range(depth):
        value = [value]
    return value


@pytest.mark.parametrize(
    "schema, value, first",
    [
        # The recursion limit: 128 nested definitions.
        (Offsets, offsets_chain(140), ("recursion_limit", 128, "at most 128 levels of recursion")),
        # The nesting limit, met first: 512 levels.
        (Lists, list_chain(140), ("recursion_limit", 128, "at most 512 levels of nesting")),
    ],
    ids=["recursion limit", "nesting limit"],
)
def test_members_a_level_apart_past_the_limits_are_polynomial(schema, value, first):
    for entry in (schema.validate, lambda v: schema.validate(v, fail_fast=True),
                  lambda v: schema.validate_json(json.dumps(v))):
        result, steps = steps_of(lambda: entry(value))
        assert result[0] == "error"
        code, path, expected, _ = result[1][0]
        assert (code, len(path), expected) == first
        # A walk that stands on a remembered one which met the nesting
        # limit answers for its own depth only, so the explaining pass of
        # `validate_json` walks a little more than the others.
        assert steps < 80 * 140, steps
    for entry in (schema.is_valid, lambda v: schema.is_valid_json(json.dumps(v))):
        result, steps = steps_of(lambda: entry(value))
        assert result == ("ok", False)
        assert steps < 30 * 140, steps


# Members that cross back edges at different values (`list[list[X]]` and
# `list[X | str]`) reach a child with guards of different entries and sizes,
# one for every way to combine the members down to it.  Without a memory
# that answers across such guards, a value past the nesting limit, or past
# the recursion limit, or merely failing while recording, took hours.
Quads = recursive(lambda X: union(int, list[list[list[list[X]]]], list[union(X, str)]))
Records = recursive(lambda X: union(int, {"a": {"a": X}}, {"a": union(X, str)}, {"a": X, "b": int}))


def record_chain(depth, leaf):
    for _ in range(depth):
        leaf = {"a": leaf}
    return leaf


@pytest.mark.parametrize(
    "schema, value, first, bound",
    [
        # Past the nesting limit, met at a depth that depends on the route.
        (Quads, list_chain(400), ("recursion_limit", 340, "at most 512 levels of nesting"), 300 * 400),
        # No limit: every route fails at the bottom.
        (Quads, list_chain(190), ("list_type", 190, "list"), 300 * 190),
        (Records, record_chain(40, 1.5), ("union_error", 40, "one of: int, dict, dict, dict"), 60 * 40),
        # Past the recursion limit on the routes of the one-level member, met
        # with guards of different entries; the two-level one gets deepest.
        (Records, record_chain(130, 1.5), ("union_error", 130, "one of: int, dict, dict, dict"), 300 * 130),
    ],
    ids=["nesting limit", "no limit", "records", "recursion limit"],
)
def test_members_crossing_back_edges_at_different_values_are_polynomial(schema, value, first, bound):
    for entry in (schema.validate, lambda v: schema.validate(v, fail_fast=True)):
        result, steps = steps_of(lambda: entry(value))
        assert result[0] == "error"
        code, path, expected, _ = result[1][0]
        assert (code, len(path), expected) == first
        assert steps < bound, steps
    result, steps = steps_of(lambda: schema.is_valid(value))
    assert result == ("ok", False)
    assert steps < bound, steps


def test_members_crossing_back_edges_answer_alike_for_python_values_and_json():
    # A parsed document is a tree, so its memory answers across guards
    # without looking below the value; the answers must be those the Python
    # values get.
    for schema, value in [(Quads, list_chain(150)), (Records, record_chain(60, "s")),
                          (Quads, list_chain(150, 1)), (Records, record_chain(60, 1))]:
        assert steps_of(lambda: schema.validate(value))[0] == steps_of(
            lambda: schema.validate_json(json.dumps(value)))[0]
        assert schema.is_valid(value) == schema.is_valid_json(json.dumps(value))


# --- complements that walk their inner schema again ------------------------------------
#
# A complement whose inner walk refused after running user code walks it
# once more to see whether the value changed meanwhile.  Complements nested
# inside that second walk must not do the same, or the work doubles with
# every complement on the way down.


def _seen(value):
    return True


# Every list level negates the one below it: a list nested d deep around
# None is a member exactly when d is even.
Negations = recursive(lambda X: union(None, complement(Annotated[list[X], _seen])))


@pytest.mark.parametrize("depth", [39, 40])
@pytest.mark.parametrize("entry", ["is_valid", "validate"])
def test_nested_complements_that_walk_again_are_polynomial(depth, entry):
    value = None
    for _ in range(depth):
        value = [value]
    if entry == "is_valid":
        result, steps = steps_of(lambda: Negations.is_valid(value))
        assert result == ("ok", depth % 2 == 0)
    else:
        result, steps = steps_of(lambda: Negations.validate(value))
        assert result[0] == ("ok" if depth % 2 == 0 else "error")
    assert steps < 4 * depth * depth, steps


# A dict lookup compares the key sought with each stored key of the same
# hash, calling a stored key's own `__eq__`: user code the memo must hear
# of.  Here that `__eq__` turns `c["k"]` bad after `c` was found valid under
# the first members of the union; the recursive schema, which remembers
# `c`, must answer as the flat one that walks it again.  Whether the lookup
# meets the colliding key first depends on the hash seed, so the check runs
# under several.
LOOKUP_CALLS_USER_CODE = r"""
from typing import Literal
from tessaron import anything, recursive, union

def rec(X, t):
    return {"k": X, "t": Literal[t], anything: anything}

Rec = recursive(lambda X: union(int, rec(X, 1), rec(X, 2), rec(X, 3)))
Inner = union(int, rec(int, 1), rec(int, 2), rec(int, 3))
Flat = union(int, rec(Inner, 1), rec(Inner, 2), rec(Inner, 3))

class Evil:
    def __init__(self, target):
        self.target, self.calls = target, 0
    def __hash__(self):
        return hash("t")
    def __eq__(self, other):
        self.calls += 1
        if self.calls == 2:
            self.target["k"] = "bad"
        return False

def value():
    c = {"k": 7, "t": 1}
    e = Evil(c)
    d = {e: 0, "k": c, "t": 3}
    e.calls = 0
    return d

print(Flat.is_valid(value()), Rec.is_valid(value()))
"""


@pytest.mark.parametrize("seed", ["1", "2", "3", "4"])
def test_a_lookup_meeting_a_key_with_its_own_eq_counts_as_user_code(seed):
    done = subprocess.run([sys.executable, "-c", LOOKUP_CALLS_USER_CODE], capture_output=True, text=True,
                          env={**os.environ, "PYTHONHASHSEED": seed}, timeout=120)
    assert done.returncode == 0, done.stderr
    flat, rec = done.stdout.split()
    assert rec == flat


# --- values that share objects -------------------------------------------------------
#
# A value whose containers are held by several parents (a document with
# YAML anchors, any object graph) has as many paths as 2 ** depth here;
# `is_valid` and `fail_fast` must work in the number of distinct objects.
# The collecting walk reports every failing path, so it is compared on
# small values only, with the report of a tree copy.

Lists = recursive(lambda X: union(int, [X]))
Pairs = recursive(lambda X: union(int, tuple[X, X], list[X]))
Forks = recursive(lambda X: union(int, {"a": X, "b": X}, {"a": X, "t": Literal[1]}))
Sets = recursive(lambda X: union(int, frozenset[X], tuple[X, ...]))
SetsOfTuples = recursive(lambda X: union(int, frozenset[tuple[X, ...]]))
Plain = Validator(nested(Union[int, list[int]], 9))  # no recursion, no union above the leaves


class SubList(list):
    pass


class SubTuple(tuple):
    pass


SHARED = [
    # (schema, a level made from the one below, a valid leaf, a failing leaf)
    (Lists, lambda v: [v, v], 1, "x"),
    (Pairs, lambda v: (v, v), 1, "x"),
    (Pairs, lambda v: [v, (v, v), v], 1, 2.5),
    (Forks, lambda v: {"a": v, "b": v}, 1, None),
    (Forks, lambda v: {"a": {"a": v, "t": 1}, "b": v}, 1, "x"),
    (Sets, lambda v: (frozenset([v, 0]), frozenset([v, 1])), 1, "x"),
    # The set's elements share their child: fail_fast walks every element
    # to sort their failures.
    (SetsOfTuples, lambda v: frozenset([(v,), (v, 0)]), 1, "x"),
    (Plain, lambda v: [v, v, v], 1, "x"),
    # Subclasses of list, tuple and dict are read through their storage.
    (Lists, lambda v: SubList([v, v]), 1, "x"),
    (Pairs, lambda v: SubTuple((v, v)), 1, "x"),
    (Forks, lambda v: OrderedDict(a=v, b=v), 1, None),
]
SHARED_IDS = ["lists", "tuples", "lists and tuples", "records", "two records", "frozensets", "sets of tuples",
              "no recursion", "list subclass", "tuple subclass", "OrderedDict"]


def doubled(depth, leaf, make):
    for _ in range(depth):
        leaf = make(leaf)
    return leaf


def tree_copy(value):
    if isinstance(value, (list, tuple, frozenset)):
        return type(value)(tree_copy(x) for x in value)
    if isinstance(value, dict):
        return type(value)((k, tree_copy(x)) for k, x in value.items())
    return value


@pytest.mark.parametrize("schema, make, good, bad", SHARED, ids=SHARED_IDS)
def test_shared_values_are_checked_in_the_number_of_their_objects(schema, make, good, bad):
    depth = 9 if schema is Plain else 60  # 3 ** 9 and 2 ** 60 paths
    good_value, bad_value = doubled(depth, good, make), doubled(depth, bad, make)
    for entry, value, expected in [
        (schema.is_valid, good_value, ("ok", True)),
        (schema.is_valid, bad_value, ("ok", False)),
        (lambda v: schema.validate(v, fail_fast=True), good_value, ("ok", None)),
    ]:
        result, steps = steps_of(lambda: entry(value))
        assert result == expected
        assert steps < 40 * depth, steps
    result, steps = steps_of(lambda: schema.validate(bad_value, fail_fast=True))
    assert result[0] == "error" and len(result[1]) == 1
    assert steps < 80 * depth, steps


@pytest.mark.parametrize("schema, make, good, bad", SHARED, ids=SHARED_IDS)
def test_shared_values_get_the_answers_of_their_tree_copies(schema, make, good, bad):
    for depth in (1, 2, 5):
        for leaf in (good, bad):
            value = doubled(depth, leaf, make)
            copy = tree_copy(value)
            for entry in (schema.is_valid, schema.validate, lambda v: schema.validate(v, fail_fast=True)):
                assert steps_of(lambda: entry(value))[0] == steps_of(lambda: entry(copy))[0]


def test_fail_fast_on_a_shared_value_reports_the_first_failure_of_its_tree():
    # The union chooses its member by what each member's walk would record
    # (the deepest path, a hard failure) and reports that member's first
    # failure: the leaf 60 levels down, by its first path.
    value = doubled(60, "x", lambda v: [v, v])
    assert steps_of(lambda: Lists.validate(value, fail_fast=True))[0] == (
        "error", [("union_error", (0,) * 60, "one of: int, list", "'x'")])
    # Past the nesting limit, the hard failure, as on a tree.
    deep = doubled(300, 1, lambda v: [v, v])
    result, steps = steps_of(lambda: Lists.validate(deep, fail_fast=True))
    assert [(code, len(path), expected) for code, path, expected, _ in result[1]] == [
        ("recursion_limit", 128, "at most 128 levels of recursion")]
    assert steps < 80 * 300, steps


def test_a_shared_value_changed_by_a_predicate_is_walked_again():
    # `shared` is valid when first met; the predicate on the middle item
    # then spoils it, and its second occurrence must be seen so.
    def spoil(n):
        shared[1][0] = "x"
        return True

    shared = [1, [1]]
    v = Validator(list[Union[Annotated[int, spoil], list[Union[int, list[int]]]]])
    for entry, expected in [(v.is_valid, ("ok", False)),
                            (lambda x: v.validate(x, fail_fast=True),
                             ("error", [("int_type", (2, 1, 0), "int", "'x'")]))]:
        shared[1][0] = 1
        assert steps_of(lambda: entry([shared, 5, shared]))[0] == expected


# Four lists a definition: the nesting limit (512 levels) comes before the
# recursion limit (128 entries).
Quadruple = recursive(lambda X: list[list[list[list[union(X, int)]]]])


def quadruple_chain(depth, leaf):
    for _ in range(depth):
        leaf = [[[[leaf]]]]
    return leaf


@pytest.mark.parametrize(
    "schema, top, shared, around",
    [
        # 50 definitions (300 levels) fit at the top, not under 40 more.
        (Quadruple, lambda *items: [[[list(items)]]], quadruple_chain(50, 1), lambda s: quadruple_chain(40, s)),
        # 100 entries fit at the top, not under 40 more.
        (Tagged, lambda *items: list(items), tagged_chain(1, 100), lambda s: tagged_chain(s, 40)),
    ],
    ids=["nesting limit", "recursion limit"],
)
def test_a_remembered_shared_value_respects_the_limits(schema, top, shared, around):
    value = top(shared, around(shared))
    copy = tree_copy(value)
    assert schema.is_valid(top(shared, shared))
    assert not schema.is_valid(value)
    for entry in (schema.validate, lambda v: schema.validate(v, fail_fast=True)):
        assert steps_of(lambda: entry(value))[0] == steps_of(lambda: entry(copy))[0]


# --- what makes a container shared ---------------------------------------------------
#
# A container is remembered once the walk reaches it from a second place in
# the value.  References from outside the value (an index, a cache), and
# the several union members that meet one list at one place, do not make it
# shared: such values cost what a tree costs.

def memo_counts_of(call):
    before = _tessaron._walk_memo_counts()
    call()
    return tuple(b - a for a, b in zip(before, _tessaron._walk_memo_counts()))


def distinct_records_tree(depth):
    if depth == 0:
        return {"kids": [], "v": 0}
    return {"kids": [distinct_records_tree(depth - 1), distinct_records_tree(depth - 1)], "v": depth}


def records_of(tree):
    out, todo = [], [tree]
    while todo:
        out.append(todo.pop())
        todo += out[-1]["kids"]
    return out


Records = Validator(list[{"id": int, "tags": list[str]}])
RecursiveRecords = recursive(lambda X: union(int, {"kids": list[X], "v": int}))
# Both members walk each record at its one place (the first fails on its
# "v" after walking the kids).
TwoRecordMembers = recursive(lambda X: union(int, {"a?": int, "kids": list[X], "v": bytes}, {"kids": list[X], "v": int}))

HELD = [
    # (schema, a tree maker, the records an index holds, memo entries of the plain tree)
    (Records, lambda: [{"id": i, "tags": ["a", "b"]} for i in range(2000)], lambda v: v, 0),
    (RecursiveRecords, lambda: distinct_records_tree(10), records_of, 0),
    (TwoRecordMembers, lambda: distinct_records_tree(10), records_of, None),
]


@pytest.mark.parametrize("schema, make, held, plain_entries", HELD,
                         ids=["records", "recursive records", "two record members"])
@pytest.mark.parametrize("entry", ["is_valid", "validate", "fail_fast"])
def test_a_tree_held_by_an_index_costs_what_the_tree_costs(schema, make, held, plain_entries, entry):
    # The memo remembers what it remembers for the tree (the unions' walks
    # of a definition at one value), no more: the records an index holds
    # are not shared within the value.
    call = {"is_valid": schema.is_valid, "validate": schema.validate,
            "fail_fast": lambda v: schema.validate(v, fail_fast=True)}[entry]
    plain, tree = make(), make()
    index = {id(r): r for r in held(tree)}
    expected = memo_counts_of(lambda: call(plain))[0]
    assert memo_counts_of(lambda: call(tree))[0] == expected
    assert plain_entries is None or expected == plain_entries
    assert len(index) == len(held(tree))


def test_records_shared_within_the_value_are_remembered():
    # The counter the tests above read does count remembered containers.
    value = doubled(4, {"kids": [], "v": 0}, lambda v: {"kids": [v, v], "v": 1})
    entries, places = memo_counts_of(lambda: RecursiveRecords.is_valid(value))
    assert entries > 0 and places > 0


def test_a_flat_tree_held_by_an_index_notes_no_place():
    # Records holding no container that may be shared are walked once per
    # walk of their list, which is what is remembered: no place is noted.
    records = [{"id": i, "tags": ["a", "b"]} for i in range(2000)]
    index = {r["id"]: r for r in records}
    schema = Validator(list[{"id": int, "tags": list[str]}])
    assert memo_counts_of(lambda: schema.is_valid(records)) == (0, 0)
    assert len(index) == 2000


# Union members meet each list of a chain at one place several times
# (`list[list[X]]` two lists a definition, `list[X | str]` one), at depths
# and guard sizes that differ by route; near the 128-entry and 512-level
# limits the remembered walks must stand in for one another, shared or not.
CHAIN_SCHEMAS = [
    recursive(lambda X: union(int, list[list[X]], list[union(X, str)])),
    recursive(lambda X: union(int, list[list[X]], list[union(X, None)])),
]


@pytest.mark.parametrize("schema", CHAIN_SCHEMAS, ids=["X | str", "X | None"])
@pytest.mark.parametrize("make", [lambda v: [v], lambda v: [v, v]], ids=["chain", "shared chain"])
@pytest.mark.parametrize("entry", ["is_valid", "fail_fast"])
@pytest.mark.parametrize("lists", [128, 131, 160, 200])
def test_chains_of_lists_near_the_limits_are_polynomial(schema, make, entry, lists):
    value = 1.5
    for _ in range(lists):
        value = make(value)
    call = schema.is_valid if entry == "is_valid" else lambda v: schema.validate(v, fail_fast=True)
    result, steps = steps_of(lambda: call(value))
    assert result[0] == ("ok" if entry == "is_valid" else "error")
    assert result[0] == "error" or result[1] is False
    assert steps < 1000 * lists, steps


# --- remembered answers and user code ------------------------------------------------


def spoiling_predicate(copies, spoil_at):
    # Call `spoil_at` of P appends a str to B, which the walk of A making
    # that call has already found to be a list of ints.  A is reached at
    # `copies` places; from the second on its walks are remembered (the
    # lists in it are held by `held` too, so they may be shared).
    calls = [0]
    B = [1]

    def P(v):
        calls[0] += 1
        if calls[0] == spoil_at:
            B.append("x")
        return True

    held = [[B], [[2]]]
    A = list(held)
    return Validator(list[list[list[Annotated[list[int], P]]]]), [A] * copies, held


@pytest.mark.parametrize("copies, spoil_at", [(2, 2), (3, 4)], ids=["first walk", "remembered walk"])
@pytest.mark.parametrize("entry", ["is_valid", "validate", "fail_fast"])
def test_an_answer_whose_walk_ran_user_code_is_not_remembered(copies, spoil_at, entry):
    # The next occurrence of A must be walked again, and fail on "x".
    schema, value, held = spoiling_predicate(copies, spoil_at)
    call = {"is_valid": schema.is_valid, "validate": schema.validate,
            "fail_fast": lambda v: schema.validate(v, fail_fast=True)}[entry]
    failure = [("int_type", (copies - 1, 0, 0, 1), "int", "'x'")]
    assert steps_of(lambda: call(value))[0] == (("ok", False) if entry == "is_valid" else ("error", failure))
    assert held[0][0][-1] == "x"


@dataclasses.dataclass
class Point:
    x: int


def spoiling_key(spoil, text="x"):
    class Key(str):
        __hash__ = str.__hash__

        def __eq__(self, other):
            spoil()
            return str.__eq__(self, other)

    return Key(text)


def in_instance_dict(spoil):
    # The read of `x` looks the name up in the instance's dict, which calls
    # the stored key's `__eq__`.
    p = Point.__new__(Point)
    p.__dict__[spoiling_key(spoil)] = 1
    return p


def in_class_dict(spoil):
    # The same in the class's dict, on the first lookup of `x` in it.
    Sub = type("Sub", (Point,), {spoiling_key(spoil): 1})
    return Sub.__new__(Sub)


def by_property(spoil):
    class Sub(Point):
        @property
        def x(self):
            spoil()
            return 1

    return Sub.__new__(Sub)


def by_descriptor(spoil):
    class Spoiling:
        def __get__(self, obj, owner=None):
            spoil()
            return 1

    class Sub(Point):
        x = Spoiling()

    return Sub.__new__(Sub)


def by_getattr(spoil):
    class Sub(Point):
        def __getattr__(self, name):
            spoil()
            return 1

    return Sub.__new__(Sub)


def by_getattribute(spoil):
    class Sub(Point):
        def __getattribute__(self, name):
            spoil()
            return object.__getattribute__(self, name)

    p = Sub.__new__(Sub)
    p.__dict__["x"] = 1
    return p


ATTRIBUTE_READS = [
    in_instance_dict,
    pytest.param(in_class_dict, marks=cpython_only("a class's dict is looked up without calling its keys' `__eq__`")),
    by_property,
    by_descriptor,
    by_getattr,
    by_getattribute,
]


@pytest.mark.parametrize("make", ATTRIBUTE_READS, ids=lambda f: f.__name__)
@pytest.mark.parametrize("entry", ["is_valid", "validate", "fail_fast"])
def test_an_attribute_read_that_runs_user_code_counts_as_user_code(make, entry):
    # Reading `x` appends a str to `leaf`, inside `shared`, whose walks are
    # remembered from its second place on (the lists in it are held here
    # too, so they may be shared): its last place must see the str.
    leaf = [1]
    mid = [leaf]
    shared = [mid]
    armed = []

    def spoil():
        if armed == [True]:
            armed.append(False)
            leaf.append("bad")

    schema = Validator([union(list[list[list[int]]], Point)])
    value = [shared, shared, make(spoil), shared]
    armed.append(True)
    call = {"is_valid": schema.is_valid, "validate": schema.validate,
            "fail_fast": lambda v: schema.validate(v, fail_fast=True)}[entry]
    failure = [("int_type", (3, 0, 0, 1), "int", "'bad'")]
    assert steps_of(lambda: call(value))[0] == (("ok", False) if entry == "is_valid" else ("error", failure))
    assert leaf == [1, "bad"]


def test_a_key_added_to_an_instance_dict_midway_counts_from_then_on():
    # The predicate on `a` swaps the key "c" of the object's dict for one
    # whose `__eq__` spoils `leaf`; `b` is walked after it (`shared` is
    # remembered there), and the read of `c` then runs that `__eq__`.
    leaf = [1]
    mid = [leaf]
    shared = [mid]
    Deep = list[list[list[list[int]]]]

    @dataclasses.dataclass
    class Three:
        a: Annotated[int, lambda _: swap_key()]
        b: Deep
        c: Deep

    def swap_key():
        attributes = obj.__dict__
        attributes[spoiling_key(lambda: leaf.append("bad") if len(leaf) == 1 else None, "c")] = attributes.pop("c")
        return True

    obj = Three(1, [shared, shared], [shared])
    assert not Validator(Three).is_valid(obj)
    assert leaf == [1, "bad"]


def growing(target):
    """A predicate that appends 3 to `target` on its first call."""
    calls = []

    def grow(x):
        calls.append(x)
        if len(calls) == 1:
            target.append(3)
        return True

    return grow


def test_a_complement_does_not_admit_what_changed_under_its_walk():
    import annotated_types as at

    t = [1, 2]
    R = recursive(lambda r: union(Annotated[int, growing(t)], Validator([r])))
    assert not Validator([union(intersection(complement(R), Annotated[list, at.MinLen(10)]),
                                complement(R))]).is_valid([t])

    S = [1, 2]
    done = [False]

    def Q(v):
        if not done[0]:
            done[0] = True
            S.append(5)
        return True

    D = recursive(lambda X: list[union(Annotated[int, Q], X)])
    W = Validator(union(tuple[union(int, D), int], tuple[complement(D), anything]))
    assert (W.is_valid((S, S)), W.is_valid((S, S))) == (False, False)


@pytest.mark.parametrize("make, path", [
    (lambda inner: {"a": inner}, ("a",)),
    (lambda inner: [inner], (0,)),
    (lambda inner: {"a": {"b": inner}}, ("a", "b")),
])
def test_a_change_under_a_complement_is_reported_at_its_path(make, path):
    t = [1, 2]
    shape = make(complement(list[Annotated[int, growing(t)]]))
    result = steps_of(lambda: Validator(shape).validate(make(t)))[0]
    assert result[0] == "error"
    assert [(code, p) for code, p, _, _ in result[1]] == [("mutated_during_validation", path)]


def test_a_collecting_union_reports_the_change_its_profile_saw():
    # The first member is chosen for the change its complement saw; walked
    # again to record, the complement matches what the change left, and
    # reports the change.
    import annotated_types as at

    t = [1, 2]
    R = recursive(lambda r: union(Annotated[int, growing(t)], Validator([r])))
    v = Validator([union(intersection(complement(R), Annotated[list, at.MinLen(10)]), complement(R))])
    result = steps_of(lambda: v.validate([t]))[0]
    assert result[0] == "error"
    assert ("mutated_during_validation", (0,)) in [(code, p) for code, p, _, _ in result[1]]


def test_a_collecting_union_reports_a_change_its_record_walk_no_longer_sees():
    # The list member is chosen for the change its profiling walk saw (a
    # hard failure); walked again, the list holds "x" and fails on it.
    t = [1, 2]
    calls = []

    def spoil(x):
        calls.append(x)
        if len(calls) == 1:
            t.append("x")
        return True

    v = Validator(union(list[Annotated[int, spoil]], str))
    result = steps_of(lambda: v.validate(t))[0]
    assert result[0] == "error"
    assert [(code, p) for code, p, _, _ in result[1]] == [("int_type", (2,)), ("mutated_during_validation", ())]
