"""Classes as schemas: builtins, dataclasses, named tuples, typed dicts, enums, protocols."""

import collections
import dataclasses
import enum
import sys
import types
import typing

import pytest

from tessaron import Validator

from interpreter import PYPY

NESTING = (
    "schema nesting is too deep to compile: the frontend descended 129 levels without reaching a leaf. A class "
    "whose own type appears in its fields is recursive and never bottoms out; write it with recursive(...), "
    "which ties the fixpoint explicitly."
)


def check(spec, members, non_members):
    v = Validator(spec)
    for value in members:
        assert v.is_valid(value), value
    for value in non_members:
        assert not v.is_valid(value), value


class MyInt(int):
    pass


class MyStr(str):
    pass


class Plain:
    pass


@pytest.mark.parametrize(
    "spec, members, non_members",
    [
        (bool, [True, False], [1, None]),
        (int, [0, -5, 2**70], ["1", 1.0, None]),
        (float, [1.5], ["1.5", None]),
        (str, ["", "a"], [b"a", None]),
        (bytes, [b"", b"a"], ["a", bytearray(b"a")]),
        (type(None), [None], [0, ""]),
        (list, [[], [1, "a", None]], [(), {}, None]),
        (tuple, [(), (1, "a")], [[], None]),
        (set, [set(), {1, "a"}], [frozenset(), []]),
        (frozenset, [frozenset(), frozenset({1})], [set(), ()]),
        (dict, [{}, {1: "a", None: []}], [[], set()]),
        (object, [None, 1, "a", Plain(), object], []),
        # Only the exact builtins map to their kinds: a subclass is a class.
        (MyInt, [MyInt(3)], [3, True]),
        (MyStr, [MyStr("a")], ["a"]),
        (Plain, [Plain()], [object(), None]),
        (typing.List, [[1]], [(1,)]),
        (typing.Dict, [{1: 2}], [[]]),
    ],
    ids=lambda x: x.__name__ if isinstance(x, type) else None,
)
def test_plain_classes(spec, members, non_members):
    check(spec, members, non_members)


# --- dataclasses ----------------------------------------------------------------


@dataclasses.dataclass
class Point:
    x: int
    y: str


@dataclasses.dataclass
class Point3(Point):
    z: float = 0.0
    tag: typing.ClassVar[int] = 3  # not a field: never built


@dataclasses.dataclass
class Unhinted:
    x: int
    y: str


del Unhinted.__annotations__["y"]  # a field without a hint is no attribute of the shape


@dataclasses.dataclass
class NoFields:
    pass


class LooksLikePoint:
    x = 1
    y = "a"


def test_dataclasses():
    check(Point, [Point(1, "a")], [Point(1, 2), Point("1", "a"), LooksLikePoint(), (1, "a")])
    check(Point3, [Point3(1, "a", 2.5)], [Point3(1, "a", "z"), Point(1, "a")])
    check(Unhinted, [Unhinted(1, 2), Unhinted(1, None)], [Unhinted("1", "a")])
    check(NoFields, [NoFields()], [object()])


def test_a_dataclass_whose_hint_does_not_resolve_fails_with_that_error():
    @dataclasses.dataclass
    class Dangling:
        x: "Undefined"  # noqa: F821

    with pytest.raises(NameError):
        Validator(Dangling)


# A module whose classes, defined in a function under postponed
# annotations, name a local class that the module's globals lack.
LOCAL_ANNOTATIONS = """\
from __future__ import annotations
import dataclasses, typing

def make():
    class Inner:
        pass

    @dataclasses.dataclass
    class Record:
        inner: Inner

    class Typed(typing.TypedDict):
        inner: Inner

    class Row(typing.NamedTuple):
        inner: Inner

    return Record, Typed, Row
"""


@pytest.fixture
def local_annotations(tmp_path, monkeypatch):
    (tmp_path / "local_annotations.py").write_text(LOCAL_ANNOTATIONS)
    monkeypatch.syspath_prepend(str(tmp_path))
    import local_annotations

    yield local_annotations
    sys.modules.pop("local_annotations", None)


