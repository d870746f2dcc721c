"""Schema algebra and validation for Python values.

Everything public lives in the extension module ``_tessaron``; this package
re-exports it.
"""

from _tessaron import *  # noqa: F401,F403
from _tessaron import __all__, __version__  # noqa: F401
