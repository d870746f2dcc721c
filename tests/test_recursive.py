"""recursive(...): checked fixpoints, their placeholders, and hostile shapes."""

import threading
import time
from typing import Union

import pytest

import tessaron
from tessaron import Validator, complement, intersection, recursive, union

from interpreter import UNION_OPERATOR, has

NOT_CONTRACTIVE = (
    "recursive schema is not contractive: the recursive reference must occur under a structural "
    "constructor (a list, tuple, set, dict, record, or object)"
)
UNRESOLVED = "schema holds an unresolved recursive placeholder"


@pytest.mark.parametrize(
    "builder, text, members, non_members",
    [
        (lambda x: [x], "recursive(lambda X: list[X])", [[], [[], [[]]]], [[1], None]),
        (lambda x: list[x], "recursive(lambda X: list[X])", [[[]]], [[[1]]]),
        (
            lambda x: {"next": x, "v": int},
            "recursive(lambda X: {'next': X, 'v': int})",
            [],
            [{"v": 1}, {"next": 1, "v": 1}],
        ),
        (lambda x: Union[None, list[x]], "recursive(lambda X: None | list[X])", [None, [None, []]], [[1]]),
        (lambda x: union(int, tuple[x, x]), "recursive(lambda X: int | tuple[X, X])", [1, (1, (2, 3))], [(1,)]),
        (lambda x: int, "recursive(lambda X: int)", [3], ["3"]),
        (lambda x: dict[str, x], "recursive(lambda X: dict[str, X])", [{"a": {}}], [{"a": 1}]),
        (lambda x: frozenset[x], "recursive(lambda X: frozenset[X])", [frozenset({frozenset()})], [{1}]),
        (
            lambda x: recursive(lambda y: [x, y]),
            "recursive(lambda X: recursive(lambda Y: [X, Y]))",
            [],
            [[], [1, 2]],
        ),
        (
            lambda x: recursive(lambda y: recursive(lambda z: Union[None, list[union(x, y, z)]])),
            "recursive(lambda X: recursive(lambda Y: recursive(lambda Z: None | list[Z | Y | X])))",
            [None, [None, [None]]],
            [[1]],
        ),
    ],
    ids=lambda p: p if isinstance(p, str) else "",
)
def test_contractive_bodies_compile(builder, text, members, non_members):
    v = recursive(builder)
    assert repr(v) == text
    for value in members:
        assert v.is_valid(value), value
    for value in non_members:
        assert not v.is_valid(value), value


@pytest.mark.parametrize(
    "builder",
    [
        lambda x: x,
        lambda x: union(int, x),
        lambda x: x | None,
        lambda x: None | x,
        lambda x: intersection(x, list[int]),
        lambda x: complement(x),
        lambda x: union(str, complement(intersection(x, int))),
        lambda x: recursive(lambda y: union(x, [y])),
        lambda x: recursive(lambda y: [x, y]) | x,
    ],
    ids=[
        "itself",
        "union",
        "or None",
        "None or",
        "intersection",
        "complement",
        "nested combinators",
        "inner call leaves the outer reference unguarded",
        "beside an inner call",
    ],
)
def test_non_contractive_bodies_are_refused(builder):
    with pytest.raises(ValueError) as info:
        recursive(builder)
    assert str(info.value) == NOT_CONTRACTIVE


def test_inner_calls_are_refused_with_the_same_message():
    with pytest.raises(ValueError, match="^recursive schema is not contractive"):
        recursive(lambda x: [recursive(lambda y: union(int, y))])


class Boom(Exception):
    pass


def raising_builder(keep):
    def builder(x):
        keep.append(x)
        raise Boom("from the builder")

    return builder


def refused_body(keep):
    def builder(x):
        keep.append(x)
        return (x, x)  # a tuple literal is not a schema

    return builder


def unguarded_body(keep):
    def builder(x):
        keep.append(x)
        return union(int, x)

    return builder


@pytest.mark.parametrize(
    "make, error",
    [(raising_builder, Boom), (refused_body, NotImplementedError), (unguarded_body, ValueError)],
    ids=["builder raises", "body refused", "not contractive"],
)
def test_a_failed_call_leaves_no_placeholder_active(make, error):
    keep = []
    with pytest.raises(error):
        recursive(make(keep))
    (placeholder,) = keep
    with pytest.raises(ValueError, match=UNRESOLVED):
        Validator(placeholder)
    # Later calls on this thread are unaffected.
    assert repr(recursive(lambda x: [x])) == "recursive(lambda X: list[X])"


def test_an_exception_from_the_builder_propagates_unchanged():
    raised = Boom("mine")

    def builder(x):
        raise raised

    with pytest.raises(Boom) as info:
        recursive(builder)
    assert info.value is raised


