"""Quick start: compile a few schemas and combine them.

This example grows as the library does; it only uses what works today.
"""

import typing

import tessaron
from tessaron import Validator, complement, intersection, union

print(f"tessaron {tessaron.__version__}")
print("limits:", tessaron.MAX_SCHEMA_DEPTH, tessaron.MAX_DEFINITIONS, tessaron.MAX_SCHEMA_NODES)

# Schemas compile once into immutable validators.
answer = Validator(42)
maybe = union(None, answer, "forty-two")
print("compiled:", answer, maybe, complement(maybe), intersection())

# Specs that denote no set are refused with a message saying what to write.
for spec in [(1, 2), {1, 2}, typing.ForwardRef("Tree")]:
    try:
        Validator(spec)
    except NotImplementedError as error:
        print("refused:", error)

# Every validator is bounded in size.
try:
    union(*range(200_000))
except ValueError as error:
    print("too large:", str(error).split(":")[0])