@pytest.mark.parametrize("which", [0, 1, 2], ids=["dataclass", "typed-dict", "named-tuple"])
def test_an_unresolved_annotation_passes_its_name_error_through_with_a_note(local_annotations, which):
    cls = local_annotations.make()[which]
    with pytest.raises(NameError) as info:
        Validator(cls)
    assert type(info.value) is NameError
    assert "'Inner' is not defined" in str(info.value)
    notes = getattr(info.value, "__notes__", [])
    # PyPy's C-API layer would keep the traceback alive; the note is
    # CPython's.
    if not PYPY and hasattr(info.value, "add_note"):
        assert len(notes) == 1
        assert f"class make.<locals>.{cls.__name__} (module local_annotations)" in notes[0]
        assert "define the referenced class at module level" in notes[0]
    else:
        assert notes == []
    # The note belongs to that raise: the next one gets its own.
    with pytest.raises(NameError) as again:
        Validator(cls)
    assert getattr(again.value, "__notes__", []) == notes


@dataclasses.dataclass
class Tree:
    children: "list[Tree]"


@dataclasses.dataclass
class Node:
    next: "typing.Optional[Node]"


@pytest.mark.parametrize("spec", [Tree, Node], ids=["in-a-container", "direct"])
def test_a_self_referencing_class_meets_the_nesting_limit(spec):
    with pytest.raises(NotImplementedError) as info:
        Validator(spec)
    assert str(info.value) == NESTING


# --- named tuples ---------------------------------------------------------------


class Pair(typing.NamedTuple):
    a: int
    b: str


Bare = collections.namedtuple("Bare", "x y")
Empty = collections.namedtuple("Empty", [])


def test_named_tuples():
    check(Pair, [Pair(1, "a")], [Pair(1, 2), Pair("1", "a"), (1, "a")])
    check(Bare, [Bare(1, "a"), Bare(None, None)], [(1, "a")])
    check(Empty, [Empty()], [()])


# --- typed dicts ---------------------------------------------------------------


needs_qualifiers = pytest.mark.skipif(
    not hasattr(typing, "NotRequired"), reason="typing.Required and typing.NotRequired are new in 3.11"
)

if hasattr(typing, "NotRequired"):

    class Movie(typing.TypedDict):
        title: str
        year: typing.NotRequired[int]

    class Partial(typing.TypedDict, total=False):
        name: typing.Required[str]
        age: int

    class Backwards:
        """A hand-made typed dict whose required keys contradict its qualifiers."""

        __annotations__ = {"a": typing.Required[int], "b": typing.NotRequired[int], "c": int, "d": int}
        __required_keys__ = frozenset({"b", "d"})

else:
    Movie = Partial = Backwards = None


@needs_qualifiers
@pytest.mark.parametrize(
    "spec, members, non_members",
    [
        (
            Movie,
            [{"title": "x"}, {"title": "x", "year": 1}, {"title": "x", "other": object()}],
            [{}, {"year": 1}, {"title": 1}, {"title": "x", "year": "1"}, {"title": "x", 5: 0}, Movie],
        ),
        (Partial, [{"name": "n"}, {"name": "n", "age": 3}], [{}, {"age": 3}, {"name": "n", "age": "3"}]),
        # Required / NotRequired decide without __required_keys__; plain hints follow it.
        (Backwards, [{"a": 1, "d": 1}, {"a": 1, "b": 1, "c": 1, "d": 1}], [{"a": 1}, {"d": 1}]),
    ],
    ids=["movie", "total-false", "qualifiers-decide"],
)
def test_typed_dicts(spec, members, non_members):
    check(spec, members, non_members)


@pytest.mark.skipif(not hasattr(typing, "ReadOnly"), reason="typing.ReadOnly is new in 3.13")
def test_read_only_is_looked_through_for_the_required_qualifier():
    class Frozen(typing.TypedDict):
        a: typing.ReadOnly[typing.NotRequired[int]]
        b: typing.ReadOnly[int]

    check(Frozen, [{"b": 1}, {"a": 1, "b": 1}], [{"a": 1}, {"a": "1", "b": 1}])


def _typed_dict(**attributes):
    class Extra(typing.TypedDict):
        a: int

    for name, value in attributes.items():
        setattr(Extra, name, value)
    return Extra


