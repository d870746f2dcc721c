"""Peak memory of one call, measured in a fresh interpreter (run.py starts
one per sample; import times are measured by a `python -c` of their own, so
that nothing this file imports is loaded before the import being timed).

    probe.py CHANNEL FAMILY COLUMN SIZES_JSON
        Prints, in KiB, the peak resident memory that the first call adds,
        and what the process still holds once the call returned and its
        result was dropped.  After the input and the validator are built,
        freed heap memory is handed back to the system (malloc_trim), the
        resident size is read and the kernel's high-water mark is reset
        (/proc/self/clear_refs, "5"); the call runs once and the new
        high-water mark is read; then the garbage is collected, the heap
        trimmed again and the resident size read once more.

        The first call, not a warmed-up one: a later call reuses memory that
        the allocators kept from the first and would show next to nothing.
        So the peak includes the first-use caches (our lookup tables,
        msgspec's type information), which are small next to the inputs
        measured here, and what the call returns (the libraries that convert
        build a copy of the input).  "Held" shows buffers kept for the next
        call, and also memory the allocators keep in partly used arenas.
        Page granularity: a few KiB of noise.
"""

import ctypes
import gc
import json
import re
import sys


def _status(key):
    with open("/proc/self/status") as f:
        return int(re.search(rf"^{key}:\s+(\d+) kB", f.read(), re.M).group(1))


def memory(channel, family, column, sizes):
    import cases
    import peers
    from timing import Timer

    fam = cases.families(sizes)[family]
    if channel == "json":
        slots = peers.json_slots(fam, "valid")
        x = json.dumps(fam.make()).encode()
    else:
        slots = peers.objects_slots(fam, "valid")
        x = fam.make()
    slot = next(s for s in slots if s.column == column)
    if slot.entry is None:
        print(json.dumps({"status": slot.status, "reason": slot.reason}))
        return
    timer = Timer(slot.entry.stmt, slot.entry.ns, x)
    trim = ctypes.CDLL("libc.so.6").malloc_trim
    gc.collect()
    trim(0)
    before = _status("VmRSS")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    timer.run(1)
    peak = _status("VmHWM")
    gc.collect()
    trim(0)
    held = _status("VmRSS")
    print(json.dumps({"status": "ok", "kib": max(0, peak - before), "held_kib": max(0, held - before)}))


if __name__ == "__main__":
    memory(sys.argv[1], sys.argv[2], sys.argv[3], json.loads(sys.argv[4]))
