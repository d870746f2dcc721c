"""Bounded work and memory of the walk on hostile inputs.

Each behaviour here used to cost time exponential in the nesting of the
value, or memory proportional to failures times depth.  The tests use inputs
small enough to run in well under a second once fixed, and assert on the
structure of the result (what was reported, which objects are shared, how
much heap a raise keeps) rather than on timings.
"""

import ctypes
import os

import pytest

from tessaron import ValidationError, Validator

SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def _heap_reader():
    if SANITIZED:
        return None
    try:
        fn = ctypes.CDLL(None).mallinfo2
    except (OSError, AttributeError):
        return None
    fn.restype = _Mallinfo2
    return lambda: fn().uordblks + fn().hblkhd


HEAP_IN_USE = _heap_reader()


def raised(v, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        v.validate(value, **kwargs)
    return info.value


# --- many failures under a deep prefix ---------------------------------------------


def nested(spec, depth):
    for _ in range(depth):
        spec = list[spec]
    return spec


@pytest.mark.skipif(HEAP_IN_USE is None, reason="needs the C heap counters (glibc, no sanitizer)")
def test_failures_share_their_path_prefix():
    # 20,000 failures, each under the same 100 list levels: a copied path
    # per failure kept about 3.2 KB each; shared prefixes keep one node.
    failures, depth = 20_000, 100
    v = Validator(nested(int, depth + 1))
    value = ["x"] * failures
    for _ in range(depth):
        value = [value]
    before = HEAP_IN_USE()
    err = raised(v, value)
    grown = HEAP_IN_USE() - before
    message = len(str(err))
    assert message > 0
    assert grown - message < 400 * failures, (grown, message)


def test_errors_share_the_objects_of_a_common_prefix():
    v = Validator({"a": {"b": {"c": list[int]}}})
    err = raised(v, {"a": {"b": {"c": ["x", "y", 3, "z"]}}})
    paths = [item["path"] for item in err.errors]
    assert paths == [("a", "b", "c", 0), ("a", "b", "c", 1), ("a", "b", "c", 3)]
    for k in range(3):
        assert paths[0][k] is paths[1][k] is paths[2][k]
    assert err.errors[0]["expected"] is err.errors[2]["expected"]
    assert err.errors[0]["code"] is err.errors[1]["code"]
    assert err.errors[0]["path"] == err.path
