"""Validator.open and Validator.close: the record rewrite, seen through what
the rewritten validators admit."""

import sys
import typing

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tessaron import MAX_SCHEMA_NODES, Validator, complement, intersection, union

Never = typing.Never if hasattr(typing, "Never") else typing.NoReturn


class Movie(typing.TypedDict):
    title: str


def opened(spec):
    return Validator(spec).open()


def closed(spec):
    return Validator(spec).close()


@pytest.mark.parametrize(
    "make, admitted, refused",
    [
        (lambda: opened({"a": int}), [{"a": 1}, {"a": 1, "b": "x"}, {"a": 1, 2: None}], [{}, {"a": "x"}]),
        (lambda: opened({"a": int}).close(), [{"a": 1}], [{"a": 1, "b": "x"}]),
        (lambda: opened(dict[str, int]), [{"x": 1}, {2: "y"}, {"x": 1, b"k": [1]}], [{"x": "y"}]),
        (lambda: opened(dict), [{}, {1: 2}], []),
        (lambda: closed(dict), [{}], [{"a": 1}, {1: 2}]),
        (lambda: opened(dict[typing.Any, int]), [{1: 2}], [{1: "x"}]),
        (lambda: opened(Movie), [{"title": "t"}, {"title": "t", 1: 2, "x": None}], [{"title": 1}, {1: 2}]),
        (lambda: closed(Movie), [{"title": "t", "x": 1}], [{"title": "t", 1: 2}]),
        (lambda: opened({int: str, bytes: str}), [{1: "a", b"x": "b", "s": 5}], [{1: 5}, {b"x": 1}]),
        (lambda: opened({"a?": int}), [{}, {"a": 1}, {"b": "x"}], [{"a": "x"}]),
        (lambda: opened(union({}, {"a": int})), [{}, {"a": "x"}, {"q": 1}], [[]]),
        (lambda: opened({"a?": Never}), [{}, {"b": 1}], [{"a": 1}, {"a": None}]),
        (lambda: closed({"a?": Never}), [{}], [{"a": 1}, {"b": 1}]),
        (lambda: opened({"a?": typing.Any}).close(), [{}, {"a": 1}, {"a": None}], [{"b": 1}]),
        (lambda: opened(list[{"a": int}]), [[{"a": 1, "b": 2}]], [[{"b": 2}]]),
        (lambda: opened(tuple[{"a": int}, ...]), [({"a": 1, "b": 2},)], [({"a": "x"},)]),
        (lambda: opened(complement({"a": int})), [{"a": "x"}, 1], [{"a": 1, "b": 2}, {"a": 1}]),
        (lambda: opened(intersection({"a": int}, dict[str, int])), [{"a": 1, "b": 2}, {"a": 1, 3: "x"}],
         [{"a": 1, "b": "x"}]),
        (lambda: opened({"x": {"a": int}}), [{"x": {"a": 1, "b": 2}, "y": 0}], [{"x": {"b": 2}}]),
        (lambda: opened(dict[str, {"a": int}]), [{"x": {"a": 1}, 1: 2}], [{"x": {"a": 1, "b": 2}}]),
    ],
    ids=["record", "record-closed-again", "dict-str-int", "dict", "dict-closed", "dict-any-int", "typeddict",
         "typeddict-closed", "merged-clauses", "optional-key", "union-with-empty-record", "optional-never-open",
         "optional-never-closed", "optional-any-round-trip", "inside-list", "inside-tuple", "inside-complement",
         "inside-intersection", "inside-entry-value", "not-inside-clause-schemas"],
)
def test_rewritten_records_admit(make, admitted, refused):
    v = make()
    for value in admitted:
        assert v.is_valid(value), value
    for value in refused:
        assert not v.is_valid(value), value


def test_the_receiver_is_unchanged():
    v = Validator({"a": int})
    before = repr(v)
    v.open()
    v.close()
    assert repr(v) == before and not v.is_valid({"a": 1, "b": 2})


def test_dict_str_int_closes_to_itself():
    v = Validator(dict[str, int])
    assert v.close() == v
    assert v.open().close() == v


def test_a_record_and_its_opened_form_unite_into_one_member():
    v = union({"a": int}, Validator({"a": int}).open())
    assert v.open() == Validator({"a": int}).open()


