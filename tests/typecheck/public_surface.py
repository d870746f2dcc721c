"""Every public name of tessaron, used as a program would use it.

Type-checked with mypy --strict and pyright (strict) against the installed
package's stub, and run as a script, so the stub and the runtime agree on
what each call takes and returns.
"""

import copy
from typing import Annotated, Any, Literal, assert_type

import tessaron

# The star import proves that the stub's __all__ exports every public name.
from tessaron import *  # pyright: ignore[reportWildcardImportFromLibrary]

assert_type(tessaron.__version__, str)
assert_type(MAX_SCHEMA_DEPTH + MAX_DEFINITIONS + MAX_SCHEMA_NODES, int)

# Construction and the combinators.
User = Validator({"id": int, "name": str, "tags?": list[str]})
Json = recursive(lambda j: union(None, bool, int, float, str, [j], {str: j}))
assert_type(User, Validator)
assert_type(Json, Validator)
assert_type(union(), Validator)
assert_type(intersection(int, complement(bool)), Validator)
assert_type(User | None, Validator)
assert_type(anything, Validator)
assert_type(nothing, Validator)

# Membership.
assert_type(User.is_valid({"id": 1, "name": "ada"}), bool)
assert_type({"id": 1} in User, bool)
checked: list[int] = Validator(list[int]).ensure([1, 2])
assert_type(Validator(list[int]).ensure([1, 2]), list[int])
assert_type(User.validate({"id": 1, "name": "ada"}), None)
assert_type(User.validate({"id": 1, "name": "ada"}, fail_fast=True), None)

# JSON input.
assert_type(User.validate_json(b'{"id": 1, "name": "ada"}'), None)
assert_type(User.load('{"id": 1, "name": "ada"}', fail_fast=True), Any)
assert_type(User.is_valid_json(b"[]"), bool)
assert_type(User.is_valid_json(None), bool)

# Errors.
try:
    User.validate({"id": "1", "name": "ada", "tags": [2]})
except ValidationError as error:
    assert_type(error.code, str)
    assert_type(error.path, tuple[str | int, ...])
    assert_type(error.message, str)
    assert_type(error.expected, str)
    assert_type(error.value, str)
    first = error.errors[0]
    assert_type(first["code"], str)
    assert_type(first["path"], tuple[str | int, ...])
    assert_type(first["message"], str)
    assert_type(first["expected"], str)
    assert_type(first["value"], str)
    assert [item["path"] for item in error.errors] == [("id",), ("tags", 0)]
else:
    raise AssertionError("the value above is not a member")

# Set questions.
answer = Validator(bool).relation_to(int)
assert_type(answer, Literal["subset", "not_subset", "undecided"])
assert answer == "subset"
assert_type(Validator(bool).is_subtype_of(int), bool)
assert_type(Validator(bool | int).is_equivalent(int), bool)
assert_type(intersection(int, str).is_empty(), bool)

# Rewrites and value semantics.
assert_type(User.open(), Validator)
assert_type(User.close(), Validator)
assert_type(copy.copy(User), Validator)
assert_type(copy.deepcopy(User), Validator)
assert_type(User == copy.copy(User), bool)
assert_type(hash(User), int)

# The pattern marker a repr names.
Word = Validator(Annotated[str, Regex("(?i)[a-z]+")])
assert_type(Regex("[a-z]+").pattern, str)
assert repr(Word) == "Annotated[str, Regex('(?i)[a-z]+')]"
assert Word.is_valid("Hello") and not Word.is_valid("Hello world")
