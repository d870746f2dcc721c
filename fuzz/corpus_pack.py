#!/usr/bin/env python3
"""Packs fuzz inputs into one text file, or unpacks it again.

The seed corpora in fuzz/corpus/NAME hold hand-written seeds as plain files
and, in found.hex, the inputs that earlier fuzz runs kept (one input per
line, hex-encoded; a coverage-minimised set, so thousands of tiny files
need not live in the tree).  fuzz/run.sh unpacks both into
build/fuzz/seeds/NAME before a run.

  corpus_pack.py pack OUT.hex DIR...   every file of the DIRs, one per line
                                      (less the plain seeds beside OUT.hex)
  corpus_pack.py unpack IN.hex DIR     each line as a file named by its hash
"""

import hashlib
import pathlib
import sys


def pack(out, dirs):
    inputs = {p.read_bytes() for d in dirs for p in pathlib.Path(d).iterdir() if p.is_file()}
    out_dir = pathlib.Path(out).parent
    if out_dir.is_dir():
        inputs -= {p.read_bytes() for p in out_dir.iterdir() if p.is_file() and p.suffix != ".hex"}
    lines = sorted(data.hex() for data in inputs if data)
    pathlib.Path(out).write_text("".join(line + "\n" for line in lines))
    print(f"{len(lines)} inputs packed into {out}")


def unpack(src, out):
    out = pathlib.Path(out)
    out.mkdir(parents=True, exist_ok=True)
    for line in pathlib.Path(src).read_text().split():
        data = bytes.fromhex(line)
        (out / hashlib.sha1(data).hexdigest()).write_bytes(data)


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "pack":
        pack(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 4 and sys.argv[1] == "unpack":
        unpack(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
