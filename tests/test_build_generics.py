"""Parameterised typing forms: list, set, dict, tuple, unions, Literal, Callable, qualifiers."""

import collections.abc
import enum
import sys
import typing

import pytest

import tessaron
from tessaron import Validator

from interpreter import QUALIFIERS, UNION_OPERATOR, UNPACKING, case, has, needs

FORWARD = (
    "{} is a forward reference, and a schema is built from the types themselves: resolve the annotation "
    "first with typing.get_type_hints(..., include_extras=True), or write the type rather than its name"
)
NOTHING_AFTER_TAIL = (
    "a tuple schema carries a fixed prefix and then a repeating tail, so nothing may follow the tail: write "
    "the repeating part last"
)
LEADING_ELLIPSIS = "`...` repeats the element before it, so a tuple schema cannot begin with one"
UNSUPPORTED = "unsupported typing form with origin {}; supported: list, set, dict, tuple, Union, Optional, Literal, Callable"
NOT_A_LITERAL = (
    "{} is not a Literal argument: the typing spec allows None, an enum member, or an int, bool, str or bytes "
    "value, and this one would be read as a schema of its own rather than as a constant. Write {}"
)
TOO_LARGE = (
    "schema is too large to compile: it takes more than 1000000 builder steps; write a repeated part once, "
    "as a type alias or with recursive(...)"
)

Ts = typing.TypeVarTuple("Ts") if has(UNPACKING) else None
T = typing.TypeVar("T")


class Box(typing.Generic[T]):
    pass


class Color(enum.Enum):
    RED = 1


def refusal(spec, exc=NotImplementedError):
    with pytest.raises(exc) as info:
        Validator(spec)
    return str(info.value)


@pytest.mark.parametrize(
    "spec, message",
    [
        (
            list[int, str],
            "list[int, str] takes exactly one type argument, and this one is written with 2: write the element "
            "type on its own, or a list of fixed length as the list literal [A, B]",
        ),
        (
            set[int, str],
            "set[int, str] takes exactly one type argument, and this one is written with 2: write the element "
            "type on its own -- a set schema is homogeneous, so several element types are their union, set[A | B]",
        ),
        (
            frozenset[()],
            "frozenset[()] takes exactly one type argument, and this one is written with 0: write the element "
            "type on its own -- a set schema is homogeneous, so several element types are their union, set[A | B]",
        ),
        (dict[int], "dict[...] needs a key type and a value type"),
        (dict[int, str, bytes], "dict[...] needs a key type and a value type"),
        (list["int"], FORWARD.format("'int'")),
        (set[typing.ForwardRef("X")], FORWARD.format("ForwardRef('X')")),
        (frozenset["X"], FORWARD.format("'X'")),
        (dict["K", int], FORWARD.format("'K'")),
        (dict[str, "X"], FORWARD.format("'X'")),
        (typing.Union[int, "X"], FORWARD.format("ForwardRef('X')")),
        (tuple[int, "X"], FORWARD.format("'X'")),
        (tuple[int, "X", ...], FORWARD.format("'X'")),
        (tuple[..., int], LEADING_ELLIPSIS),
        (tuple[...], LEADING_ELLIPSIS),
        (tuple[int, ..., str], NOTHING_AFTER_TAIL),
        (tuple[int, ..., ...], NOTHING_AFTER_TAIL),
        # A misplaced `...` is reported before any argument is built.
        (tuple["X", ..., int], NOTHING_AFTER_TAIL),
        (tuple[typing.ForwardRef("X"), ..., int], NOTHING_AFTER_TAIL),
        case(UNPACKING, "tuple[*tuple[int, ...], str]", globals(), NOTHING_AFTER_TAIL),
        # Unpacked tuples follow the same rules as the outer arguments.
        case(UNPACKING, "tuple[*tuple[int, ..., str]]", globals(), NOTHING_AFTER_TAIL),
        case(UNPACKING, "tuple[*tuple[int, *tuple[str, ...], bytes]]", globals(), NOTHING_AFTER_TAIL),
        case(UNPACKING, "tuple[int, *tuple[..., str]]", globals(), LEADING_ELLIPSIS),
        case(UNPACKING, "tuple[*tuple[...]]", globals(), LEADING_ELLIPSIS),
        case(
            UNPACKING,
            "tuple[int, *Ts]",
            globals(),
            "only a tuple can be unpacked into a tuple schema; Ts binds no element types at runtime",
        ),
        case(
            UNPACKING,
            "typing.Tuple[int, typing.Unpack[Ts]]",
            globals(),
            "only a tuple can be unpacked into a tuple schema; Ts binds no element types at runtime",
        ),
        case(
            UNPACKING,
            "tuple[*list[int]]",
            globals(),
            "only a tuple can be unpacked into a tuple schema; *list[int] binds no element types at runtime",
        ),
        (
            typing.Literal[int],
            "<class 'int'> is a type rather than a constant, and is not a Literal argument: the typing spec allows "
            "None, an enum member, or an int, bool, str or bytes value. Write the type on its own to admit its "
            "values, or a constant to admit one",
        ),
        (
            typing.Literal[1, Color],
            "<enum 'Color'> is a type rather than a constant, and is not a Literal argument: the typing spec allows "
            "None, an enum member, or an int, bool, str or bytes value. Write the type on its own to admit its "
            "values, or a constant to admit one",
        ),
        (
            typing.Literal[[1]],
            NOT_A_LITERAL.format("a list", "list[T] for a list of values, or a tuple of them in the Literal"),
        ),
        (
            typing.Literal[{"a": 1}],
            NOT_A_LITERAL.format("a dict", "dict[K, V], or a record written as a dict literal"),
        ),
        (typing.Literal[{1}], NOT_A_LITERAL.format("a set", "set[T]")),
        (
            typing.Literal[((1, 2),)],
            "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] (the list literal [A, B] "
            "is the fixed-length list)",
        ),
        (
            typing.Literal[frozenset()],
            "a frozen set literal is not a schema; write a frozen set as frozenset[T]",
        ),
        (type[int], UNSUPPORTED.format("<class 'type'>")),
        (Box[int], UNSUPPORTED.format(repr(Box))),
        (collections.abc.Sequence[int], UNSUPPORTED.format("<class 'collections.abc.Sequence'>")),
        (typing.ClassVar[int], UNSUPPORTED.format("typing.ClassVar")),
    ],
    ids=lambda x: None if isinstance(x, str) else repr(x),
)
def test_refusals(spec, message):
    assert refusal(spec) == message


