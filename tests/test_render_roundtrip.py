"""repr round trip: eval(repr(v)) rebuilds a validator equal to v.

Generated schemas cover the builtin kinds, literals (no NaN: it is equal
only to itself), containers, records with awkward keys, unions,
intersections, complements and recursive fixpoints; classes, predicates and
constraints are left out (a class renders by its name, a predicate as
"Predicate(...)").
"""

import typing

from hypothesis import given, settings
from hypothesis import strategies as st

import tessaron
from tessaron import Validator, complement, intersection, recursive, union

NAMESPACE = {name: getattr(tessaron, name) for name in tessaron.__all__}
NAMESPACE.update(Any=typing.Any, Literal=typing.Literal, typing=typing)

SCALARS = [None, bool, int, float, str, bytes, typing.Any, tessaron.anything, tessaron.nothing]
LITERALS = st.one_of(
    st.integers(min_value=-(2**70), max_value=2**70),
    st.booleans(),
    st.floats(allow_nan=False),
    st.text(max_size=4),
    st.binary(max_size=4),
)
KEYS = st.sampled_from(["a", "b", "it's", 'say "hi"', "back\\slash", "line\nbreak", "ünï", "a?"])

leaves = st.one_of(
    st.sampled_from(SCALARS).map(Validator),
    LITERALS.map(lambda v: Validator(typing.Literal[v])),
    st.lists(LITERALS, min_size=2, max_size=4).map(lambda vs: Validator(typing.Literal[tuple(vs)])),
)


def extend(children):
    return st.one_of(
        st.lists(children, min_size=2, max_size=3).map(lambda xs: union(*xs)),
        st.lists(children, min_size=2, max_size=3).map(lambda xs: intersection(*xs)),
        children.map(complement),
        children.map(lambda x: Validator(list[x])),
        st.lists(children, max_size=3).map(lambda xs: Validator(tuple[tuple(xs)] if xs else tuple[()])),
        children.map(lambda x: Validator(tuple[x, ...])),
        st.sampled_from([int, str, bytes, frozenset[int]]).flatmap(
            lambda e: st.sampled_from([set, frozenset]).map(lambda c: Validator(c[e]))
        ),
        children.map(lambda x: Validator(dict[str, x])),
        st.lists(st.tuples(KEYS, st.booleans(), children), max_size=3, unique_by=lambda e: e[0]).map(
            lambda es: Validator({(k + "?" if optional else k): v for k, optional, v in es})
        ),
        children.map(lambda x: recursive(lambda self: list[self] | x)),
        children.map(lambda x: recursive(lambda self: {"head": x, "tail?": self})),
    )


schemas = st.recursive(leaves, extend, max_leaves=8)


@settings(max_examples=150, deadline=None)
@given(schemas)
def test_eval_of_repr_rebuilds_an_equal_validator(v):
    text = repr(v)
    rebuilt = Validator(eval(text, dict(NAMESPACE)))
    assert rebuilt == v, text
    assert hash(rebuilt) == hash(v)
    assert repr(rebuilt) == text
