"""Schema algebra and validation for Python values.

Everything public lives in the extension module ``_tessaron``; this package
re-exports it.
"""

from _tessaron import *  # noqa: F401,F403
from _tessaron import Regex, __version__  # noqa: F401
from _tessaron import __all__ as _extension_all

# The extension's names, in its order, then the pattern marker that a
# validator's repr names (an attribute of the extension outside its list).
__all__ = [*_extension_all, "Regex"]
del _extension_all