@pytest.mark.parametrize(
    "attributes, members, non_members",
    [
        ({}, [{"a": 1, "z": None}], [{"a": 1, 1: 1}]),
        ({"__closed__": True}, [{"a": 1}], [{"a": 1, "z": 1}]),
        ({"__closed__": False, "__extra_items__": int}, [{"a": 1, "z": 2}], [{"a": 1, "z": "2"}]),
        ({"__closed__": True, "__extra_items__": int}, [{"a": 1}], [{"a": 1, "z": 2}]),
        ({"__extra_items__": None}, [{"a": 1, "z": "anything"}], []),
    ],
    ids=["open", "closed", "extra-items", "closed-wins", "extra-none"],
)
def test_extra_keys_of_a_typed_dict(attributes, members, non_members):
    check(_typed_dict(**attributes), members, non_members)


def test_the_backport_typed_dicts_are_open_closed_or_typed_as_declared():
    typing_extensions = pytest.importorskip("typing_extensions")

    class Open(typing_extensions.TypedDict):
        a: int

    class Closed(typing_extensions.TypedDict, closed=True):
        a: int

    class Typed(typing_extensions.TypedDict, extra_items=str):
        a: int

    check(Open, [{"a": 1}, {"a": 1, "z": 2}], [{}])
    check(Closed, [{"a": 1}], [{"a": 1, "z": 2}])
    check(Typed, [{"a": 1, "z": "2"}], [{"a": 1, "z": 2}])


def _forward_reference(text):
    return (
        f"{text} is a forward reference, and a schema is built from the types themselves: resolve the annotation "
        "first with typing.get_type_hints(..., include_extras=True), or write the type rather than its name"
    )


def _backport_string_extra_items():
    typing_extensions = pytest.importorskip("typing_extensions")

    class SX(typing_extensions.TypedDict, extra_items="int"):
        a: int

    return SX


def _inherited_string_extra_items():
    class Child(_backport_string_extra_items()):
        b: str

    return Child


@pytest.mark.parametrize(
    "make, text",
    [
        (_backport_string_extra_items, "'int'"),
        (_inherited_string_extra_items, "'int'"),
        (lambda: _typed_dict(__extra_items__="int"), "'int'"),
        (lambda: _typed_dict(__extra_items__=typing.ForwardRef("int")), "ForwardRef('int')"),
    ],
    ids=["backport", "inherited", "hand-made", "forward-ref"],
)
def test_extra_items_given_by_name_is_a_forward_reference(make, text):
    # The extra-items type is a type position: the name is not evaluated,
    # and not read as the constant "int" either.
    with pytest.raises(NotImplementedError) as info:
        Validator(make())
    assert str(info.value) == _forward_reference(text)


def backport_hierarchy():
    """Typed dicts of the backport whose extra-keys setting is set, inherited
    or both, by name."""
    typing_extensions = pytest.importorskip("typing_extensions")
    T = typing.TypeVar("T")

    class Closed(typing_extensions.TypedDict, closed=True):
        a: int

    class ClosedChild(Closed):
        pass

    class ClosedGrandChild(ClosedChild):
        b: str

    class Typed(typing_extensions.TypedDict, extra_items=int):
        a: str

    class TypedChild(Typed):
        pass

    class Reopened(Closed, extra_items=int):
        pass

    class Open(typing_extensions.TypedDict, closed=False):
        a: int

    class OpenFirst(Open, Closed):
        pass

    class ClosedFirst(ClosedChild, Typed):
        pass

    class Generic(typing_extensions.TypedDict, typing.Generic[T], closed=True):
        a: int

    class GenericChild(Generic[int]):
        b: str

    class NoneExtra(typing_extensions.TypedDict, extra_items=None):
        a: int

    class NoneExtraChild(NoneExtra):
        pass

    return locals()


INHERITED_SETTINGS = [
    ("ClosedChild", "{'a': int}", [{"a": 1}], [{"a": 1, "z": "s"}]),
    ("ClosedGrandChild", "{'a': int, 'b': str}", [{"a": 1, "b": "s"}], [{"a": 1, "b": "s", "z": 1}]),
    ("TypedChild", "{'a': str, str: int}", [{"a": "s", "z": 1}], [{"a": "s", "z": "s"}]),
    # Its own extra_items is the whole setting: the base's closed is not
    # inherited beside it.
    ("Reopened", "{'a': int, str: int}", [{"a": 1, "z": 2}], [{"a": 1, "z": "s"}]),
    # An explicit closed=False is a setting; the first base that has one wins.
    ("OpenFirst", "{'a': int, str: anything}", [{"a": 1, "z": "s"}], [{}]),
    ("ClosedFirst", "{'a': str}", [{"a": "s"}], [{"a": "s", "z": 1}]),
    ("GenericChild", "{'a': int, 'b': str}", [{"a": 1, "b": "s"}], [{"a": 1, "b": "s", "z": 1}]),
    # Where the backport has a "no extra items" sentinel, None is a type.
    ("NoneExtra", "{'a': int, str: None}", [{"a": 1, "z": None}], [{"a": 1, "z": 5}]),
    ("NoneExtraChild", "{'a': int, str: None}", [{"a": 1, "z": None}], [{"a": 1, "z": 5}]),
]