def test_a_placeholder_that_escapes_its_call_is_unresolved():
    keep = []
    inside = []

    def builder(x):
        keep.append(x)
        inside.append(Validator([x]))  # legitimate while the call runs
        return [x]

    recursive(builder)
    with pytest.raises(ValueError) as info:
        Validator(keep[0])
    assert str(info.value) == (
        "schema holds an unresolved recursive placeholder: the validator a recursive(...) builder receives "
        "stands for the schema being defined and is only meaningful inside that call. Build the schema that "
        "uses it inside the builder, and use the validator recursive(...) returns outside."
    )
    # A validator built inside the call still holds the placeholder; using
    # it afterwards is refused the same way.
    with pytest.raises(ValueError, match=UNRESOLVED):
        union(inside[0], int)


def test_a_placeholder_used_on_another_thread_is_unresolved():
    seen = {}

    def on_other_thread(x):
        try:
            Validator([x])
        except ValueError as e:
            seen["error"] = str(e)
        else:
            seen["error"] = None

    def builder(x):
        t = threading.Thread(target=on_other_thread, args=(x,))
        t.start()
        t.join()
        Validator([x])  # the same call on this thread is fine
        return [x]

    recursive(builder)
    assert seen["error"] is not None and seen["error"].startswith(UNRESOLVED)


def test_calls_on_several_threads_at_once():
    barrier = threading.Barrier(4)
    results = [None] * 4

    def work(i):
        def builder(x):
            barrier.wait()  # every thread is inside its own call now
            return Union[None, list[x]]

        results[i] = repr(recursive(builder))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == ["recursive(lambda X: None | list[X])"] * 4


@pytest.mark.parametrize(
    "args, kwargs, error",
    [((1,), {}, "'int' object is not callable"), ((), {}, None), ((len, len), {}, None), ((), {"builder": len}, None)],
    ids=["not callable", "no argument", "two arguments", "keyword"],
)
def test_argument_errors(args, kwargs, error):
    with pytest.raises(TypeError) as info:
        recursive(*args, **kwargs)
    if error is not None:
        assert str(info.value) == error


@pytest.mark.parametrize(
    "builder",
    [
        lambda x: [x],
        lambda x: Union[None, dict[str, x], list[x]],
        lambda x: recursive(lambda y: [x, y]),
        lambda x: recursive(lambda y: recursive(lambda z: tuple[x, y, z])),
        lambda x: {"a": x, "b?": list[x]},
    ],
)
def test_repr_rebuilds_the_validator(builder):
    text = repr(recursive(builder))
    if " | " in text and not has(UNION_OPERATOR):
        pytest.skip(UNION_OPERATOR[1])
    namespace = {"recursive": recursive, "union": union, "__builtins__": __builtins__}
    assert repr(eval(text, namespace)) == text


# --- hostile shapes: guards against hangs, not speed tests -----------------

HANG_LIMIT = 20.0  # seconds; the faults these guard against never finish


def test_chain_of_definitions_each_naming_two_predecessors():
    # Every definition reaches the two before it outside any container, so a
    # contractiveness test that searched a definition again per path would
    # take Fibonacci(40) steps for the last one.
    start = time.monotonic()
    chain = [recursive(lambda x: [x]), recursive(lambda x: {"a": x})]
    for _ in range(40):
        a, b = chain[-1], chain[-2]
        chain.append(recursive(lambda x, a=a, b=b: intersection(a, b, [x])))
    assert time.monotonic() - start < HANG_LIMIT
    assert repr(chain[-1]).startswith("recursive(lambda X: ")


def test_deeply_nested_calls():
    start = time.monotonic()

    def nest(depth, outer):
        if depth == 0:
            return Union[None, list[union(*outer)]]
        return recursive(lambda x: nest(depth - 1, outer + [x]))

    v = nest(60, [])
    assert v.is_valid([None, [None]])
    assert time.monotonic() - start < HANG_LIMIT


def test_wide_union_body():
    start = time.monotonic()
    v = recursive(lambda x: union(*range(5000), *(f"s{i}" for i in range(5000)), list[x]))
    assert v.is_valid([[4999, "s17"], []])
    assert not v.is_valid([5000])
    assert time.monotonic() - start < HANG_LIMIT


def test_shared_subtrees_in_a_body():
    # A body whose parts share one subtree at every level: 2^14 occurrences
    # of the bottom through 15 distinct nodes, inside the node bound.
    start = time.monotonic()

    def builder(x):
        v = Validator([x])
        for _ in range(14):
            v = Validator(tuple[v, v])
        return v

    r = recursive(builder)
    assert repr(r).startswith("recursive(lambda X: tuple[tuple[")
    assert time.monotonic() - start < HANG_LIMIT


def test_module_exports_recursive():
    assert tessaron.recursive is recursive
    assert recursive.__doc__.startswith("Build a recursive schema as a checked fixpoint.")
