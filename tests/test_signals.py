"""Signals during long native work: Ctrl-C and other handlers are honoured.

A timer signal is due a millisecond into an operation that would run for
about a second.  Without polling, the handler would only run once the
native call returned; so each test asserts the structural fact that the
handler's exception came out of the native call itself (the profiler sees
the call end in an exception, not a return) and, where the walk counts its
levels, that it stopped after a fraction of them.  The exception propagates
as itself, whatever its class: an ordinary `Exception` raised by a handler
is not taken for a failed check.
"""

import copy
import random
import signal
import sys
from typing import Annotated, Any, Literal, Union

import pytest

import _tessaron
from interpreter import cpython_only
from tessaron import ValidationError, Validator, union

pytestmark = [
    pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs signal.setitimer"),
]


class Pattern:
    def __init__(self, pattern):
        self.pattern = pattern


class Interrupted(Exception):
    """An ordinary exception raised by a signal handler."""


def raise_interrupted(signum, frame):
    raise Interrupted


NATIVE_METHODS = {"is_valid", "validate", "ensure", "is_valid_json", "validate_json", "load", "union"}


def interrupted_inside(call, handler, delay=0.001):
    """Runs `call` with a timer signal due after `delay` seconds whose
    handler is `handler`; answers (the exception raised, whether the native
    method ended in it, and the walk levels entered meanwhile)."""
    events = []

    def profile(frame, event, arg):
        if event in ("c_return", "c_exception") and getattr(arg, "__name__", None) in NATIVE_METHODS:
            events.append(event)

    previous = signal.signal(signal.SIGALRM, handler)
    steps = _tessaron._walk_steps()
    raised = None
    sys.setprofile(profile)
    try:
        signal.setitimer(signal.ITIMER_REAL, delay)
        call()
    except BaseException as exc:  # noqa: B036 -- KeyboardInterrupt is the point
        raised = exc
    finally:
        sys.setprofile(None)
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    return raised, events == ["c_exception"], _tessaron._walk_steps() - steps


# Each case: a name, a function making (validator method, value, a small
# member), and the
# walk levels a complete run enters (None where the work is not in levels).
# Every complete run takes about a second; the tests stop them in a few
# milliseconds.

def scalar_scans():
    inner = [0] * 10000
    return Validator(list[list[int]]).is_valid, [inner] * 20000 + [["x"]], [[0]]


def scalar_scans_recording():
    inner = [0] * 10000
    return Validator(list[list[Union[int, Literal["a"]]]]).validate, [inner] * 4000 + [["x"]], [["a"]]


def tuple_scans():
    inner = (0,) * 10000
    return Validator(list[tuple[int, ...]]).is_valid, [inner] * 20000 + [("x",)], [(0,)]


LEVELS = 20 * 1000000


def walk_levels():
    middle = [[0]] * 1000000
    return Validator(list[list[list[int]]]).is_valid, [middle] * 20 + [[["x"]]], [[[0]]]


def dfa_pattern():
    rng = random.Random(5)
    text = "".join(rng.choice("ab") for _ in range(100000)) + "c"
    return Validator(Annotated[str, Pattern("[ab]*a[ab]{1000}")]).is_valid, text, "a" * 1001


def simulated_pattern():
    # Unicode word boundaries on a non-ASCII text: the NFA simulation.
    return Validator(Annotated[str, Pattern(r"(?:\b\w+\b\s)*")]).is_valid, "é " * 3000000 + "!", "é "


def json_document():
    return Validator(Any).is_valid_json, "[" + "0," * 8000000 + "0]", "[0]"


def json_to_python():
    return Validator(Any).validate_json, "[" + "0," * 8000000 + "0]", "[0]"


def json_tree_parse():
    # A predicate keeps the document off the one-pass check: it is parsed
    # into the tree first (without the interpreter lock, at this size).
    return Validator(Annotated[Any, lambda x: True]).is_valid_json, "[" + "0," * 8000000 + "0]", "[0]"


def json_load():
    return Validator(list[int]).load, "[" + "0," * 8000000 + "0]", "[0]"


def json_walk():
    return Validator(list[list[int]]).is_valid_json, "[" + "[0]," * 3000000 + "[0]]", "[[0]]"


def json_pattern_unlocked():
    # Matched in the one pass, the lock given up: the match polls through
    # the parse's poll.
    rng = random.Random(5)
    text = "".join(rng.choice("ab") for _ in range(100000)) + "c"
    v = Validator(list[Annotated[str, Pattern("[ab]*a[ab]{1000}")]])
    return v.is_valid_json, '["' + text + '"]' + " " * (256 * 1024), '["' + "a" * 1001 + '"]'


def json_walks_unlocked():
    # Each record goes to the general walk (two members may take it), which
    # needs no Python here and runs with the lock given up.
    v = Validator(list[union({"k": Literal["a"], "v": int}, {"k": Literal["b"], "v": str})])
    return v.is_valid_json, "[" + '{"k": "a", "v": 0},' * 1000000 + '{"k": "c", "v": 0}]', '[{"k": "b", "v": ""}]'


def json_long_walk_unlocked():
    # The whole document goes to the general walk (two members may take
    # it), whose every item meets a thousand literals, with the lock given
    # up: the walk's own poll asks through the lock's.
    floats = Literal[tuple(i + 0.5 for i in range(1000))]
    v = Validator(union(list[floats], list[str]))
    return v.is_valid_json, "[" + "999.5," * 100000 + "999.5]", "[0.5]"