@pytest.mark.parametrize(
    "name, text, members, non_members", INHERITED_SETTINGS, ids=[case[0] for case in INHERITED_SETTINGS]
)
def test_a_typed_dict_inherits_the_extra_keys_setting_of_its_first_base_that_has_one(
    name, text, members, non_members
):
    spec = backport_hierarchy()[name]
    assert repr(Validator(spec)) == text
    check(spec, members, non_members)


def test_the_extra_keys_setting_of_a_base_that_cannot_be_read_is_an_error():
    typing_extensions = pytest.importorskip("typing_extensions")

    class Base(typing_extensions.TypedDict):
        a: int

    class Child(Base):
        pass

    class Boom(Exception):
        pass

    class Hostile(type):
        @property
        def __closed__(cls):
            raise Boom

    Child.__orig_bases__ = (Hostile("Odd", (), {}),)
    with pytest.raises(Boom):
        Validator(Child)


@pytest.mark.parametrize("has_sentinel, text", [(True, "{'a': int, str: None}"), (False, "{'a': int, str: anything}")])
def test_extra_items_none_is_a_type_where_the_maker_of_the_class_has_the_sentinel(monkeypatch, has_sentinel, text):
    maker = types.ModuleType("typed_dict_maker")
    if has_sentinel:
        maker.NoExtraItems = object()
    monkeypatch.setitem(sys.modules, "typed_dict_maker", maker)
    Meta = type("Meta", (type,), {"__module__": "typed_dict_maker"})
    Made = Meta(
        "Made",
        (),
        {"__annotations__": {"a": int}, "__required_keys__": frozenset({"a"}), "__extra_items__": None},
    )
    assert repr(Validator(Made)) == text


def test_the_backport_sentinel_is_recognised_only_through_sys_modules(monkeypatch):
    sentinel = object()

    class Hand:
        __annotations__ = {"a": int}
        __required_keys__ = frozenset({"a"})
        __extra_items__ = sentinel

    fake = types.ModuleType("typing_extensions")
    fake.NoExtraItems = sentinel
    monkeypatch.setitem(sys.modules, "typing_extensions", fake)
    check(Hand, [{"a": 1, "z": 2}], [])
    # Without the module loaded the object is just an extra-items schema: a constant.
    monkeypatch.delitem(sys.modules, "typing_extensions")
    check(Hand, [{"a": 1}, {"a": 1, "z": sentinel}], [{"a": 1, "z": 2}])
    assert "typing_extensions" not in sys.modules


def test_a_typed_dict_key_with_a_lone_surrogate_is_refused():
    Bad = typing.TypedDict("Bad", {"\ud800": int})
    with pytest.raises(ValueError) as info:
        Validator(Bad)
    assert str(info.value) == "a record key must be valid Unicode; a field name cannot contain a lone surrogate"


@needs_qualifiers
def test_a_typed_dict_hint_is_a_type_argument_position_for_forward_references():
    class Hinted(typing.TypedDict):
        a: typing.Required["int"]

    # get_type_hints resolves the name; the resolved type is built.
    check(Hinted, [{"a": 1}], [{"a": "1"}, {}])


# --- enums, protocols and other classes ----------------------------------------


class Color(enum.Enum):
    RED = 1


class Level(enum.IntEnum):
    LOW = 1


class Sized(typing.Protocol):
    def size(self) -> int: ...


@typing.runtime_checkable
class HasSize(typing.Protocol):
    def size(self) -> int: ...


class Measured:
    def size(self):
        return 1


T = typing.TypeVar("T")


class Box(typing.Generic[T]):
    pass


