"""Set decisions about mappings: records, dicts keyed by kinds or literals,
typed dicts and their opened forms, each answer checked against a witness
where it refutes.

A record takes a str subclass instance equal to a field name for that
name; a literal key schema takes only its constant's exact type.  So a
dict keyed by literals is bounded from above by the records of its names,
but never proved within one: ``{MyStr("a"): 1}`` is a member of
``{"a?": int}`` and not of ``dict[Literal["a"], int]``.
"""

from typing import Any, Literal, TypedDict, Union

import pytest

from tessaron import Validator, complement, intersection, union


class MyStr(str):
    pass


class Titled(TypedDict):
    title: str


class Movie(Titled, total=False):
    year: int


OPEN_MOVIE = Validator(Movie).open()


# (name, left, right, answer, a member of left outside right for "not_subset")
CASES = [
    ("literal keys within the records of their names", dict[Literal["a", "b"], int], {"a?": int, "b?": int},
     "subset", None),
    # The truth, by a str subclass key; refuted structurally (a descriptor
    # of the literal keys only bounds them, so that route never refutes it).
    ("the records of the names within the literal keys", {"a?": int, "b?": int}, dict[Literal["a", "b"], int],
     "not_subset", {MyStr("a"): 1}),
    ("a record within dict[str, int]", {"a": int}, dict[str, int], "subset", None),
    ("a record within dict[str, str]", {"a": int}, dict[str, str], "not_subset", {"a": 1}),
    ("a typed dict within its opened form", Movie, OPEN_MOVIE, "subset", None),
    ("an opened typed dict within the typed dict", OPEN_MOVIE, Movie, "not_subset", {"title": "x", 1: 2}),
    ("dict[str, int] within the complement of {'a': str}", dict[str, int], complement({"a": str}), "subset", None),
    ("an intersection of records", intersection({"a": int, "b?": str}, {"a": bool, "b?": Any}),
     {"a": bool, "b?": str}, "subset", None),
    ("one field against a union of records", {"a": Union[int, str]}, union({"a": int}, {"a": str}), "subset", None),
    # A field is checked against itself alone: the clause naming it adds
    # nothing, and {"a": 1} is a member.
    ("a field beside a literal clause naming it", {"a": int, Literal["a"]: str}, {"a": int}, "subset", None),
    # A literal key takes the value of every clause admitting it.
    ("a literal key admitted by two clauses", {Literal["a"]: int, str: str}, {"a?": Union[int, str], str: str},
     "subset", None),
    ("a literal key admitted by two clauses, against one value", {Literal["a"]: int, str: str},
     {"a?": int, str: str}, "not_subset", {"a": "x"}),
    # One key must hold a value outside both dicts at once.
    ("a closed record within a union of dicts", {"a": Union[int, str]}, union(dict[str, int], dict[str, str]),
     "subset", None),
    ("a closed record of two keys within a union of dicts", {"a": Union[int, str], "b": int},
     union(dict[str, int], dict[str, str]), "not_subset", {"a": "x", "b": 1}),
]


@pytest.mark.parametrize("name, left, right, answer, witness", CASES, ids=[c[0] for c in CASES])
def test_mapping_questions(name, left, right, answer, witness):
    v, w = Validator(left), Validator(right)
    assert v.relation_to(w) == answer
    if witness is not None:
        assert v.is_valid(witness) and not w.is_valid(witness)


# The truth of each is "not_subset", with a str subclass key (or an exact
# bool key) as the witness; no answer may be "subset".
NEVER_SUBSET = [
    ("the records of two names within the literal keys", {"a?": int, "b?": int}, dict[Literal["a", "b"], int],
     {MyStr("a"): 1}),
    ("a record within the literal key of its name", {"a": int}, dict[Literal["a"], int], {MyStr("a"): 1}),
    ("dict[str, int] within a literal key and a record", dict[str, int],
     union(dict[Literal["a"], int], {"b?": int}), {MyStr("a"): 1}),
    ("a True key within a 1 key", dict[Literal[True], int], dict[Literal[1], int], {True: 1}),
    ("literal and int keys within a union", dict[Union[Literal["a"], int], int], union(dict[int, int], {"a?": int}),
     {"a": 1, 2: 3}),
]


@pytest.mark.parametrize("name, left, right, witness", NEVER_SUBSET, ids=[c[0] for c in NEVER_SUBSET])
def test_literal_keys_are_never_proved_to_hold_what_a_record_holds(name, left, right, witness):
    v, w = Validator(left), Validator(right)
    assert v.is_valid(witness) and not w.is_valid(witness)
    assert v.relation_to(w) != "subset"
    assert not v.is_subtype_of(w)
    assert not v.is_equivalent(w)


def test_mapping_emptiness():
    # The clause naming "a" does not bound it: {"a": 1} is a member.
    assert not Validator({"a": int, Literal["a"]: str}).is_empty()
    assert Validator(intersection({"a": int}, {"a": str})).is_empty()
    assert Validator(intersection({"a": int}, dict[str, str])).is_empty()
    assert not Validator(intersection({"a?": int}, dict[str, str])).is_empty()
    assert Validator(intersection(dict[Literal["a"], int], {"b": int})).is_empty()
