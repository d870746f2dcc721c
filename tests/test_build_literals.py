"""Dict literals as records and list literals as list schemas."""

import typing

import pytest

from tessaron import Validator


class Key(str):
    """A str subclass whose instances are distinct dict keys with one text."""

    __hash__ = object.__hash__

    def __eq__(self, other):
        return self is other


class OnRead:
    """Runs `action` (once) when the builder first probes it as a spec."""

    def __init__(self, action):
        self.action = action

    def __getattr__(self, name):
        action, self.action = self.action, None
        if action is not None:
            action()
        raise AttributeError(name)


DECLARED_TWICE = (
    "the key {} is declared twice in this record: a name and the same name with a trailing `?` are one "
    "field, so write it once with the type and the optionality it has"
)
MISPLACED_ELLIPSIS = "`...` may appear only as the last element of a list schema"


@pytest.mark.parametrize(
    "spec, message",
    [
        ({"a": int, "a?": str}, DECLARED_TWICE.format('"a"')),
        ({"a?": int, "b": str, "a": bytes}, DECLARED_TWICE.format('"a"')),
        ({"?": int, "": str}, DECLARED_TWICE.format('""')),
        # Two str-subclass keys: distinct dict keys, one field name.
        ({Key("k"): int, Key("k"): str}, DECLARED_TWICE.format('"k"')),
        ({Key("k"): int, "k": str}, DECLARED_TWICE.format('"k"')),
        # The name in double quotes, escaped.
        ({'q"b\\s\t\n\r\0\x01\x7f\u200b\u00e9': int, 'q"b\\s\t\n\r\0\x01\x7f\u200b\u00e9?': int},
         DECLARED_TWICE.format('"q\\"b\\\\s\\t\\n\\r\\0\\u{1}\\u{7f}\\u{200b}\u00e9"')),
        ({"\ud800": int}, "a record key must be valid Unicode; a field name cannot contain a lone surrogate"),
        ({"a": int, "x\udfff?": int}, "a record key must be valid Unicode; a field name cannot contain a lone surrogate"),
    ],
    ids=["plain-and-optional", "later-repeat", "empty-name", "str-subclasses", "subclass-and-str", "escaped",
         "lone-surrogate", "lone-surrogate-optional"],
)
def test_record_refusals(spec, message):
    with pytest.raises(ValueError) as info:
        Validator(spec)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "spec",
    [[...], [..., int], [int, ..., str], [..., ...], [int, ..., ...], [..., int, ...]],
    ids=repr,
)
def test_list_ellipsis_refusals(spec):
    with pytest.raises(NotImplementedError) as info:
        Validator(spec)
    assert str(info.value) == MISPLACED_ELLIPSIS


def test_a_nested_refusal_stops_the_record():
    with pytest.raises(NotImplementedError) as info:
        Validator({"a": int, "b": (1, 2)})
    assert str(info.value).startswith("a tuple literal is not a schema")


def test_an_exception_of_a_nested_build_comes_out_unchanged():
    class Boom(Exception):
        pass

    def boom():
        raise Boom("from user code")

    with pytest.raises(Boom, match="from user code"):
        Validator([int, OnRead(boom)])
    with pytest.raises(Boom, match="from user code"):
        Validator({"a": OnRead(boom)})
    with pytest.raises(Boom, match="from user code"):
        Validator({OnRead(boom): int})


def test_a_dict_that_grows_during_its_build_is_an_error():
    spec = {}
    spec["a"] = OnRead(lambda: spec.__setitem__("b", int))
    with pytest.raises(RuntimeError) as info:
        Validator(spec)
    assert str(info.value) == "dictionary changed size during iteration"


def test_a_dict_that_shrinks_during_its_build_is_an_error():
    spec = {"a": int}
    spec["b"] = OnRead(spec.clear)
    with pytest.raises(RuntimeError) as info:
        Validator(spec)
    assert str(info.value) == "dictionary changed size during iteration"


def test_a_dict_whose_keys_change_during_its_build_is_an_error():
    spec = {"a": int}

    def swap():
        del spec["a"]
        spec["z"] = str

    spec["b"] = OnRead(swap)
    with pytest.raises(RuntimeError) as info:
        Validator(spec)
    assert str(info.value) == "dictionary keys changed during iteration"


def test_a_value_replaced_in_the_dict_during_its_own_build_stays_alive():
    # The list's only reference is the dict's until the build replaces it;
    # the build holds its own, and the same key set is no error.
    spec = {}
    spec["a"] = [OnRead(lambda: spec.__setitem__("a", None)), int]
    v = Validator(spec)
    assert not v.is_valid({"a": [0, 1]})


def test_a_list_that_shrinks_during_its_build_is_an_error():
    spec = [int, str, bytes]
    spec[0] = OnRead(spec.clear)
    with pytest.raises(IndexError):
        Validator(spec)


