"""repr of a validator: the annotation expression that rebuilds it."""

import dataclasses
import enum
import math
import sys
import typing

import pytest

from tessaron import Validator, anything, complement, intersection, nothing, recursive, union

from interpreter import UNION_OPERATOR, has


class Opaque:
    def __repr__(self):
        return "Opaque()"


class BrokenRepr:
    def __repr__(self):
        raise ValueError("no text")


class LongRepr:
    def __repr__(self):
        return "L" * 100


@dataclasses.dataclass
class Point:
    x: int
    y: int


class Pair(typing.NamedTuple):
    left: str
    right: bytes


class Color(enum.Enum):
    RED = 1


class Plain:
    pass


class _Titled(typing.TypedDict):
    title: str


class Movie(_Titled, total=False):
    year: int


# (id, a function building the validator, its repr)
CASES = [
    ("anything", lambda: anything, "anything"),
    ("nothing", lambda: nothing, "nothing"),
    ("typing-Any", lambda: Validator(typing.Any), "Any"),
    ("empty-intersection", lambda: intersection(), "anything"),
    ("empty-union", lambda: union(), "nothing"),
    ("None", lambda: Validator(None), "None"),
    ("Never", lambda: Validator(typing.NoReturn), "nothing"),
    # Constants of every kind the pool keys by value, and some it keys by identity.
    ("int", lambda: Validator(3), "Literal[3]"),
    ("negative-int", lambda: Validator(-7), "Literal[-7]"),
    ("big-int", lambda: Validator(2**70), f"Literal[{2**70}]"),
    ("bool", lambda: Validator(True), "Literal[True]"),
    ("float", lambda: Validator(1.5), "Literal[1.5]"),
    ("negative-zero", lambda: Validator(-0.0), "Literal[-0.0]"),
    ("nan", lambda: Validator(math.nan), "Literal[nan]"),
    ("str", lambda: Validator("abc"), "Literal['abc']"),
    ("str-with-quote", lambda: Validator("it's"), 'Literal["it\'s"]'),
    ("bytes", lambda: Validator(b"x\x00"), "Literal[b'x\\x00']"),
    ("object", lambda: Validator(Opaque()), "Literal[Opaque()]"),
    # Constant texts are the safe texts of messages: cut to 80 characters,
    # and a repr that raises is shown as unrepresentable.
    ("long-str", lambda: Validator("x" * 100), "Literal['" + "x" * 79 + "...]"),
    ("long-repr", lambda: Validator(LongRepr()), "Literal[" + "L" * 80 + "...]"),
    ("broken-repr", lambda: Validator(BrokenRepr()), "Literal[<unrepresentable>]"),
    # Unions: literals sorted by text (bytewise), other members in canonical
    # order (None before literals, complements after).
    ("literals-sorted", lambda: union(3, 1, 2), "Literal[1] | Literal[2] | Literal[3]"),
    ("literals-bytewise", lambda: union(9, 10), "Literal[10] | Literal[9]"),
    ("none-first", lambda: union(1, None), "None | Literal[1]"),
    ("none-first-literals-sorted", lambda: union("b", None, "a"), "None | Literal['a'] | Literal['b']"),
    ("union-with-complement", lambda: union(complement(1), 2), "Literal[2] | complement(Literal[1])"),
    ("or-left", lambda: Validator(2) | 1, "Literal[1] | Literal[2]"),
    ("or-right", lambda: None | Validator(1), "None | Literal[1]"),
    ("union-absorbs-any", lambda: union(1, typing.Any), "Any"),
    ("complementary-pair", lambda: union(1, complement(1)), "anything"),
    # Intersections and complements.
    ("intersection", lambda: intersection(None, 1), "intersection(None, Literal[1])"),
    ("intersection-of-union", lambda: intersection(union(1, 2), complement(2)),
     "intersection(Literal[1] | Literal[2], complement(Literal[2]))"),
    ("empty-by-pair", lambda: intersection(1, complement(1)), "nothing"),
    ("complement", lambda: complement(1), "complement(Literal[1])"),
    ("complement-of-union", lambda: complement(union(2, 1)), "complement(Literal[1] | Literal[2])"),
    ("double-complement", lambda: complement(complement(1)), "Literal[1]"),
    ("complement-anything", lambda: complement(anything), "nothing"),
    ("complement-Any", lambda: complement(typing.Any), "nothing"),
    ("complement-nothing", lambda: complement(nothing), "anything"),
    # A validator given as a spec is merged: its constants are pooled again.
    ("merged", lambda: Validator(union("a", None, 1.5)), "None | Literal['a'] | Literal[1.5]"),
    ("merged-into-union", lambda: union(Validator(union(2, 1)), 0), "Literal[0] | Literal[1] | Literal[2]"),
]


