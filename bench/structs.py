"""The families' schemas spelled as `msgspec.Struct` classes.

msgspec users write their schemas as Structs, its fastest path: converting
a dict into a Struct (`msgspec.convert(x, T)`) and decoding JSON straight
into one (`msgspec.json.Decoder(T)`).  A Struct admits the same values as
the TypedDict it stands for: every declared field is required unless it has
a default, which is how a `NotRequired` key is written (the default is
never part of the verdict), and keys it does not declare are ignored, as
msgspec does for TypedDicts.

This module imports msgspec, so cases.py reaches it only on demand; the
classes live at module level because msgspec resolves their annotations,
the forward references of the recursive ones included, in this module.
"""

from typing import Literal, Optional

import msgspec

from cases import Country, Currency, OrderStatus, Status  # noqa: F401  (names the annotations use)


class Record(msgspec.Struct):
    id: int
    name: str
    email: str
    age: int
    score: float
    active: bool
    tags: list[str]
    parent: Optional[int]
    status: Status
    created: str


class Tree(msgspec.Struct):
    value: int
    children: list["Tree"]


# --- the nested order payload (cases.Order) ------------------------------------


class Address(msgspec.Struct):
    street: str
    city: str
    postcode: str
    country: Country
    line2: Optional[str] = None  # NotRequired


class Customer(msgspec.Struct):
    id: int
    name: str
    email: str
    phone: Optional[str]
    vip: bool
    since: str


class LineItem(msgspec.Struct):
    sku: str
    name: str
    quantity: int
    unit_price: float
    tags: list[str]
    discount: float = 0.0  # NotRequired
    gift: bool = False  # NotRequired


class Order(msgspec.Struct):
    id: int
    status: OrderStatus
    currency: Currency
    customer: Customer
    billing: Address
    shipping: Address
    items: list[LineItem]
    total: float
    created: str
    coupon: Optional[str]
    note: Optional[str] = None  # NotRequired
    channel: Literal["web", "app", "phone"] = "web"  # NotRequired
