"""Questions the descriptor route settles with bounds.

Where a schema has no exact descriptor -- recursion cut after one
unfolding, a literal dict key (which admits its constant's exact type
only), a key schema naming a class, a constraint the algebra cannot hold
(a predicate, a float divisor) -- the route may still bound it: from above
on the left side of an inclusion it proves "subset", and a refutation
comes from the left side bounded from below met with the right side
bounded from above.  Every "not_subset" below is checked against its
witness, every "subset" against values that would refute it.
"""

import sys
from typing import Annotated, Any, Literal

import pytest

from tessaron import Validator, complement, recursive, union

sys.path.insert(0, __import__("os").path.dirname(__file__))

import soundness_grammar as g  # noqa: E402

Ge, Lt, MinLen, MaxLen, MultipleOf = g.Ge, g.Lt, g.MinLen, g.MaxLen, g.MultipleOf

NON_NEGATIVE = union(Annotated[int, Ge(5)], Annotated[int, Ge(0), Lt(5)])

# (name, left, right, answer, values): for "not_subset" a witness is among
# the values; for "subset" none of them is a member of left outside right.
QUESTIONS = [
    ("a pair of Nones outside a cut recursion", list[None],
     recursive(lambda x: union(tuple[x, x], complement(Annotated[list[None], MinLen(2), MaxLen(2)]))),
     "not_subset", [[None, None], [None], []]),
    ("an enumeration member outside a cut recursion", Any, recursive(lambda x: union(list[x], complement(g.Lenient))),
     "not_subset", [g.Lenient.A, [], None]),
    ("a field beside a literal key clause", {"a": int}, {"a": int, Literal["b"]: str}, "subset",
     [{"a": 1}, {"a": 1, "b": "x"}, {g.MyStr("a"): 1}]),
    ("a record against dicts of literal keys", {"title": int}, union(dict[bytes, int], dict[Literal[1, False], Any]),
     "not_subset", [{"title": 1}, {}]),
    ("a dict keyed by a str subclass", dict[g.MyStr, int], dict[str, int], "subset",
     [{g.MyStr("a"): 1}, {"a": 1}, {g.MyStr("a"): "x"}]),
    ("a dict keyed by a str enumeration", dict[g.Key, str], dict[str, str], "subset", [{g.Key.A: "x"}, {"a": "x"}]),
    ("a clause keyed by a str subclass", {"a": int, g.MyStr: int}, {"a": int, str: int}, "subset",
     [{"a": 1, g.MyStr("b"): 2}, {"a": 1, g.MyStr("b"): "x"}]),
    ("a predicate below a union of ranges", Annotated[int, Ge(0), g.is_not_two], NON_NEGATIVE, "subset",
     [0, 1, 2, 3, 5, -1]),
    ("a float divisor below a union of ranges", Annotated[int, Ge(0), MultipleOf(2.0)], NON_NEGATIVE, "subset",
     [0, 2, 4, 6, -2]),
    ("a dict of literal keys against a record", dict[Literal["b", 1], int], {"c": int}, "not_subset",
     [{"b": 1}, {1: 1}, {"c": 1}]),
]


@pytest.mark.parametrize("name, left, right, answer, values", QUESTIONS, ids=[q[0] for q in QUESTIONS])
def test_bounded_schemas_decide(name, left, right, answer, values):
    left, right = Validator(left), Validator(right)
    assert left.relation_to(right) == answer
    outside = [v for v in values if left.is_valid(v) and not right.is_valid(v)]
    assert bool(outside) is (answer == "not_subset")


# (left, right): a bound proves nothing the other way round: the left side
# bounded from above, or the right one from below, holds values the
# schema does not, so these stay undecided rather than refuted.
UNDECIDED = [
    (dict[str, int], dict[g.MyStr, int]),
    (Annotated[int, Ge(0), g.is_not_two], Annotated[int, Ge(1)]),
    (dict[g.MyStr, int], dict[str, str]),
]


@pytest.mark.parametrize("left, right", UNDECIDED, ids=[f"{Validator(a)!r} within {Validator(b)!r}" for a, b in UNDECIDED])
def test_a_bound_the_wrong_way_refutes_nothing(left, right):
    assert Validator(left).relation_to(right) == "undecided"
