"""Every membership entry point gives one verdict for one value:
is_valid, `in`, validate (raises or not, in both modes) and ensure."""

from hypothesis import given, settings
from strategies import schemas, values

from tessaron import ValidationError


def verdict_of(call, value):
    try:
        call(value)
    except ValidationError:
        return False
    return True


@settings(max_examples=300, deadline=None)
@given(schemas, values)
def test_entry_points_agree(v, value):
    member = v.is_valid(value)
    assert (value in v) == member
    assert verdict_of(v.validate, value) == member
    assert verdict_of(lambda x: v.validate(x, fail_fast=True), value) == member
    assert verdict_of(v.ensure, value) == member
    if not member:
        try:
            v.validate(value)
        except ValidationError as error:
            assert error.errors, "a failure carries at least one error"