@pytest.mark.parametrize(
    "spec, members, non_members",
    [
        ({}, [{}], [{"a": 1}, [], None]),
        (
            {"a": int, "b?": str},
            [{"a": 1}, {"a": 1, "b": "x"}],
            [{}, {"b": "x"}, {"a": "1"}, {"a": 1, "b": 2}, {"a": 1, "c": 0}],
        ),
        ({str: int}, [{}, {"x": 1, "y": 2}], [{"x": "y"}, {1: 1}]),
        ({"a": int, str: str}, [{"a": 1}, {"a": 1, "x": "y"}], [{"a": 1, "x": 2}, {"x": "y"}]),
        ({int: str, "a": bytes}, [{"a": b""}, {"a": b"", 3: "x"}], [{"a": b"", 3: 4}, {"a": b"", "b": "x"}]),
        ({typing.Literal["a"]: int}, [{}, {"a": 1}], [{"a": "x"}, {"b": 1}]),
        # A lone "?" is the optional field with the empty name; "" the required one.
        ({"?": int}, [{}, {"": 1}], [{"?": 1}, {"": "x"}]),
        ({"": int}, [{"": 1}], [{}, {"?": 1}]),
        ({Key("a?"): int}, [{}, {"a": 1}], [{"a": "x"}, {"a?": 1}]),
        # A str value is a constant, not a forward reference.
        ({"a": "int"}, [{"a": "int"}], [{"a": 1}]),
        ({"a": [int]}, [{"a": []}, {"a": [1, 2]}], [{"a": [1, "x"]}, {"a": (1,)}]),
    ],
    ids=["empty", "required-and-optional", "str-keys", "field-and-clause", "int-clause", "literal-key",
         "lone-question-mark", "empty-name", "str-subclass-optional", "str-constant", "nested-list"],
)
def test_records(spec, members, non_members):
    v = Validator(spec)
    for value in members:
        assert v.is_valid(value), value
    for value in non_members:
        assert not v.is_valid(value), value


@pytest.mark.parametrize(
    "spec, members, non_members",
    [
        ([], [[]], [[1], (), None]),
        ([int], [[], [1], [1, 2, 3]], [["a"], [1, "a"], (1,), None]),
        ([int, ...], [[], [1], [1, 2, 3]], [["a"], [1, "a"], (1,)]),
        ([int, str], [[1, "a"]], [[], [1], [1, "a", "b"], ["a", 1], (1, "a")]),
        ([int, str, ...], [[1], [1, "a"], [1, "a", "b"]], [[], ["a"], [1, 2], [1, "a", 2]]),
        ([int, str, bytes, ...], [[1, "a"], [1, "a", b"", b""]], [[1], [1, "a", "b"]]),
        ([1, 2], [[1, 2]], [[1, 3], [2, 1], [1], [1, 2, 2]]),
        (["a"], [[], ["a", "a"]], [["b"], ["a", "b"]]),
        ([[int]], [[], [[1], []]], [[1], [["a"]]]),
    ],
    ids=["empty", "any-length", "any-length-ellipsis", "fixed", "prefix-tail", "two-prefix-tail", "constants",
         "str-constant", "nested"],
)
def test_lists(spec, members, non_members):
    v = Validator(spec)
    for value in members:
        assert v.is_valid(value), value
    for value in non_members:
        assert not v.is_valid(value), value


def test_a_list_subclass_and_a_dict_subclass_are_literals_too():
    class L(list):
        pass

    class D(dict):
        pass

    assert Validator(L([int, str])).is_valid([1, "a"])
    assert not Validator(L([int, str])).is_valid([1])
    assert Validator(D({"a": int})).is_valid({"a": 1})
    assert not Validator(D({"a": int})).is_valid({})


@pytest.mark.parametrize(
    "spec, text",
    [
        ({}, "{}"),
        ({"a": int, "b?": str}, "{'a': int, 'b?': str}"),
        ({"b": str, "a": int}, "{'a': int, 'b': str}"),
        ({str: int}, "dict[str, int]"),
        ({"a": int, str: str}, "{'a': int, str: str}"),
        ({int: str, "a": bytes}, "{'a': bytes, int: str}"),
        ({"?": int}, "{'?': int}"),
        ({"": int}, "{'': int}"),
        ({Key("a?"): int}, "{'a?': int}"),
        ({"a": "int"}, "{'a': Literal['int']}"),
        ([], "[]"),
        ([int], "list[int]"),
        ([int, ...], "list[int]"),
        ([int, str], "[int, str]"),
        ([int, str, ...], "[int, str, ...]"),
        ([int, str, bytes, ...], "[int, str, bytes, ...]"),
        ([1, 2], "[Literal[1], Literal[2]]"),
        (["a"], "list[Literal['a']]"),
        ([[int]], "list[list[int]]"),
    ],
    ids=repr,
)
def test_rendered_literals(spec, text):
    assert repr(Validator(spec)) == text


def test_a_str_key_record_equals_the_dict_form():
    assert repr(Validator({str: int})) == repr(Validator(dict[str, int]))
