"""repr round trip: eval(repr(v)) rebuilds a validator equal to v.

Classes, predicates and constraints are left out of the generated schemas
(a class renders by its name, a predicate as "Predicate(...)").
"""

import math
import typing

from hypothesis import given, settings
from strategies import schemas

import tessaron
from tessaron import Validator, recursive, union

from interpreter import UNION_OPERATOR, has, needs

NAMESPACE = {name: getattr(tessaron, name) for name in tessaron.__all__}
# repr(float("inf")) is "inf": as for any float, eval needs the name.
NAMESPACE.update(Any=typing.Any, Literal=typing.Literal, typing=typing, inf=math.inf)


# A repr writes a union as `A | B`, which evaluates on types from 3.10 on.
@needs(UNION_OPERATOR)
@settings(max_examples=150, deadline=None)
@given(schemas)
def test_eval_of_repr_rebuilds_an_equal_validator(v):
    text = repr(v)
    rebuilt = Validator(eval(text, dict(NAMESPACE)))
    assert rebuilt == v, text
    assert hash(rebuilt) == hash(v)


def test_assembly_order_does_not_change_equality():
    # One fixpoint used directly and inside another: merged validators hold
    # it once, or twice when assembled the other way round; both finalise
    # to one set of definitions in one order.
    r = recursive(lambda y: typing.Union[list[y], None])
    a = Validator(list[dict[str, r]])
    b = recursive(lambda x: list[x] | r)
    assert union(a, b) == union(b, a) == (a | b) == (b | a)
    assert len({hash(union(a, b)), hash(union(b, a)), hash(b | a)}) == 1
    if has(UNION_OPERATOR):
        rebuilt = Validator(eval(repr(union(a, b)), dict(NAMESPACE)))
        assert rebuilt == union(a, b)