@pytest.mark.skipif(sys.version_info < (3, 12), reason="the type statement")
def test_records_inside_recursive_definitions_are_rewritten():
    scope = {}
    exec("type Tree = {'value': int, 'kids': list[Tree]}", scope)
    v = Validator(scope["Tree"])
    tree = {"value": 1, "kids": [{"value": 2, "kids": [], "extra": True}]}
    assert not v.is_valid(tree)
    assert v.open().is_valid(tree)
    assert not v.open().close().is_valid(tree)


def test_open_can_cross_the_node_bound():
    # Each one-key record is two nodes, and opening adds a clause of two.
    count = MAX_SCHEMA_NODES // 3
    v = union(*[{f"k{i}": int} for i in range(count)])
    with pytest.raises(ValueError, match="past the limit of 100000"):
        v.open()
    assert hash(v.close()) == hash(v)


# --- properties (hypothesis) ---------------------------------------------

KEYS = ("a", "b", "c")
LEAVES = [int, str, bool, typing.Any, Never, None, bytes]


def flat_records(values):
    def build(fields):
        return {key + ("?" if optional else ""): schema for key, (optional, schema) in fields.items()}

    fields = st.tuples(st.booleans(), st.one_of(st.sampled_from(LEAVES), values))
    return st.dictionaries(st.sampled_from(KEYS), fields, max_size=3).map(build)


def record_free():
    return st.recursive(
        st.sampled_from(LEAVES),
        lambda children: st.one_of(
            children.map(lambda s: list[s]),
            st.lists(children, min_size=2, max_size=2).map(lambda xs: union(*xs)),
            children.map(complement),
        ),
        max_leaves=4,
    )


RECORD_FREE = record_free()


def nested_records():
    """Records (possibly nested, in lists, complemented) with no clause of
    their own and no record under a union or intersection."""
    return st.recursive(
        flat_records(RECORD_FREE),
        lambda children: st.one_of(
            flat_records(st.one_of(RECORD_FREE, children)),
            children.map(lambda s: list[s]),
            children.map(complement),
        ),
        max_leaves=4,
    )


def small_values():
    leaf = st.one_of(st.none(), st.booleans(), st.integers(-1, 1), st.sampled_from(["", "x"]),
                     st.sampled_from([b"", b"y"]))
    return st.recursive(
        leaf,
        lambda children: st.one_of(
            st.lists(children, max_size=2),
            st.dictionaries(st.sampled_from(KEYS), children, max_size=3),
            st.dictionaries(st.one_of(st.sampled_from(KEYS + ("d",)), st.integers(0, 1)), children, max_size=3),
        ),
        max_leaves=8,
    )


SMALL_VALUES = small_values()
NESTED_RECORDS = nested_records()
FLAT_RECORDS = flat_records(RECORD_FREE)


def near(spec):
    """Values shaped like `spec`: records get dicts over their declared keys
    (each present or not, sometimes with one extra key), lists get lists of
    such values, and anything else gets small values of every kind."""
    if isinstance(spec, dict):
        fields = {key.rstrip("?"): near(value) for key, value in spec.items()}
        extra = st.dictionaries(st.sampled_from(["d", 0]), SMALL_VALUES, max_size=1)
        return st.tuples(st.fixed_dictionaries({}, optional=fields), extra).map(lambda p: {**p[0], **p[1]})
    if typing.get_origin(spec) is list:
        return st.lists(near(typing.get_args(spec)[0]), max_size=2)
    return SMALL_VALUES


@settings(max_examples=300, deadline=None)
@given(st.data())
def test_open_then_close_admits_what_the_record_admits(data):
    spec = data.draw(NESTED_RECORDS)
    v = Validator(spec)
    round_trip = v.open().close()
    for x in data.draw(st.lists(near(spec), min_size=1, max_size=8)):
        assert round_trip.is_valid(x) == v.is_valid(x), (repr(v), repr(round_trip), x)


@settings(max_examples=300, deadline=None)
@given(st.data())
def test_opening_only_adds_undeclared_keys(data):
    spec = data.draw(FLAT_RECORDS)
    v = Validator(spec)
    o = v.open()
    declared = {key.rstrip("?") for key in spec}
    for x in data.draw(st.lists(near(spec), min_size=1, max_size=8)):
        own = {k: x[k] for k in x if k in declared}
        # What the declared keys admit is unchanged; undeclared keys are free.
        assert o.is_valid(x) == v.is_valid(own), (repr(v), x)
        if v.is_valid(x):
            assert o.is_valid(x), x
