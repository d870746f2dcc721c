"""Quick start: compile schemas, validate values and JSON, combine and compare."""

import dataclasses
import typing

import tessaron
from tessaron import ValidationError, Validator, complement, intersection, recursive, union

print(f"tessaron {tessaron.__version__}")

# A schema is an ordinary Python object, compiled once into a validator.
User = Validator({"id": int, "name": str, "tags?": list[str]})
print("schema:", User)
print("valid:", User.is_valid({"id": 1, "name": "ada"}), {"id": 1, "name": "ada", "tags": ["x"]} in User)

# A failed validation says where and why.
try:
    User.validate({"id": "1", "name": "ada", "extra": True})
except ValidationError as error:
    print(error)
    print("first failure:", error.code, error.path)

# JSON documents are validated straight from their text.
print("json:", User.is_valid_json(b'{"id": 2, "name": "bob"}'), User.load('{"id": 3, "name": "cy"}'))


@dataclasses.dataclass
class Point:
    x: int
    y: int


print("dataclass:", Validator(Point).is_valid(Point(1, 2)), Validator(list[Point]).is_valid([Point(1, 2), "(3, 4)"]))

# Combinators build new validators; recursion is a checked fixpoint.
Json = recursive(lambda j: union(None, bool, int, float, str, [j], {str: j}))
print("recursive:", Json, Json.is_valid({"a": [1, 2.5, None, {"b": "c"}]}))
print("algebra:", union(int, str), intersection(int, complement(bool)), Validator(int) | None)

# Set questions are decided soundly: true only on a proof.
print("bool <= int:", Validator(bool).is_subtype_of(int))
print("int vs str:", Validator(int).relation_to(str))
print("bool | int == int:", Validator(typing.Union[bool, int]).is_equivalent(int))
print("empty:", intersection(int, str).is_empty())
