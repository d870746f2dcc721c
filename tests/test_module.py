"""The module's attributes, constants and the Validator class object."""

import copy
import gc
import pickle
import weakref
from typing import Annotated

import pytest

import _tessaron
import tessaron
from tessaron import Validator

from interpreter import cpython_only

EXPECTED_ALL_PREFIX = ["__version__", "_debug_build"]
EXPECTED_ALL_REST = [
    "Validator",
    "union",
    "intersection",
    "complement",
    "recursive",
    "anything",
    "nothing",
    "MAX_SCHEMA_DEPTH",
    "MAX_DEFINITIONS",
    "MAX_SCHEMA_NODES",
]


def test_all_lists_attributes_in_order():
    names = list(_tessaron.__all__)
    # ValidationError joins between _debug_build and Validator once it exists.
    if "ValidationError" in names:
        assert names == EXPECTED_ALL_PREFIX + ["ValidationError"] + EXPECTED_ALL_REST
    else:
        assert names == EXPECTED_ALL_PREFIX + EXPECTED_ALL_REST
    for name in names:
        assert getattr(tessaron, name) is getattr(_tessaron, name)


def test_the_package_lists_the_pattern_marker_after_the_extension_names():
    assert "Regex" not in _tessaron.__all__
    assert tessaron.__all__ == [*_tessaron.__all__, "Regex"]
    assert tessaron.Regex is _tessaron.Regex
    namespace = {}
    exec("from tessaron import *", namespace)
    assert namespace["Regex"] is tessaron.Regex


def test_constants():
    assert tessaron.__version__ == "0.0.12"
    assert tessaron._debug_build is False
    assert (tessaron.MAX_SCHEMA_DEPTH, tessaron.MAX_DEFINITIONS, tessaron.MAX_SCHEMA_NODES) == (128, 128, 100000)
    assert isinstance(tessaron.anything, Validator)
    assert isinstance(tessaron.nothing, Validator)


def test_module_functions_are_named_and_hooks_are_private():
    assert _tessaron.union.__name__ == "union"
    assert _tessaron.union.__module__ == "_tessaron"
    for hidden in ("validation_error_getattr", "validation_error_reduce"):
        assert not hasattr(_tessaron, hidden)
    assert _tessaron.union.__text_signature__ == "(*schemas)"
    assert _tessaron.complement.__text_signature__ == "(schema, /)"


def test_validator_class_object():
    assert Validator.__name__ == "Validator"
    assert Validator.__module__ == "tessaron"
    assert Validator.__doc__.startswith("A compiled, immutable schema validator.")
    assert Validator.__text_signature__ == "(schema, /)"


def test_regex_marker_class():
    r = tessaron.Regex("(?i)[a-z]+")
    assert tessaron.Regex.__module__ == "tessaron"
    assert r.pattern == "(?i)[a-z]+"
    assert tessaron.Regex(pattern="x").pattern == "x"
    assert repr(r) == "Regex('(?i)[a-z]+')"
    assert r == tessaron.Regex("(?i)[a-z]+") and hash(r) == hash(tessaron.Regex("(?i)[a-z]+"))
    assert r != tessaron.Regex("[a-z]+") and r != "(?i)[a-z]+"
    with pytest.raises(AttributeError):
        r.pattern = "b"


@pytest.mark.parametrize("args", [(b"[a-z]+",), (None,), (), ("a", "b")])
def test_regex_marker_takes_one_str(args):
    with pytest.raises(TypeError):
        tessaron.Regex(*args)


def _pickle_round_trip(obj):
    return pickle.loads(pickle.dumps(obj))


@pytest.mark.parametrize("rebuild", [copy.copy, copy.deepcopy, _pickle_round_trip], ids=["copy", "deepcopy", "pickle"])
def test_regex_marker_copies_and_pickles_as_a_call(rebuild):
    r = tessaron.Regex("(?i)[a-z]+")
    again = rebuild(r)
    assert type(again) is tessaron.Regex and again == r and again.pattern == "(?i)[a-z]+"
    schema = Annotated[str, tessaron.Regex("[a-z]+")]
    rebuilt = rebuild(schema)
    assert rebuilt == schema
    assert repr(Validator(rebuilt)) == repr(Validator(schema))
    assert Validator(rebuilt).is_valid("abc") and not Validator(rebuilt).is_valid("ABC")


def test_regex_marker_reduces_to_its_class_and_text():
    assert tessaron.Regex("a+").__reduce__() == (tessaron.Regex, ("a+",))


def test_regex_marker_is_final_and_closed():
    with pytest.raises(TypeError, match="not an acceptable base type"):

        class Sub(tessaron.Regex):  # noqa: F841
            pass

    r = tessaron.Regex("a")
    with pytest.raises(AttributeError):
        r.anything_at_all = 1
    assert not hasattr(r, "__dict__")


def test_validator_is_final():
    with pytest.raises(TypeError):

        class Sub(Validator):  # noqa: F841
            pass


def test_validator_is_frozen_and_weak_referenceable():
    v = Validator(None)
    ref = weakref.ref(v)
    assert ref() is v
    with pytest.raises((AttributeError, TypeError)):
        v.anything_at_all = 1
    assert not hasattr(v, "__dict__")
    del v
    gc.collect()
    assert ref() is None


@cpython_only("its C-API layer does not traverse extension objects, so a cycle through a validator is never freed")
def test_validator_is_gc_tracked():
    v = Validator(3)
    assert gc.is_tracked(v)
    # A cycle through the pool is collectable: the validator reports its pool.
    holder = []
    v = Validator(_Holder(holder))
    holder.append(v)
    ref = weakref.ref(v)
    del v, holder
    gc.collect()
    assert ref() is None


class _Holder:
    def __init__(self, items):
        self.items = items


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "Validator.__new__() missing 1 required positional argument: 'schema'"),
        ((int, str), {}, "Validator.__new__() takes 1 positional arguments but 2 were given"),
        ((), {"schema": int}, "Validator.__new__() got some positional-only arguments passed as keyword arguments: 'schema'"),
        ((int,), {"other": 1}, "Validator.__new__() got an unexpected keyword argument 'other'"),
    ],
)
def test_constructor_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        Validator(*args, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: tessaron.complement(), "complement() missing 1 required positional argument: 'schema'"),
        (lambda: tessaron.complement(1, 2), "complement() takes 1 positional arguments but 2 were given"),
        (lambda: tessaron.union(1, x=2), "union() got an unexpected keyword argument 'x'"),
    ],
)
def test_module_function_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
