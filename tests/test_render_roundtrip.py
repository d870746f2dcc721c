"""repr round trip: eval(repr(v)) rebuilds a validator equal to v.

Classes, predicates and constraints are left out of the generated schemas
(a class renders by its name, a predicate as "Predicate(...)"); the
constraint forms, patterns among them, have a table of their own.
"""

import math
import re
import typing
from typing import Annotated

import annotated_types as at
import pytest

from hypothesis import given, settings
from strategies import schemas

import tessaron
from tessaron import Validator, recursive, union

from interpreter import UNION_OPERATOR, case, has, needs

NAMESPACE = {name: getattr(tessaron, name) for name in tessaron.__all__}
# repr(float("inf")) is "inf": as for any float, eval needs the name.
NAMESPACE.update(Any=typing.Any, Literal=typing.Literal, typing=typing, inf=math.inf)


# A repr writes a union as `A | B`, which evaluates on types from 3.10 on.
@needs(UNION_OPERATOR)
@settings(max_examples=150, deadline=None)
@given(schemas)
def test_eval_of_repr_rebuilds_an_equal_validator(v):
    text = repr(v)
    rebuilt = Validator(eval(text, dict(NAMESPACE)))
    assert rebuilt == v, text
    assert hash(rebuilt) == hash(v)


def test_assembly_order_does_not_change_equality():
    # One fixpoint used directly and inside another: merged validators hold
    # it once, or twice when assembled the other way round; both finalise
    # to one set of definitions in one order.
    r = recursive(lambda y: typing.Union[list[y], None])
    a = Validator(list[dict[str, r]])
    b = recursive(lambda x: list[x] | r)
    assert union(a, b) == union(b, a) == (a | b) == (b | a)
    assert len({hash(union(a, b)), hash(union(b, a)), hash(b | a)}) == 1
    if has(UNION_OPERATOR):
        rebuilt = Validator(eval(repr(union(a, b)), dict(NAMESPACE)))
        assert rebuilt == union(a, b)


# What a program that evaluates a repr has in scope: tessaron's names,
# typing's and those of annotated-types.
USER_NAMESPACE = {
    **{name: getattr(tessaron, name) for name in tessaron.__all__},
    **{name: getattr(typing, name) for name in typing.__all__},
    **{name: getattr(at, name) for name in at.__all__},
}

PATTERN_SPECS = [
    Annotated[str, re.compile(r"[a-z]+")],
    Annotated[str, re.compile(r"[a-z]+", re.IGNORECASE)],
    Annotated[str, re.compile(r"(?i)[a-z]+")],
    Annotated[str, re.compile(r"\d{3}-\d{4}.", re.MULTILINE | re.DOTALL)],
    Annotated[str, re.compile(r"a b  # the letters", re.VERBOSE | re.I)],
    Annotated[str, re.compile(r"it's \"quoted\" \\ \t")],
    Annotated[str, re.compile("caf\u00e9|\u65e5\u672c+|\U0001f600")],
    Annotated[str, at.MinLen(1), re.compile("[0-9]+"), at.MaxLen(4)],
    Annotated[str, tessaron.Regex("(?s)a.b")],
    list[Annotated[str, re.compile("x+")]],
    {"code": Annotated[str, re.compile("[A-Z]{3}")], "n?": Annotated[int, at.Ge(0)]},
    dict[str, Annotated[str, re.compile(r"\w+", re.I)]],
]


def pattern_union():
    return union(Annotated[str, re.compile("a+")], Annotated[str, re.compile("b+", re.I)], int)


@pytest.mark.parametrize(
    "spec",
    [*PATTERN_SPECS, case(UNION_OPERATOR, "pattern_union()", globals())],
)
def test_eval_of_repr_rebuilds_pattern_forms(spec):
    v = Validator(spec)
    text = repr(v)
    assert "Regex(" in text
    rebuilt = Validator(eval(text, dict(USER_NAMESPACE)))
    assert rebuilt == v, text
    assert hash(rebuilt) == hash(v)
    assert repr(rebuilt) == text
    for sample in ("abc", "ABC", "a b", "123-4567\n", "café", "x", ["xx"], {"code": "ABC"}, 5):
        assert rebuilt.is_valid(sample) == v.is_valid(sample), (text, sample)