def test_refusal_stops_at_the_first_offending_argument():
    # The forward reference comes first: the tuple literal after it is never built.
    assert refusal(typing.Union[int, "X", list[(1, 2)]]) == FORWARD.format("ForwardRef('X')")
    assert refusal(dict["K", (1, 2)]) == FORWARD.format("'K'")


def test_an_exception_of_a_nested_build_comes_out_unchanged():
    class Boom(Exception):
        pass

    class Raises:
        def __getattr__(self, name):
            if name == "__metadata__":  # the builder's first probe
                raise Boom(name)
            raise AttributeError(name)

    for spec in [list[Raises()], dict[str, Raises()], tuple[int, Raises()], typing.Literal[Raises()]]:
        with pytest.raises(Boom):
            Validator(spec)


@pytest.mark.parametrize(
    "spec, members, non_members",
    [
        (list[int], [[], [1, 2]], [[1, "a"], (1,), {1}]),
        (typing.List[str], [["a"]], [[1]]),
        (set[int], [set(), {1, 2}], [{"a"}, frozenset({1}), [1]]),
        (frozenset[str], [frozenset(), frozenset({"a"})], [{"a"}, frozenset({1})]),
        (dict[str, int], [{}, {"a": 1}], [{"a": "b"}, {1: 1}, [("a", 1)]]),
        (dict[typing.Literal["a"], int], [{}, {"a": 1}], [{"b": 1}]),
        (tuple[()], [()], [(1,), []]),
        (tuple[int, ...], [(), (1,), (1, 2, 3)], [("a",), [1]]),
        (tuple[int, str], [(1, "a")], [(1,), (1, "a", "b"), [1, "a"]]),
        (tuple[int, str, ...], [(1,), (1, "a", "b")], [(), (1, 2)]),
        case(UNPACKING, "tuple[int, *tuple[str, ...]]", globals(), [(1,), (1, "a", "b")], [(), (1, 2)]),
        case(UNPACKING, "tuple[*tuple[int, str]]", globals(), [(1, "a")], [(1,), (1, "a", "b")]),
        case(UNPACKING, "tuple[*tuple[int, ...]]", globals(), [(), (1, 2)], [("a",)]),
        case(UNPACKING, "tuple[*tuple[int, *tuple[str, ...]]]", globals(), [(1,), (1, "a")], [(), (1, 2)]),
        case(UNPACKING, "tuple[*tuple[()], int]", globals(), [(1,)], [(), (1, 1)]),
        case(
            UNPACKING, "typing.Tuple[int, typing.Unpack[typing.Tuple[str, ...]]]", globals(), [(1,), (1, "a")], [(1, 2)]
        ),
        (typing.Tuple[()], [()], [(1,)]),
        case(UNION_OPERATOR, "int | None", globals(), [1, None], ["a"]),
        (typing.Optional[int], [1, None], ["a"]),
        (typing.Union[int, str], [1, "a"], [None, b""]),
        (typing.Literal[1, "a", None], [1, "a", None], [2, "b", b"a"]),
        (typing.Literal[Color.RED, b"x"], [Color.RED, b"x"], [1, "x"]),
        (typing.Literal["int"], ["int"], [int, 1]),
        case(QUALIFIERS, "typing.Required[int]", globals(), [1], ["a"]),
        case(QUALIFIERS, "typing.NotRequired[int]", globals(), [1], ["a"]),
        (typing.Callable[[int], str], [len, Color], [1, None]),
        (collections.abc.Callable[..., int], [len], [1]),
        (typing.Callable, [len], [1]),
    ],
    ids=repr,
)
def test_forms(spec, members, non_members):
    v = Validator(spec)
    for value in members:
        assert v.is_valid(value), value
    for value in non_members:
        assert not v.is_valid(value), value