@pytest.mark.parametrize(
    "spec, members, non_members",
    [
        (Color, [Color.RED], [1, "RED", Color]),
        (Level, [Level.LOW], [1]),
        (HasSize, [Measured()], [Plain(), 1]),
        (Box, [Box(), Box[int]()], [Plain()]),
    ],
    ids=["enum", "int-enum", "runtime-protocol", "generic-class"],
)
def test_instance_atoms(spec, members, non_members):
    check(spec, members, non_members)


def test_a_protocol_must_be_runtime_checkable():
    with pytest.raises(NotImplementedError) as info:
        Validator(Sized)
    assert str(info.value) == "a Protocol must be @runtime_checkable to be used as a schema"


@pytest.mark.parametrize(
    "spec, text",
    [
        (bool, "bool"),
        (int, "int"),
        (float, "float"),
        (str, "str"),
        (bytes, "bytes"),
        (type(None), "None"),
        (list, "list[anything]"),
        (tuple, "tuple[anything, ...]"),
        (set, "set[anything]"),
        (frozenset, "frozenset[anything]"),
        (dict, "dict[anything, anything]"),
        (object, "anything"),
        (MyInt, "MyInt"),
        (Color, "Color"),
        pytest.param(Movie, "{'title': str, 'year?': int, str: anything}", marks=needs_qualifiers),
        pytest.param(Partial, "{'age?': int, 'name': str, str: anything}", marks=needs_qualifiers),
        (_typed_dict(__closed__=True), "{'a': int}"),
        (_typed_dict(__extra_items__=int), "{'a': int, str: int}"),
    ],
    ids=repr,
)
def test_rendered_classes(spec, text):
    assert repr(Validator(spec)) == text


# --- a name declared twice -------------------------------------------------------

TYPED_DICT_TWICE = (
    "the key {} is declared twice in this typed dict: its keys are read as their str, so two keys with one text "
    "are one field; declare it once with the type and the optionality it has"
)
DATACLASS_TWICE = (
    "the field {} is declared twice in this dataclass: its fields are read by the str of their names, so two "
    "fields with one name are one attribute; declare it once"
)


class Name(str):
    """A key distinct from the str of its text in a dict."""

    def __hash__(self):
        return 1

    def __eq__(self, other):
        return self is other


def _late_typed_dict():
    class Late(typing.TypedDict):
        a: int

    Late.__annotations__[Name("a")] = str  # after the class
    return Late


def _renamed_dataclass():
    @dataclasses.dataclass
    class Renamed:
        a: int
        b: str

    Renamed.__dataclass_fields__["b"].name = "a"  # after the class
    return Renamed


class HandTwice:
    __annotations__ = {"x": int, Name("x"): str}
    __required_keys__ = frozenset({"x"})


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda: typing.TypedDict("T", {1: int, "1": str}), TYPED_DICT_TWICE.format('"1"')),
        (lambda: typing.TypedDict("T", {"1": str, 1: int}), TYPED_DICT_TWICE.format('"1"')),
        (_late_typed_dict, TYPED_DICT_TWICE.format('"a"')),
        (lambda: HandTwice, TYPED_DICT_TWICE.format('"x"')),
        (_renamed_dataclass, DATACLASS_TWICE.format('"a"')),
    ],
    ids=["functional-int-key", "functional-int-key-last", "annotations-changed", "hand-made", "dataclass"],
)
def test_a_name_declared_twice_is_refused(make, message):
    # The walks would read one entry of the name or every one, each path
    # its own way: no record holds a name twice.
    with pytest.raises(ValueError) as info:
        Validator(make())
    assert str(info.value) == message


@needs_qualifiers
def test_a_typed_dict_optional_int_key_beside_its_str_is_refused():
    with pytest.raises(ValueError) as info:
        Validator(typing.TypedDict("T", {1: typing.NotRequired[int], "1": str}))
    assert str(info.value) == TYPED_DICT_TWICE.format('"1"')


def test_a_non_str_key_alone_is_the_field_of_its_text():
    v = Validator(typing.TypedDict("T", {1: int}))
    assert repr(v) == "{'1': int, str: anything}"
    for value, member in [({"1": 3}, True), ({"1": "x"}, False), ({1: 3}, False), ({}, False)]:
        assert v.is_valid(value) is member, value
    assert v.is_valid_json('{"1": 3}') and not v.is_valid_json('{"1": "x"}')
    assert v.is_equivalent({"1": int, str: typing.Any})
