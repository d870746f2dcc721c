"""repr round trip: eval(repr(v)) rebuilds a validator equal to v.

Classes, predicates and constraints are left out of the generated schemas
(a class renders by its name, a predicate as "Predicate(...)").
"""

import math
import typing

from hypothesis import given, settings
from strategies import schemas

import tessaron
from tessaron import Validator

NAMESPACE = {name: getattr(tessaron, name) for name in tessaron.__all__}
# repr(float("inf")) is "inf": as for any float, eval needs the name.
NAMESPACE.update(Any=typing.Any, Literal=typing.Literal, typing=typing, inf=math.inf)


@settings(max_examples=150, deadline=None)
@given(schemas)
def test_eval_of_repr_rebuilds_an_equal_validator(v):
    text = repr(v)
    rebuilt = Validator(eval(text, dict(NAMESPACE)))
    assert rebuilt == v, text
    assert hash(rebuilt) == hash(v)