@pytest.mark.skipif(not hasattr(typing, "ReadOnly"), reason="typing.ReadOnly is new in 3.13")
def test_read_only_outside_a_typed_dict_is_its_type():
    v = Validator(typing.ReadOnly[int])
    assert v.is_valid(1) and not v.is_valid("a")


@pytest.mark.skipif(hasattr(typing, "ReadOnly"), reason="typing.ReadOnly exists from 3.13")
def test_before_3_13_the_backport_read_only_is_no_qualifier():
    typing_extensions = pytest.importorskip("typing_extensions")
    spec = typing_extensions.ReadOnly[int]
    assert refusal(spec) == UNSUPPORTED.format("typing_extensions.ReadOnly")


# --- the step budget of one compilation -------------------------------------

# Every class spec is one builder step and needs no typing call, so long flat
# lists of `int` reach the budget quickly.


def test_the_budget_admits_a_million_builder_steps_and_refuses_the_next():
    # One step for the list and one per element.  A million steps pass the
    # budget (and are then refused by the node bound); one more does not.
    with pytest.raises(ValueError) as info:
        Validator([int] * 999_999)
    assert "builder steps" not in str(info.value)
    assert refusal([int] * 1_000_000, ValueError) == TOO_LARGE


def _doubling(levels):
    x = int
    for _ in range(levels):
        x = tuple[x, x]
    return x


def test_a_shared_part_rebuilt_exponentially_is_refused():
    assert refusal([int, {"a": _doubling(40)}], ValueError) == TOO_LARGE


@needs(UNPACKING)
def test_a_shared_unpacked_tuple_is_refused_before_it_is_flattened():
    t = tuple[int]
    for _ in range(60):
        t = tuple[(*t, *t)]
    assert refusal(t, ValueError) == TOO_LARGE


def test_every_compilation_has_its_own_budget():
    big = [int] * 600_000
    inner_errors = []

    class Hook:
        done = False

        def __getattr__(self, name):
            if not Hook.done:
                Hook.done = True
                try:
                    Validator(big)
                except ValueError as exc:
                    inner_errors.append(str(exc))
            raise AttributeError(name)

    # The inner compilation starts afresh (it reaches the node bound, not the
    # budget), and does not reset the outer one: 600000 steps before it and
    # 600000 after it are too many for the outer compilation.
    assert refusal([*big, Hook(), *big], ValueError) == TOO_LARGE
    assert len(inner_errors) == 1 and "builder steps" not in inner_errors[0]


@pytest.mark.parametrize("combine", [tessaron.union, tessaron.intersection], ids=["union", "intersection"])
def test_one_budget_covers_every_argument_of_a_combinator(combine):
    half = [int] * 600_000
    with pytest.raises(ValueError) as info:
        combine(half, half)
    assert str(info.value) == TOO_LARGE


