"""What the interpreter running the suite has, and what it lacks.

PyPy runs the suite at language level 3.9.  A test that exercises a newer
form (`X | Y` on types, `*` unpacking in a subscript, the 3.11 typing
names) is marked with `needs(FORM)`; a table case written with one holds
the spec as source text, and `case` evaluates it where the interpreter has
the form and otherwise gives a case skipped with the reason, so that the
module still imports everywhere.

A test that reads CPython's own bookkeeping (allocated blocks, the cyclic
collector's tracking, tracemalloc) or relies on a behaviour PyPy's C-API
layer does not have is marked `cpython_only(reason)`.
"""

import sys

import pytest

PYPY = sys.implementation.name == "pypy"

UNION_OPERATOR = ((3, 10), "`X | Y` on types is new in 3.10")
UNPACKING = ((3, 11), "`*` unpacking in a subscript and typing.TypeVarTuple are new in 3.11")
QUALIFIERS = ((3, 11), "typing.Required and typing.NotRequired are new in 3.11")
NEVER = ((3, 11), "typing.Never is new in 3.11")
TYPE_STATEMENT = ((3, 12), "the type statement is new in 3.12")


def has(form):
    return sys.version_info >= form[0]


def needs(form):
    """Skips a test where the interpreter lacks the form."""
    return pytest.mark.skipif(not has(form), reason=form[1])


def case(form, source, namespace, *rest):
    """A parametrize case whose first value is `source` evaluated in
    `namespace`; skipped with the reason where the form is missing."""
    if has(form):
        return pytest.param(eval(source, namespace), *rest)
    return pytest.param(None, *rest, marks=pytest.mark.skip(reason=form[1]))


def cpython_only(reason):
    """Skips a test on PyPy, saying what PyPy lacks."""
    return pytest.mark.skipif(PYPY, reason=f"PyPy: {reason}")
