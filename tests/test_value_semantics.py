"""Validators as immutable values: copies, the refusal to pickle, hashing and
equality across pools."""

import copy
import gc
import pickle
import sys
import typing

import pytest

from tessaron import Validator, anything, complement, intersection, nothing, union

PICKLE_REFUSAL = (
    "a Validator cannot be pickled: it holds the classes and callables its schema names, and those are what "
    "would have to travel. Send the schema instead and rebuild with Validator(...) on the other side; "
    "compiling is cheap, and `repr(validator)` gives an expression that rebuilds every form but a class or a "
    "predicate."
)


class Token:
    """A constant pooled by identity."""


class Plain:
    pass


TOKEN = Token()


def pooled(v):
    """The pooled objects the garbage collector sees (the type aside)."""
    return [o for o in gc.get_referents(v) if o is not type(v)]


SCHEMAS = [
    pytest.param(lambda: Validator(3), id="constant"),
    pytest.param(lambda: Validator(TOKEN), id="identity-constant"),
    pytest.param(lambda: union(typing.Literal[1, "a"], b"x"), id="literal-union"),
    pytest.param(lambda: complement(union(int, TOKEN)), id="complement"),
    pytest.param(lambda: anything, id="anything"),
    pytest.param(lambda: nothing, id="nothing"),
    pytest.param(lambda: Validator(typing.Any), id="Any"),
    pytest.param(lambda: Validator({"a": list[Plain], "b?": typing.Literal[TOKEN]}), id="record"),
]


@pytest.mark.parametrize("make", SCHEMAS)
@pytest.mark.parametrize(
    "clone",
    [copy.copy, copy.deepcopy, lambda v: v.__copy__(), lambda v: v.__deepcopy__({}),
     lambda v: v.__deepcopy__(_memo={})],
    ids=["copy", "deepcopy", "__copy__", "__deepcopy__", "__deepcopy__-keyword"],
)
def test_copies_are_equal_new_objects_sharing_the_pool(make, clone):
    v = make()
    c = clone(v)
    assert c is not v
    assert type(c) is Validator
    assert c == v and not (c != v)
    assert hash(c) == hash(v)
    assert repr(c) == repr(v)
    mine, theirs = pooled(v), pooled(c)
    assert len(mine) == len(theirs)
    assert all(a is b for a, b in zip(mine, theirs))


def test_deepcopy_memo_is_required():
    with pytest.raises(TypeError) as info:
        Validator(int).__deepcopy__()
    assert str(info.value) == "Validator.__deepcopy__() missing 1 required positional argument: '_memo'"


def test_a_copy_validates_like_the_original():
    v = Validator({"a": list[int]})
    assert v.is_valid({"a": [1]})
    c = copy.copy(v)
    assert c.is_valid({"a": [1, 2]}) and not c.is_valid({"a": ["x"]})


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickling_is_refused(protocol):
    with pytest.raises(TypeError) as info:
        pickle.dumps(Validator({"a": int}), protocol=protocol)
    assert str(info.value) == PICKLE_REFUSAL


def test_reduce_refuses_directly():
    with pytest.raises(TypeError) as info:
        Validator(int).__reduce__()
    assert str(info.value) == PICKLE_REFUSAL


# --- equality and hashing -------------------------------------------------

@pytest.mark.parametrize(
    "make_a, make_b",
    [
        (lambda: union(int, str), lambda: union(str, int)),
        (lambda: Validator(typing.Literal[1, 2, 3]), lambda: union(3, typing.Literal[2], 1)),
        (lambda: Validator(10**30), lambda: Validator(int("1" + "0" * 30))),  # equal, not identical
        (lambda: Validator("text"), lambda: Validator("".join(["te", "xt"]))),
        (lambda: complement(union(None, b"x")), lambda: complement(union(b"x", None))),
        (lambda: intersection(int, complement(1)), lambda: intersection(complement(1), int)),
        (lambda: Validator({"a": int, "b?": str}), lambda: Validator({"b?": str, "a": int})),
        (lambda: Validator(dict[str, typing.Union[int, bytes]]), lambda: Validator(dict[str, typing.Union[bytes, int]])),
        (lambda: anything, lambda: Validator(typing.Any)),
    ],
    ids=["union-order", "literal-order", "big-int-by-value", "str-by-value", "complement", "intersection",
         "record-key-order", "clause-value-order", "Any-flag"],
)
def test_equal_across_pools_hash_alike(make_a, make_b):
    a, b = make_a(), make_b()
    assert a == b and b == a
    assert not (a != b)
    assert hash(a) == hash(b)
    assert {a: 1}[b] == 1


@pytest.mark.parametrize(
    "a, b",
    [
        (Validator(1), Validator(True)),  # equal values of different exact types
        (Validator(1), Validator(1.0)),
        (Validator(int), Validator(bool)),
        (union(int, str), union(int, bytes)),
        (Validator({"a": int}), Validator({"a?": int})),
        (Validator(list[int]), Validator(tuple[int, ...])),
        (Validator(TOKEN), Validator(Token())),  # identity constants
    ],
    ids=["int-bool", "int-float", "kinds", "members", "required-flag", "flavour", "identity"],
)
def test_unequal(a, b):
    assert a != b and not (a == b)


def test_comparison_with_other_objects():
    v = Validator(int)
    assert (v == 3) is False
    assert (v != 3) is True
    assert (3 == v) is False
    assert v.__eq__(3) is NotImplemented


def test_ne_uses_the_reflected_eq_of_the_other_operand():
    class EqualsEverything:
        def __eq__(self, other):
            return True

    v = Validator(int)
    assert (v != EqualsEverything()) is False


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_orderings_are_refused(op):
    v, w = Validator(int), Validator(str)
    with pytest.raises(TypeError):
        eval(f"v {op} w")


class Unhashable:
    __hash__ = None


class RaisingEq:
    def __eq__(self, other):
        raise ValueError("no comparison")

    __hash__ = object.__hash__


def test_user_code_errors_neither_raise_nor_break_hash_and_equality():
    v = Validator(Unhashable())
    assert hash(v) == hash(v)
    a, b = Validator(RaisingEq()), Validator(RaisingEq())
    assert (a == b) is False
    assert a == a


@pytest.mark.parametrize("make", SCHEMAS)
def test_hash_is_stable_and_never_minus_one(make):
    v = make()
    assert hash(v) == hash(make()) and hash(v) != -1


@pytest.mark.skipif(sys.version_info < (3, 12), reason="the type statement")
def test_recursive_aliases_compare_through_their_definitions():
    scope = {}
    exec("type T = list[T] | int\ntype U = list[U] | int\ntype W = list[W] | str", scope)
    t, u, w = Validator(scope["T"]), Validator(scope["U"]), Validator(scope["W"])
    assert t == u and hash(t) == hash(u)
    assert t != w
    assert copy.copy(t) == t


def test_equality_of_wide_unions_is_not_quadratic():
    # Two pools, members in the same canonical order: the greedy matching
    # pairs each member with the first free one, so this finishes promptly
    # (a hang guard, not a timing test).
    a = union(*range(60_000))
    b = union(*range(60_000))
    assert a == b
    assert a != union(*range(1, 60_001))