@pytest.mark.parametrize(
    "spec, text",
    [
        (list[int], "list[int]"),
        (typing.List[int], "list[int]"),
        (list[list[int]], "list[list[int]]"),
        (set[typing.Union[int, str]], "set[int | str]"),
        (frozenset[str], "frozenset[str]"),
        (dict[str, int], "dict[str, int]"),
        (dict[typing.Literal["a"], int], "dict[Literal['a'], int]"),
        (tuple[()], "tuple[()]"),
        (typing.Tuple[()], "tuple[()]"),
        (tuple[int, ...], "tuple[int, ...]"),
        (tuple[int, str], "tuple[int, str]"),
        (tuple[int, str, ...], "tuple[int, str, ...]"),
        case(UNPACKING, "tuple[int, *tuple[str, ...]]", globals(), "tuple[int, str, ...]"),
        case(UNPACKING, "tuple[*tuple[int, str]]", globals(), "tuple[int, str]"),
        case(UNPACKING, "tuple[*tuple[int, *tuple[str, ...]]]", globals(), "tuple[int, str, ...]"),
        case(UNPACKING, "tuple[*tuple[int, ...]]", globals(), "tuple[int, ...]"),
        case(
            UNPACKING, "typing.Tuple[int, typing.Unpack[typing.Tuple[str, ...]]]", globals(), "tuple[int, str, ...]"
        ),
        case(UNION_OPERATOR, "int | None", globals(), "None | int"),
        (typing.Optional[int], "None | int"),
        (typing.Union[int, None], "None | int"),
        (typing.Literal[1, "a", None], "None | Literal['a'] | Literal[1]"),
        case(QUALIFIERS, "typing.Required[int]", globals(), "int"),
        case(QUALIFIERS, "typing.NotRequired[list[int]]", globals(), "list[int]"),
        (typing.Callable[[int], str], "Callable"),
        (collections.abc.Callable[..., int], "Callable"),
        (typing.Tuple, "tuple[anything, ...]"),
    ],
    ids=repr,
)
def test_rendered_forms(spec, text):
    assert repr(Validator(spec)) == text


# --- the map-key rule ---------------------------------------------------------


class MinLen:
    """A duck-typed length marker."""

    def __init__(self, n):
        self.min_length = n

    def __repr__(self):
        return f"MinLen({self.min_length})"


NonEmpty = typing.Annotated[str, MinLen(1)]

NARROWS = (
    "{} narrows the keys it governs, and a map key must be a key type or a Literal: write dict[str, V] to key "
    'every string, or dict[Literal["a"], V] (or {{"a": V}}) to key one. To constrain the keys themselves, check '
    "them beside the mapping rather than inside it"
)


@pytest.mark.parametrize(
    "key",
    [
        NonEmpty,
        typing.Optional[NonEmpty],
        typing.Union[int, NonEmpty],
        tessaron.union(int, NonEmpty),
        tessaron.intersection(str, NonEmpty),
        tessaron.complement(NonEmpty),
    ],
    ids=["annotated", "in-a-union", "in-a-typing-union", "in-a-union-validator", "in-an-intersection",
         "in-a-complement"],
)
def test_a_key_that_narrows_is_refused(key):
    assert refusal(dict[key, int]) == NARROWS.format(repr(key))
    assert refusal({key: int}) == NARROWS.format(repr(key))


@pytest.mark.parametrize(
    "key, text",
    [
        (typing.Annotated[int, "documentation only"], "dict[int, int]"),
        (list[NonEmpty], "dict[list[Annotated[str, MinLen(1)]], int]"),
        (typing.Literal["a"], "dict[Literal['a'], int]"),
    ],
    ids=["no-constraint", "constraint-below-a-container", "literal"],
)
def test_a_key_that_does_not_narrow_is_accepted(key, text):
    assert repr(Validator(dict[key, int])) == text


class IntKind(int):
    pass


@pytest.mark.parametrize(
    "constant",
    ["a", "", "\ud800", 0, -1, 2**70, True, False, 1.5, 0.0, float("nan"), float("inf"), b"a", b"",
     IntKind(1), None, Color.RED],
    ids=repr,
)
def test_literal_arguments_build_as_the_constants_they_are(constant):
    # Literal arguments of the builtin scalar types are built directly; the
    # node is the one the dispatcher gives the same constant as a record
    # value, where a constant is read the same way.
    direct = Validator({"a": typing.Literal[constant, "z"]})
    dispatched = Validator({"a": tessaron.union(constant, typing.Literal["z"])} if constant is not None
                           else {"a": typing.Literal[None, "z"]})
    assert direct == dispatched and repr(direct) == repr(dispatched)
    for value in [constant, "z", 1, True, 1.0, "a", b"a", IntKind(1), None]:
        assert direct.is_valid({"a": value}) is dispatched.is_valid({"a": value}), value
