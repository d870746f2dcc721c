"""ValidationError: messages, lazily built attributes, hooks and pickling."""

import copy
import json
import pickle
import sys

import pytest

import _tessaron
import tessaron
from tessaron import ValidationError, Validator

from interpreter import PYPY, cpython_only

ATTRIBUTES = ("code", "path", "message", "expected", "value", "errors")


def raised(v, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        v.validate(value, **kwargs)
    return info.value


def test_class_object():
    assert issubclass(ValidationError, Exception)
    assert ValidationError.__name__ == "ValidationError"
    assert ValidationError.__module__ == "tessaron"
    assert ValidationError.__doc__ == "Raised when a value is not a member of a schema's set."
    names = list(_tessaron.__all__)
    assert names.index("ValidationError") == names.index("_debug_build") + 1
    assert names.index("Validator") == names.index("ValidationError") + 1
    assert tessaron.ValidationError is _tessaron.ValidationError


def test_hooks_come_from_the_helper_module():
    hooks = sys.modules["tessaron._error_hooks"]
    assert ValidationError.__getattr__.__module__ == "tessaron._error_hooks"
    assert ValidationError.__reduce__.__module__ == "tessaron._error_hooks"
    assert ValidationError.__getattr__.__name__ == "__getattr__"
    assert callable(hooks.make)


@pytest.mark.parametrize("err", [raised(Validator(1), 2), ValidationError("custom")], ids=["raised", "made"])
def test_attributes_are_visible_to_dir_and_help(err):
    import pydoc

    assert set(ATTRIBUTES) <= set(dir(err))
    assert set(ATTRIBUTES) <= set(dir(ValidationError))
    text = pydoc.render_doc(ValidationError, renderer=pydoc.plaintext)
    for name in ATTRIBUTES:
        doc = getattr(ValidationError, name).__doc__
        assert doc and doc.splitlines()[0] in text, name
        assert f"{name} = " in text
    assert "keys code, path, message, expected" in ValidationError.errors.__doc__
    # Listing and documenting them builds nothing on the instance.
    assert "code" not in vars(err) and "errors" not in vars(err)


def test_class_attributes_are_descriptors_hidden_by_the_cached_value():
    err = raised(Validator(1), 2)
    descriptor = vars(ValidationError)["code"]
    assert descriptor.__get__(None, ValidationError) is descriptor
    assert repr(descriptor) == "<attribute 'code' of 'ValidationError' objects>"
    first = err.errors
    assert err.errors is first
    assert vars(err)["errors"] is first


def test_raised_error_carries_only_its_failures():
    err = raised(Validator(1), 2)
    assert err.args == ("expected the literal 1, got 2 [literal_error]",)
    assert set(vars(err)) == {"_failures"}
    carrier = err._failures
    assert type(carrier).__name__ == "Failures"
    assert type(carrier).__module__ == "tessaron"
    # PyPy's C-API layer gives every instance of an extension type a __dict__.
    assert PYPY or not hasattr(carrier, "__dict__")
    assert not hasattr(_tessaron, "Failures")
    with pytest.raises(TypeError):
        type(carrier)()


def test_attributes_are_built_on_first_read_and_cached():
    err = raised(Validator(1), 2)
    assert "code" not in vars(err)
    assert err.code == "literal_error"
    assert vars(err)["code"] == "literal_error"
    assert "errors" not in vars(err)
    assert (err.path, err.message, err.expected, err.value) == (
        (),
        "expected the literal 1, got 2 [literal_error]",
        "the literal 1",
        "2",
    )
    assert err.errors == (
        {
            "code": "literal_error",
            "path": (),
            "message": "expected the literal 1, got 2 [literal_error]",
            "expected": "the literal 1",
            "value": "2",
        },
    )
    assert list(err.errors[0]) == ["code", "path", "message", "expected", "value"]
    assert err.errors[0]["message"] == err.message
    json.dumps(err.errors)


def test_unknown_attribute():
    err = raised(Validator(1), 2)
    with pytest.raises(AttributeError) as info:
        err.nonexistent
    assert str(info.value) == "'ValidationError' object has no attribute 'nonexistent'"


def test_user_created_error_answers_empty_attributes_and_caches_nothing():
    err = ValidationError("custom")
    assert str(err) == "custom"
    assert (err.errors, err.path) == ((), ())
    assert (err.code, err.message, err.expected, err.value) == ("", "", "", "")
    assert vars(err) == {}


def test_foreign_failures_attribute_is_ignored():
    err = ValidationError("custom")
    err._failures = "not a carrier"
    assert err.code == "" and err.errors == ()
    assert "code" not in vars(err)


@pytest.mark.parametrize("roundtrip", [lambda e: pickle.loads(pickle.dumps(e)), copy.copy, copy.deepcopy])
def test_pickle_and_copy_carry_plain_attributes(roundtrip):
    err = raised(tessaron.union(1, 2), 3)
    clone = roundtrip(err)
    assert type(clone) is ValidationError
    assert str(clone) == str(err)
    assert "_failures" not in vars(clone)
    for name in ATTRIBUTES:
        assert getattr(clone, name) == getattr(err, name)
    # The reduced error keeps answering from its cache.
    assert "_failures" not in vars(err)
    assert err.code == "union_error"


def test_failures_are_released_with_the_error():
    import gc
    import weakref

    err = raised(Validator(1), 2)
    ref = weakref.ref(err)
    del err
    gc.collect()
    assert ref() is None


def test_message_of_several_failures():
    v = Validator(list[int])
    err = raised(v, ["a", 1, "b"])
    lines = str(err).split("\n")
    assert lines == [
        "2 validation errors:",
        "at [0]: expected int, got 'a' [int_type]",
        "at [2]: expected int, got 'b' [int_type]",
    ]
    assert lines[1] == err.message
    assert err.path == (0,)
    assert [e["path"] for e in err.errors] == [(0,), (2,)]
    assert len(raised(v, ["a", 1, "b"], fail_fast=True).errors) == 1


def test_paths_of_keys_and_positions():
    v = Validator({"a": list[dict[int, dict[str, int]]]})
    err = raised(v, {"a": [{}, {}, {}, {-1: {"b": "x"}}]})
    assert err.path == ("a", 3, -1, "b")
    assert err.message == "at a[3][-1].b: expected int, got 'x' [int_type]"


def test_big_int_key_path():
    v = Validator(dict[int, int])
    key = 2**70
    err = raised(v, {key: "x"})
    assert err.path == (key,)
    assert err.message.startswith(f"at [{key}]: ")


def test_key_with_a_lone_surrogate():
    v = Validator(dict[str, int])
    key = "a\udcffb"
    err = raised(v, {key: "x"})
    assert err.path == (key,)
    assert err.message == "at a\\udcffb: expected int, got 'x' [int_type]"
    str(err).encode("utf-8")  # printable


@cpython_only("no count of allocated blocks (test_leaks.py covers raising there)")
def test_raising_and_reading_attributes_leaks_nothing():
    v = Validator(dict[str, list[int]])
    value = {"a": [1, "x"], "b": 2, 3: [None]}

    def cycle(n):
        for _ in range(n):
            try:
                v.validate(value)
            except ValidationError as exc:
                err = exc
            err.errors, err.path, err.message
            pickle.loads(pickle.dumps(err))
            assert v.is_valid(value) is False

    cycle(200)  # warm up caches and free lists
    before = sys.getallocatedblocks()
    cycle(2000)
    # A leak of even one object per raise would show as 2000 blocks.
    assert sys.getallocatedblocks() - before < 1000