CASES = [
    ("scalar scans", scalar_scans, None),
    ("scalar scans, recording", scalar_scans_recording, None),
    ("tuple scans", tuple_scans, None),
    ("walk levels", walk_levels, LEVELS),
    ("pattern on the DFA", dfa_pattern, None),
    ("pattern simulated", simulated_pattern, None),
    ("JSON one-pass check", json_document, None),
    ("JSON tree parse", json_tree_parse, None),
    ("JSON load", json_load, None),
    ("JSON parse into objects", json_to_python, None),
    ("JSON walk", json_walk, None),
    ("JSON pattern without the lock", json_pattern_unlocked, None),
    ("JSON general walks without the lock", json_walks_unlocked, None),
    ("JSON long general walk without the lock", json_long_walk_unlocked, None),
]


@cpython_only("its C-API layer runs no signal handler while native code runs; they run once the call returns")
@pytest.mark.parametrize("make, levels", [pytest.param(m, n, id=name) for name, m, n in CASES])
@pytest.mark.parametrize("handler, expected", [
    pytest.param(raise_interrupted, Interrupted, id="Exception"),
    pytest.param(signal.default_int_handler, KeyboardInterrupt, id="KeyboardInterrupt"),
])
def test_a_signal_stops_long_native_work(make, levels, handler, expected):
    method, value, member = make()
    raised, inside, steps = interrupted_inside(lambda: method(value), handler)
    assert type(raised) is expected
    assert inside, "the handler ran only after the native call had returned"
    if levels is not None:
        assert steps < levels // 10
    # The validator is as good as before.
    assert method(member) in (True, None, [0])


# Distinct patterns near the size limit: each takes tens of milliseconds to
# compile (about 2 million NFA units), when a schema is built, and again
# when a copy of its validator (which keeps none of the matchers the build
# compiled) is first used.
NEAR_LIMIT = [Annotated[str, Pattern(rf"(?:(?:a|\b){{0,500}}){{0,{465 - i}}}")] for i in range(4)]


def build_near_limit():
    return union(*NEAR_LIMIT)


def first_use_near_limit():
    v = copy.copy(union(*NEAR_LIMIT))
    return lambda: v.is_valid("")


@cpython_only("its C-API layer runs no signal handler while native code runs; they run once the call returns")
@pytest.mark.parametrize("make_call", [
    pytest.param(lambda: build_near_limit, id="building the schema"),
    # Compiled without the interpreter lock, which is taken back now and then.
    pytest.param(first_use_near_limit, id="first validation"),
])
@pytest.mark.parametrize("handler, expected", [
    pytest.param(raise_interrupted, Interrupted, id="Exception"),
    pytest.param(signal.default_int_handler, KeyboardInterrupt, id="KeyboardInterrupt"),
])
def test_a_signal_stops_pattern_compilation(make_call, handler, expected):
    call = make_call()
    compiles = _tessaron._pattern_builds()[2]
    raised, inside, _ = interrupted_inside(call, handler)
    assert type(raised) is expected
    assert inside, "the handler ran only after the native call had returned"
    assert _tessaron._pattern_builds()[2] - compiles < len(NEAR_LIMIT)
    # Nothing was left half built: the next call compiles and answers.
    assert union(*NEAR_LIMIT[:1]).is_valid("")
    if make_call is first_use_near_limit:
        assert call() is True


def test_handlers_that_validate_again_leave_the_answer_unchanged():
    # A handler that runs often and uses the same validators (sharing
    # their pattern tables and lookup tables) changes nothing.
    rng = random.Random(7)
    text = "".join(rng.choice("ab") for _ in range(20000))
    patterned = Validator(list[Annotated[str, Pattern("[ab]*a[ab]{40}")]])
    nested = Validator(list[list[int]])
    inner = [0] * 1000
    values = [inner] * 3000 + [["x"]]
    texts = [text] * 20 + ["b" * 50]
    expected = (patterned.is_valid(texts), nested.is_valid(values))
    assert expected == (False, False)

    # The handler's own text is short enough to be matched well within the
    # timer's period, about a tenth of it (a pattern's lazy DFA holds
    # 2 MiB, far fewer states than the 20,000 of a long random text, so
    # each match of one is simulated anew): a handler slower than its
    # timer would be run again from within itself, without end.
    def handler(signum, frame):
        patterned.is_valid(["a" * 41, text[:200]])
        nested.is_valid([[1, 2], ["y"]])

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
        got = (patterned.is_valid(texts), nested.is_valid(values))
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert got == expected


@pytest.mark.parametrize("fail_fast", [False, True])
def test_a_handler_that_changes_the_value_under_check(fail_fast):
    # The handler empties the lists being scanned: the walk reads their
    # storage again after every poll, so it answers (or reports the change)
    # and never reads freed memory.
    inners = [[0] * 20000 for _ in range(200)]
    value = inners + [["x"]]
    v = Validator(list[list[Union[int, Literal["a"]]]])

    def handler(signum, frame):
        for inner in inners:
            inner.clear()
        del value[:-1]

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
        with pytest.raises(ValidationError):
            v.validate(value, fail_fast=fail_fast)
        assert v.is_valid(value) is False
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