@pytest.mark.parametrize("build, text", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_repr(build, text):
    assert repr(build()) == text


def test_literal_sort_is_stable_for_equal_texts():
    # Two distinct objects with one text: pooled by identity, shown in member
    # (pool) order, and the sort neither drops nor merges them.
    a, b = Opaque(), Opaque()
    assert repr(union(a, b, 0)) == "Literal[0] | Literal[Opaque()] | Literal[Opaque()]"


def test_repr_is_str_and_validator_unchanged():
    v = union(3, None, complement("a"))
    first = repr(v)
    assert type(first) is str
    assert repr(v) == first
    assert str(v) == first


def test_repr_that_reenters_repr():
    # A constant whose repr shows another validator: rendering nests.
    class Nested:
        def __repr__(self):
            return "N(" + repr(union(2, 1)) + ")"

    assert repr(Validator(Nested())) == "Literal[N(Literal[1] | Literal[2])]"


# Specs of the class, generic and literal builders, and their reprs.
FORMS = [
    # Builtin kinds, and the two spellings of the top.
    (int, "int"),
    (bool, "bool"),
    (float, "float"),
    (str, "str"),
    (bytes, "bytes"),
    (type(None), "None"),
    (object, "anything"),
    (list[typing.Any], "list[Any]"),
    (list[object], "list[anything]"),
    # Sequences: homogeneous, fixed, and a fixed prefix with a repeated tail.
    (list[int], "list[int]"),
    (list, "list[anything]"),
    ([int], "list[int]"),
    ([], "[]"),
    ([int, str], "[int, str]"),
    ([int, str, ...], "[int, str, ...]"),
    (tuple[int, ...], "tuple[int, ...]"),
    (tuple[()], "tuple[()]"),
    (tuple[int, str], "tuple[int, str]"),
    (list[tuple[int, list[str]]], "list[tuple[int, list[str]]]"),
    # Sets and mappings.
    (set[int], "set[int]"),
    (frozenset[bytes], "frozenset[bytes]"),
    (dict[str, int], "dict[str, int]"),
    (dict, "dict[anything, anything]"),
    (dict[str, list[int]], "dict[str, list[int]]"),
    # Records: keys sorted, "?" for an optional key, every key written as the
    # repr of the str (so quotes, backslashes and control characters stay
    # valid Python).
    ({"a": int, "b?": str}, "{'a': int, 'b?': str}"),
    ({"b": int, "a": str}, "{'a': str, 'b': int}"),
    ({}, "{}"),
    ({"it's": int}, '{"it\'s": int}'),
    ({"it's?": int}, '{"it\'s?": int}'),
    ({"both'\"": int}, "{'both\\'\"': int}"),
    ({"back\\slash": int, "new\nline?": str}, "{'back\\\\slash': int, 'new\\nline?': str}"),
    ({"\x00": None}, "{'\\x00': None}"),
    ({"é": int}, "{'é': int}"),
    ({"a": {"b": [int]}}, "{'a': {'b': list[int]}}"),
    # Declared fields first, then the catch-all clauses.
    (Movie, "{'title': str, 'year?': int, str: anything}"),
    # Classes show their names; a class-shaped intersection too, with any
    # further member after the name.
    (Point, "Point"),
    (Pair, "Pair"),
    (Color, "Color"),
    (Plain, "Plain"),
    (list[Point], "list[Point]"),
    # Unions and literals.
    (typing.Literal[3, 1, 2], "Literal[1] | Literal[2] | Literal[3]"),
    (typing.Literal["a", None, 1], "None | Literal['a'] | Literal[1]"),
    (typing.Optional[str], "None | str"),
    (typing.Union[int, None], "None | int"),
    (typing.Union[str, int, None], "None | int | str"),
    (typing.Union[int, typing.Literal["b", "a"]], "int | Literal['a'] | Literal['b']"),
    (typing.Literal[Color.RED], "Literal[<Color.RED: 1>]"),
]


@pytest.mark.parametrize("spec, text", FORMS, ids=[text for _, text in FORMS])
def test_repr_of_forms(spec, text):
    assert repr(Validator(spec)) == text


@pytest.mark.parametrize(
    "build, text",
    [
        (lambda: intersection(Point, {"x": int}), "intersection(Point, {'x': int})"),
        (lambda: intersection(Point, complement(None)), "intersection(Point, complement(None))"),
        (lambda: complement(list[int]), "complement(list[int])"),
        # A dict or list literal does not combine with `|`: the call form.
        (lambda: union(Point, None) | [int, str], "union(None, [int, str], Point)"),
        (lambda: union({"a": int}, {"b": str}), "union({'a': int}, {'b': str})"),
        (lambda: union(list[int], {}), "union(list[int], {})"),
        (lambda: union(dict[str, int], list[str]), "list[str] | dict[str, int]"),
        (lambda: Validator(Validator({"a?": Point})), "{'a?': Point}"),
    ],
    ids=lambda case: case if isinstance(case, str) else "",
)
def test_repr_of_combined_forms(build, text):
    assert repr(build()) == text


# What a repr may name: the module's functions and constants, typing's
# spellings and the classes of this file.
NAMESPACE = {
    "anything": anything,
    "nothing": nothing,
    "union": union,
    "intersection": intersection,
    "complement": complement,
    "Any": typing.Any,
    "Literal": typing.Literal,
    "Point": Point,
    "Pair": Pair,
    "Plain": Plain,
    "Color": Color,
}


@pytest.mark.parametrize(
    "spec",
    [spec for spec, text in FORMS if "<" not in text and "str: anything" not in text]
    + [
        complement(None),
        intersection(complement(None), list[int]),
        union(complement(Plain), {"k": tuple[int, ...]}),
    ],
    ids=repr,
)
def test_repr_rebuilds_the_validator(spec):
    text = repr(Validator(spec))
    if " | " in text and not has(UNION_OPERATOR):
        pytest.skip(UNION_OPERATOR[1])
    assert repr(Validator(eval(text, dict(NAMESPACE)))) == text


# Fixpoints: a back edge reached from outside its definition opens
# recursive(lambda X: ...); binders are named by how many are open around them.
@pytest.mark.parametrize(
    "build, text",
    [
        (lambda: recursive(lambda x: [x]), "recursive(lambda X: list[X])"),
        (lambda: recursive(lambda x: int), "recursive(lambda X: int)"),
        (lambda: recursive(lambda x: {"a": x, "b?": list[x]}), "recursive(lambda X: {'a': X, 'b?': list[X]})"),
        (
            lambda: recursive(lambda x: typing.Union[dict[str, x], list[x], int, None]),
            "recursive(lambda X: None | int | list[X] | dict[str, X])",
        ),
        (
            lambda: recursive(lambda x: recursive(lambda y: [x, y])),
            "recursive(lambda X: recursive(lambda Y: [X, Y]))",
        ),
        (
            lambda: recursive(lambda a: recursive(lambda b: recursive(lambda c: recursive(lambda d: [a, b, c, d])))),
            "recursive(lambda X: recursive(lambda Y: recursive(lambda Z: recursive(lambda T3: [X, Y, Z, T3]))))",
        ),
        # Sibling fixpoints each start from no open binder, so both are X.
        (
            lambda: Validator(tuple[recursive(lambda x: [x]), recursive(lambda x: set[x])]),
            "tuple[recursive(lambda X: list[X]), recursive(lambda X: set[X])]",
        ),
    ],
    ids=lambda case: case if isinstance(case, str) else "",
)
def test_repr_of_fixpoints(build, text):
    assert repr(build()) == text


def test_placeholder_inside_a_builder_is_elided():
    seen = []

    def body(p):
        seen.append((repr(p), repr(union(p, int)), repr(Validator([p]))))
        return [p]

    recursive(body)
    assert seen == [("<...>", "int | <...>", "list[<...>]")]


@pytest.mark.skipif(sys.version_info < (3, 12), reason="type statements are new in 3.12")
def test_recursive_alias_renders_as_fixpoint_per_occurrence():
    namespace = {}
    exec("type Tree = list[Tree]", namespace)
    tree = namespace["Tree"]
    assert repr(Validator(tree)) == "recursive(lambda X: list[X])"
    assert repr(Validator(tuple[tree, tree])) == "tuple[recursive(lambda X: list[X]), recursive(lambda X: list[X])]"


def binder(open_binders):
    return "XYZ"[open_binders] if open_binders < 3 else f"T{open_binders}"


def doubling_chain(levels):
    """A fixpoint whose body names the previous one twice: its repr writes
    2**levels copies of the innermost body."""
    v = recursive(lambda x: list[x])
    for _ in range(levels):
        v = recursive(lambda x, inner=v: tuple[inner, inner, x])
    return v


def doubling_chain_text(levels, open_binders=0):
    name = binder(open_binders)
    if levels == 0:
        return f"recursive(lambda {name}: list[{name}])"
    inner = doubling_chain_text(levels - 1, open_binders + 1)
    return f"recursive(lambda {name}: tuple[{inner}, {inner}, {name}])"


def test_repeated_expansion_below_the_budget_is_written_out():
    # 2**10 inner bodies, a few thousand nodes: far below the budget.
    assert repr(doubling_chain(10)) == doubling_chain_text(10)


def test_repeated_expansion_past_the_budget_is_elided():
    # 2**40 bodies from a schema of about 125 nodes: the node budget stops
    # the expansion, and every node after it is "<...>".
    text = repr(doubling_chain(40))
    assert len(text) < 5_000_000
    assert text.startswith("recursive(lambda X: tuple[recursive(lambda Y: tuple[recursive(lambda Z: tuple[")
    # The outermost fixpoint's own last member comes after the budget ran out.
    assert text.endswith(", <...>])")
    assert "<...>" in text[:-9]


def test_nested_fixpoints_past_depth_200_are_elided():
    # Each fixpoint opens a list whose first item opens the next one: two
    # levels per fixpoint, so the 101st fixpoint's body lies below depth 200.
    v = recursive(lambda x: list[x])
    for _ in range(127):
        v = recursive(lambda x, inner=v: [inner, x])
    text = repr(v)
    assert text.count("<...>") == 1
    assert "[recursive(lambda T100: <...>), T99]" in text
    assert text.endswith("T3]), Z]), Y]), X])")
