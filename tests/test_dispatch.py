"""How the builder dispatches a spec, and what it refuses."""

import typing

import pytest

import tessaron
from tessaron import Validator


@pytest.mark.parametrize(
    "spec",
    [None, typing.Any, 3, "abc", b"xy", 1.5, object(), tessaron.anything, tessaron.nothing],
    ids=repr,
)
def test_accepted_specs_compile(spec):
    assert isinstance(Validator(spec), Validator)


@pytest.mark.skipif(not hasattr(typing, "Never"), reason="typing.Never is 3.11+")
def test_never_and_noreturn_compile():
    Validator(typing.Never)
    Validator(typing.NoReturn)


def test_a_validator_spec_builds_a_new_validator():
    v = Validator(3)
    w = Validator(v)
    assert w is not v
    assert isinstance(w, Validator)


TYPE_VAR = typing.TypeVar("T")


@pytest.mark.parametrize(
    "spec, message",
    [
        (
            (1, 2),
            "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] "
            "(the list literal [A, B] is the fixed-length list)",
        ),
        ({1, 2}, "a set literal is not a schema; write a set as set[T]"),
        (frozenset(), "a frozen set literal is not a schema; write a frozen set as frozenset[T]"),
        (
            typing.ForwardRef("X"),
            "ForwardRef('X') is a forward reference, and a schema is built from the types themselves: "
            "resolve the annotation first with typing.get_type_hints(..., include_extras=True), or write "
            "the type rather than its name",
        ),
        (
            TYPE_VAR,
            "~T is a typing construct, not a value: a type variable, ParamSpec, TypeVarTuple, or special "
            "form (such as Final or ClassVar) cannot be a schema; use a concrete type",
        ),
        (
            typing.ClassVar,
            "typing.ClassVar is a typing construct, not a value: a type variable, ParamSpec, TypeVarTuple, "
            "or special form (such as Final or ClassVar) cannot be a schema; use a concrete type",
        ),
    ],
    ids=["tuple", "set", "frozenset", "forward-ref", "typevar", "special-form"],
)
def test_refusals(spec, message):
    with pytest.raises(NotImplementedError) as info:
        Validator(spec)
    assert str(info.value) == message


def test_refusal_shows_a_cut_safe_text():
    long_name = "T" + "x" * 100
    tv = typing.TypeVar(long_name)
    with pytest.raises(NotImplementedError) as info:
        Validator(tv)
    shown = str(info.value).split(" is a typing construct")[0]
    assert shown == ("~" + long_name)[:80] + "..."


def _newtype_chain(length):
    spec = None
    for i in range(length):
        spec = typing.NewType(f"N{i}", spec)
    return spec


def test_nesting_limit():
    # 128 new types around None take 129 nested builds: the deepest allowed.
    Validator(_newtype_chain(128))
    with pytest.raises(NotImplementedError) as info:
        Validator(_newtype_chain(129))
    assert str(info.value).startswith(
        "schema nesting is too deep to compile: the frontend descended 129 levels without reaching a leaf."
    )
    # The counter is restored after the failure.
    Validator(_newtype_chain(128))


class _RaisingMetadata:
    @property
    def __metadata__(self):
        raise RuntimeError("metadata boom")


class _RaisingOrigin:
    def __getattr__(self, name):
        if name == "__supertype__":
            raise LookupError("supertype boom")
        raise AttributeError(name)


@pytest.mark.parametrize(
    "spec, error",
    [(_RaisingMetadata(), RuntimeError), (_RaisingOrigin(), LookupError)],
)
def test_errors_from_the_spec_propagate(spec, error):
    with pytest.raises(error):
        Validator(spec)


def test_node_bound_reached_through_a_union():
    # A union node plus one literal per member.
    tessaron.union(*range(99_999))
    with pytest.raises(ValueError) as info:
        tessaron.union(*range(100_000))
    assert str(info.value) == (
        "schema is too large: this validator spans 100001 nodes, past the limit of 100000. A schema this "
        "large comes from combining a validator with itself in an unbounded loop, which doubles its size "
        "each step; building it would exhaust memory."
    )


def test_combinators_accept_any_number_of_specs():
    assert isinstance(tessaron.union(), Validator)
    assert isinstance(tessaron.intersection(), Validator)
    v = Validator(1)
    assert isinstance(v | 2, Validator)
    assert isinstance(2 | v, Validator)
    assert isinstance(tessaron.complement(v), Validator)
    with pytest.raises(NotImplementedError):
        v | (1, 2)
