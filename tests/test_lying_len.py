"""Tuple, list and dict subclasses whose `__len__` lies or raises.

The walk never calls such an override: a value is checked by its real
items, so every verdict and every failure code is the plain value's.  Each
case runs in its own interpreter, so that a crash fails that case rather
than the run.

PyPy's C-API layer calls `__len__` itself when it first gives C code a
tuple or dict subclass instance, and sizes a tuple's C view by the answer.
A view sized above the items is read by the items.  Below them, or when
`__len__` raises or answers no valid size, the layer cannot make the view
at all: given as the argument, the call raises the layer's error before
any of this library runs, and a later call may find the view the layer
left unfinished, which the walk reports as a value that changed.  Inside
a list or a dict the layer's own reads fail on such an item (a list is
damaged, a dict lookup aborts the process) whatever extension reads them,
so those cases are run at the top only (README, PyPy).  What holds on
every interpreter: no crash, and never a member the plain value is not.
"""

import json
import subprocess
import sys

import pytest

from interpreter import PYPY

CHILD = r"""
import itertools, json, sys
from typing import Annotated
from annotated_types import MaxLen, MinLen
from tessaron import ValidationError, Validator

kind, lie, wraps = sys.argv[1], sys.argv[2], sys.argv[3].split(",")
base = {"tuple": tuple, "list": list, "dict": dict}[kind]
counter = itertools.count()


class Lying(base):
    def __len__(self):
        if lie == "raise":
            raise RuntimeError("no length")
        if lie == "count":
            return next(counter)
        return eval(lie)


def make(cls):
    return cls({"a": 1, "b": 2}) if kind == "dict" else cls((1, 2))


SCHEMAS = {
    "tuple": [object, tuple, tuple[int, int], tuple[int, ...], tuple[str, ...], tuple[int, int, int],
              Annotated[tuple, MinLen(2)], Annotated[tuple, MaxLen(1)], list[int]],
    "list": [object, list, list[int], list[str], [int, int], [int, int, int],
             Annotated[list, MinLen(2)], Annotated[list, MaxLen(1)], tuple[int, ...]],
    "dict": [object, dict, dict[str, int], dict[str, str], {"a": int, "b": int}, {"a": int},
             Annotated[dict, MinLen(2)], Annotated[dict, MaxLen(1)], list[int]],
}[kind]


def wrapped(wrap, schema, value):
    if wrap == "in-dict":
        return {"k": schema}, {"k": value}
    if wrap == "in-list":
        return list[schema], [value]
    return schema, value


def outcome(validator, value):
    try:
        verdict = validator.is_valid(value)
    except Exception as exc:
        verdict = "raised " + type(exc).__name__
    try:
        validator.validate(value)
        report = "ok"
    except ValidationError as exc:
        report = sorted({error["code"] for error in exc.errors})
    except Exception as exc:
        report = "raised " + type(exc).__name__
    return [verdict, report]


rows = []
for round_ in range(2):  # the second round meets what the first left behind
    for wrap in wraps:
        for i, schema in enumerate(SCHEMAS):
            spec, plain = wrapped(wrap, schema, make(base))
            _, lying = wrapped(wrap, schema, make(Lying))
            v = Validator(spec)
            rows.append([wrap, i, repr(spec), outcome(v, plain), outcome(v, lying)])
print(json.dumps(rows))
"""

LIES = ["0", "1", "5", "10**6", "-1", "2**64", "2.5", "'2'", "raise", "count"]
KINDS = ["tuple", "list", "dict"]


def representable(kind, lie):
    """Whether the interpreter can hand the lying value to C code as it is."""
    if not PYPY or kind == "list":
        return True
    if lie == "count":  # its first answer, 0, is the one the layer reads
        return kind == "dict"
    value = eval(lie) if lie != "raise" else None
    if not isinstance(value, int) or not 0 <= value < 2**63:
        return False
    return kind == "dict" or value >= 2


@pytest.mark.parametrize("lie", LIES)
@pytest.mark.parametrize("kind", KINDS)
def test_a_lying_len_changes_no_verdict(kind, lie):
    exact = representable(kind, lie)
    wraps = ["top"] + (["in-dict", "in-list"] if exact else [])
    done = subprocess.run(
        [sys.executable, "-c", CHILD, kind, lie, ",".join(wraps)], capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr[-2000:]
    for wrap, _, spec, (plain_verdict, plain_report), (verdict, report) in json.loads(done.stdout):
        case = (wrap, spec, verdict, report)
        assert isinstance(plain_verdict, bool) and plain_verdict == (plain_report == "ok"), case
        if exact:
            assert (verdict, report) == (plain_verdict, plain_report), case
            continue
        # The layer's error, raised or read as a non-member; never a member
        # the plain value is not, and never a code it would not give but
        # the one for a value that cannot be read as it is.
        assert verdict in (plain_verdict, False) or verdict.startswith("raised"), case
        if report == "ok":
            assert plain_report == "ok", case
        elif isinstance(report, str):
            assert report.startswith("raised"), case
        else:
            assert report == plain_report or "mutated_during_validation" in report, case
