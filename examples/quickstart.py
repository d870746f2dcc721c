"""Quick start: import tessaron and show which version is installed."""

import tessaron

print(f"tessaron {tessaron.__version__}")
