"""Validator.simplify: its deprecation warning, its folds, and that it never
changes what a validator admits."""

import math
import typing
from typing import Literal
import warnings

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tessaron import Validator, anything, complement, intersection, nothing, union

DEPRECATION = (
    "Validator.simplify is deprecated and is removed in the next minor version: a schema is built in the "
    "lattice normal form, so `repr` already shows it, and `is_empty`/`is_subtype_of`/`is_equivalent` decide "
    "what this folds and more."
)


def simplified(v):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        return v.simplify()


def test_warns_once_per_call_with_its_text_at_the_callers_line():
    v = union(int, str)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = v.simplify()
    assert [w.category for w in caught] == [DeprecationWarning]
    assert str(caught[0].message) == DEPRECATION
    assert caught[0].filename == __file__
    assert result == v


def test_raises_the_warning_under_an_error_filter():
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning) as info:
            intersection(int, str).simplify()
    assert str(info.value) == DEPRECATION


class Plain:
    pass


SIX = (None, bool, int, float, str, bytes)


@pytest.mark.parametrize(
    "schema, expected",
    [
        (intersection(int, str), nothing),
        (union(complement(int), complement(str)), anything),
        (complement(union(int, str)), intersection(complement(int), complement(str))),
        (complement(intersection(int, str)), anything),
        (intersection(list[int], tuple[int, ...]), nothing),
        (intersection(list[str], set[str]), nothing),
        (list[complement(union(int, str))], list[intersection(complement(int), complement(str))]),
        ({"a": intersection(bytes, str), "b?": int}, {"a": nothing, "b?": int}),
        (union(None, bool, int, float, str, bytes, list[int]), union(None, bool, int, float, str, bytes, list[int])),
        (union(Plain, complement(Plain)), union(Plain, complement(Plain))),
        (intersection(int, bool), intersection(int, bool)),
        (union(*SIX, complement(union(*SIX))), anything),
    ],
    ids=["int-and-str", "complements-of-disjoint", "de-morgan", "complement-of-empty", "list-and-tuple",
         "list-and-set", "inside-a-list", "inside-a-record", "a-list-keeps-the-union", "a-class-blocks-the-pair", "int-and-bool-overlap",
         "kinds-cover-everything"],
)
def test_folds(schema, expected):
    v = Validator(schema)
    s = simplified(v)
    assert s == Validator(expected)
    assert simplified(s) == s
    assert v == Validator(schema), "the receiver is unchanged"


# --- the rewrite never changes the set (hypothesis) -----------------------

class Point:
    def __init__(self, x):
        self.x = x


KEYS = ("a", "b", "c")

# typing.Never (3.11) is the same empty schema as typing.NoReturn.
SCALARS = [int, str, bool, float, bytes, None, typing.Any, typing.NoReturn, Point]
LITERALS = st.sampled_from([0, 1, -1, True, False, "", "a", b"", b"x", None, 1.5, 0.0])


def records(children):
    def build(fields):
        return {key + ("?" if optional else ""): schema for key, (optional, schema) in fields.items()}

    return st.dictionaries(st.sampled_from(KEYS), st.tuples(st.booleans(), children), max_size=3).map(build)


def schema_specs():
    leaves = st.one_of(st.sampled_from(SCALARS), LITERALS.map(lambda x: typing.Literal[x]))

    def extend(children):
        as_validator = children.map(Validator)
        members = st.lists(as_validator, min_size=2, max_size=3)
        containers = st.one_of(
            children.map(lambda s: list[s]),
            st.lists(children, max_size=3).map(lambda items: tuple[tuple(items)] if items else tuple[()]),
            children.map(lambda s: tuple[s, ...]),
            st.sampled_from([int, str, bool, bytes]).map(lambda s: frozenset[s]),
            st.sampled_from([int, str, bytes]).map(lambda s: set[s]),
            st.tuples(st.sampled_from([str, int, typing.Any]), children).map(lambda kv: dict[kv[0], kv[1]]),
            records(children),
        )
        # The folds live in the combinators: half of the inner nodes are one.
        combinators = st.one_of(
            members.map(lambda xs: union(*xs)),
            members.map(lambda xs: intersection(*xs)),
            as_validator.map(complement),
        )
        return st.one_of(containers, combinators)

    # Never a bare leaf at the top: a leaf has nothing to simplify.
    return extend(st.recursive(leaves, extend, max_leaves=8))


def python_values():
    scalars = st.one_of(
        st.none(),
        st.booleans(),
        st.integers(-2, 2),
        st.sampled_from([1.5, 0.0, -0.0, math.inf, math.nan]),
        st.sampled_from(["", "a", "xyz"]),
        st.sampled_from([b"", b"x"]),
        st.builds(Point, st.integers(0, 1)),
    )
    hashables = st.one_of(st.integers(-1, 1), st.sampled_from(["", "a"]), st.booleans(), st.sampled_from([b"x"]))

    def extend(children):
        return st.one_of(
            st.lists(children, max_size=3),
            st.lists(children, max_size=3).map(tuple),
            st.frozensets(hashables, max_size=3),
            st.sets(hashables, max_size=3),
            st.dictionaries(st.sampled_from(KEYS), children, max_size=3),
            st.dictionaries(st.one_of(st.sampled_from(KEYS), st.integers(0, 1)), children, max_size=2),
        )

    return st.recursive(scalars, extend, max_leaves=8)


def test_the_complement_of_a_long_literal_set():
    # 30,000 complements in one intersection: the complementary-pair search
    # once compared every pair (seconds); a partner is still found.
    values = tuple(range(30000))
    s = simplified(Validator(complement(Literal[values])))
    assert s == intersection(*(complement(Literal[x]) for x in values))
    assert s.is_valid(30000) is True and s.is_valid(29999) is False


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(schema_specs(), st.lists(python_values(), min_size=1, max_size=8))
def test_simplify_keeps_every_verdict(spec, values):
    v = Validator(spec)
    s = simplified(v)
    for x in values:
        assert s.is_valid(x) == v.is_valid(x), (repr(v), repr(s), x)
    assert simplified(s) == s
