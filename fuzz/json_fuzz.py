#!/usr/bin/env python3
"""Fuzz target: JSON input through both sinks (atheris).

The input is a JSON document, given to a handful of validators as bytes and,
when it decodes, as str.  Python's json module is the reference, narrowed to
what this library accepts (no NaN or Infinity, no float too large for a
double, no lone surrogate escape, at most 200 nested containers).  What must
hold for every input:

  - a document the reference accepts is accepted, and `load` returns an
    equal object with the same types (an int stays an int, -0.0 keeps its
    sign); one it refuses is refused: `validate_json` and `load` raise
    ValidationError "json_invalid", `is_valid_json` answers False;
  - the Python-object sink and the value-tree sink agree: `is_valid_json`
    equals `is_valid` of the parsed object, and `validate_json` raises
    exactly when that is False;
  - nothing raises anything else.

Shares its seed corpus with the native json_fuzz target (fuzz/corpus/json).
"""

import json
import math
import sys
import typing

import atheris

import tessaron
from tessaron import ValidationError, Validator

JsonValue = tessaron.recursive(
    lambda j: tessaron.union(None, bool, int, float, str, list[j], dict[str, j])
)


class Pattern:
    pattern = "[a-c]*"


VALIDATORS = [
    tessaron.anything,
    JsonValue,
    Validator(list[int]),
    Validator(dict[str, typing.Any]),
    Validator({"a": int, "b?": [str], "c?": {"d": float}}),
    Validator(typing.Union[int, float, None, bool]),
    Validator(list[dict[str, typing.Union[int, str]]]),
    Validator(typing.Annotated[str, Pattern()]),
    Validator(typing.Literal[1, "a", True, None]),
    Validator(float),
]

MAX_NESTING = 200


class Refused(Exception):
    pass


def refuse_constant(name):
    raise Refused(name)


def read_float(text):
    # Any exponent, however long: a zero or an underflow reads as a zero of
    # its sign, a value too large for a double is refused.
    value = float(text)
    if math.isinf(value):
        raise Refused(text)
    return value


def check_tree(value, depth=0):
    """Refuses what the reference accepts but this library does not.  Objects
    come as lists of pairs here, so values that a later duplicate key
    replaces are looked at too."""
    if isinstance(value, str):
        try:
            value.encode("utf-8")
        except UnicodeEncodeError:
            raise Refused("lone surrogate") from None
    elif isinstance(value, Pairs):
        if depth >= MAX_NESTING:
            raise Refused("nesting")
        for key, item in value:
            check_tree(key, depth)
            check_tree(item, depth + 1)
    elif isinstance(value, list):
        if depth >= MAX_NESTING:
            raise Refused("nesting")
        for item in value:
            check_tree(item, depth + 1)


class Pairs(list):
    pass


def reference(doc):
    """The parsed object, or Refused."""
    try:
        text = doc.decode("utf-8") if isinstance(doc, bytes) else doc
        if text[:1] == "\ufeff":
            raise Refused("byte order mark")
        value = json.loads(text, parse_constant=refuse_constant, parse_float=read_float)
        check_tree(json.loads(text, parse_float=read_float, object_pairs_hook=Pairs))
    except (ValueError, RecursionError) as exc:  # JSONDecodeError, UnicodeDecodeError
        raise Refused(str(exc)) from None
    return value


def same(a, b):
    """Equal values of the same types, float signs included."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def check(doc):
    try:
        expected = reference(doc)
    except Refused:
        expected = Refused
    for v in VALIDATORS:
        if expected is Refused:
            assert v.is_valid_json(doc) is False, (v, doc)
            for method in (v.validate_json, v.load):
                try:
                    method(doc)
                except ValidationError as err:
                    assert err.code == "json_invalid", (v, doc, err)
                else:
                    raise AssertionError(f"{v!r} accepted a document the reference refuses: {doc!r}")
            continue
        member = v.is_valid(expected)
        assert v.is_valid_json(doc) is member, (v, doc, member)
        try:
            loaded = v.load(doc)
        except ValidationError as err:
            assert not member and err.code != "json_invalid", (v, doc, err)
        else:
            assert member and same(loaded, expected), (v, doc, loaded, expected)
        try:
            v.validate_json(doc, fail_fast=True)
        except ValidationError:
            assert not member
        else:
            assert member


def TestOneInput(data):
    check(data)
    try:
        text = data.decode("utf-8", "surrogatepass")
    except UnicodeDecodeError:
        return
    check(text)


def main():
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
