#!/usr/bin/env python3
"""Writes differential test cases for the pattern engine, judged by Python's re.

Patterns are drawn at random (seeded) from the subset of syntax on which our
dialect and Python's `re` agree, as a small tree rendered twice: once in our
dialect, once for `re` (the two differ only in how the end of the text is
written: `\\z` for us, `\\Z` for `re`).  Texts are drawn from the pattern
itself (so that many match), then mutated, plus short random texts; every
text's expected answer is `re.fullmatch(...) is not None`.

Texts use an alphabet on which the two engines' Unicode definitions of
\\w, \\d, \\s and simple case folding coincide (no combining marks, no
U+001C..U+001F, no characters with special case mappings).

Output format, one record per line, fields separated by one tab:
    P <kind> <pattern>        kind: s (str) or b (bytes)
    T <0|1> <text>            a text of the pattern above and whether it matches
Backslash, tab, newline, carriage return and other control characters are
escaped as \\\\, \\t, \\n, \\r and \\xHH; everything else is UTF-8.

Usage: gen_differential_cases.py [--seed N] [--patterns N] [--out FILE]
The committed file differential_cases.txt was made with the defaults.  The
native test reads it, and also a file named by TESSARON_PATTERN_CASES.
"""

import argparse
import random
import re
import signal
import sys


class Slow(Exception):
    pass


def _alarm(*_):
    raise Slow()

# Characters the texts and literals are made of.
ALPHABET = ["a", "b", "c", "A", "B", "0", "1", "9", " ", "_", "-", ".", "\n", "\t",
            "é", "É", "ω", "Ω", "٣", "中", "\u3000", "€", "x", "Z"]
ASCII_ALPHABET = [c for c in ALPHABET if c.isascii()]
META = set("\\.+*?()|[]{}^$#&-~")


def escape_char(c, in_class=False):
    if c in META:
        return "\\" + c
    if c == "\n":
        return "\\n"
    if c == "\t":
        return "\\t"
    if c == " ":
        return "\\x20"
    if c.isspace():
        # Verbose mode skips Unicode white space in our dialect, only ASCII
        # white space in re: spell it as an escape.
        return "\\u%04x" % ord(c)
    return c


class Node:
    """A pattern tree node: kind plus fields; render() gives (ours, python)."""

    def __init__(self, kind, **kw):
        self.kind = kind
        self.__dict__.update(kw)


def gen_class_item(rng, alphabet):
    r = rng.random()
    if r < 0.5:
        return ("char", rng.choice(alphabet))
    if r < 0.75:
        lo, hi = sorted(rng.sample(["a", "c", "f", "A", "C", "Z", "0", "5", "9"], 2))
        return ("range", lo, hi)
    return ("perl", rng.choice(["\\d", "\\w", "\\s", "\\D", "\\W", "\\S"]))


def gen(rng, depth, alphabet, ctx):
    """ctx: dict of flags that affect rendering ('m' for multi-line)."""
    leaf = depth >= 4 or rng.random() < 0.35
    if leaf:
        r = rng.random()
        if r < 0.45:
            return Node("lit", c=rng.choice(alphabet))
        if r < 0.6:
            items = [gen_class_item(rng, alphabet) for _ in range(rng.randint(1, 3))]
            return Node("class", items=items, negated=rng.random() < 0.3)
        if r < 0.7:
            return Node("perl", text=rng.choice(["\\d", "\\w", "\\s", "\\D", "\\W", "\\S"]))
        if r < 0.8:
            return Node("dot")
        if r < 0.9:
            return Node("look", which=rng.choice(["^", "$", "\\b", "\\B", "\\A", "end"]))
        return Node("empty")
    r = rng.random()
    if r < 0.3:
        return Node("concat", subs=[gen(rng, depth + 1, alphabet, ctx) for _ in range(rng.randint(2, 4))])
    if r < 0.5:
        return Node("alt", subs=[gen(rng, depth + 1, alphabet, ctx) for _ in range(rng.randint(2, 3))])
    if r < 0.8:
        op = rng.choice(["*", "+", "?", "{2}", "{1,3}", "{0,2}", "{2,}"])
        if rng.random() < 0.3:
            op += "?"
        return Node("rep", sub=gen(rng, depth + 1, alphabet, ctx), op=op)
    if r < 0.9:
        return Node("group", sub=gen(rng, depth + 1, alphabet, ctx), how=rng.choice(["(?:", "(", "named"]))
    return Node("scoped", sub=gen(rng, depth + 1, alphabet, ctx), flags=rng.choice(["i", "-i", "s", "-s"]))


class Renderer:
    def __init__(self, verbose):
        self.verbose = verbose
        self.names = 0

    def sep(self):
        return " " if self.verbose else ""

    def render(self, n, py):
        k = n.kind
        if k == "lit":
            return escape_char(n.c)
        if k == "dot":
            return "."
        if k == "empty":
            return "(?:)"
        if k == "perl":
            return n.text
        if k == "look":
            if n.which == "end":
                return "\\Z" if py else "\\z"
            if n.which == "$" and not self.multiline:
                return "\\Z" if py else "$"
            return n.which
        if k == "class":
            parts = []
            for it in n.items:
                if it[0] == "char":
                    parts.append(escape_char(it[1], True))
                elif it[0] == "range":
                    parts.append(it[1] + "-" + it[2])
                else:
                    parts.append(it[1])
            return "[" + ("^" if n.negated else "") + "".join(parts) + "]"
        if k == "concat":
            return self.sep().join(self.render(s, py) for s in n.subs)
        if k == "alt":
            return "(?:" + "|".join(self.render(s, py) for s in n.subs) + ")"
        if k == "rep":
            return "(?:" + self.render(n.sub, py) + ")" + n.op
        if k == "group":
            if n.how == "named":
                self.names += 1
                return "(?P<g%d>" % self.names + self.render(n.sub, py) + ")"
            return n.how + self.render(n.sub, py) + ")"
        if k == "scoped":
            return "(?" + n.flags + ":" + self.render(n.sub, py) + ")"
        raise ValueError(k)

    def pattern(self, tree, flags, py):
        self.names = 0
        self.multiline = "m" in flags
        body = self.render(tree, py)
        prefix = "(?" + flags + ")" if flags else ""
        if self.verbose:
            body = "  " + body + "  # a trailing comment"
        return prefix + body


def sample_text(rng, n, alphabet, budget=12):
    """A text that often matches n (looks and flags are ignored)."""
    k = n.kind
    if k == "lit":
        c = n.c
        return c.swapcase() if rng.random() < 0.2 else c
    if k in ("dot", "perl", "class"):
        return rng.choice(alphabet)
    if k in ("look", "empty"):
        return ""
    if k == "concat":
        return "".join(sample_text(rng, s, alphabet, budget) for s in n.subs)
    if k == "alt":
        return sample_text(rng, rng.choice(n.subs), alphabet, budget)
    if k == "rep":
        count = rng.choice([0, 1, 1, 2, 2, 3, 4])
        return "".join(sample_text(rng, n.sub, alphabet, budget) for _ in range(count))
    return sample_text(rng, n.sub, alphabet, budget)


def mutate(rng, text, alphabet):
    if not text or rng.random() < 0.3:
        return text + rng.choice(alphabet)
    i = rng.randrange(len(text))
    r = rng.random()
    if r < 0.4:
        return text[:i] + text[i + 1:]
    if r < 0.8:
        return text[:i] + rng.choice(alphabet) + text[i + 1:]
    return text[:i] + text[i] + text[i:]


def escape_field(s):
    out = []
    for ch in s:
        o = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif o < 0x20 or o == 0x7F:
            out.append("\\x%02X" % o)
        else:
            out.append(ch)
    return "".join(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=20240611)
    ap.add_argument("--patterns", type=int, default=900)
    ap.add_argument("--texts", type=int, default=8)
    ap.add_argument("--out", default="-")
    args = ap.parse_args()
    signal.signal(signal.SIGALRM, _alarm)
    rng = random.Random(args.seed)
    out = sys.stdout if args.out == "-" else open(args.out, "w", encoding="utf-8", newline="\n")
    out.write("# Generated by gen_differential_cases.py --seed %d --patterns %d --texts %d\n"
              "# Expected answers computed with Python %s re.fullmatch.\n"
              % (args.seed, args.patterns, args.texts, sys.version.split()[0]))
    made = 0
    while made < args.patterns:
        is_bytes = rng.random() < 0.2
        alphabet = ASCII_ALPHABET if is_bytes else ALPHABET
        flags = "".join(f for f in "ims" if rng.random() < 0.2)
        verbose = rng.random() < 0.15
        if verbose:
            flags += "x"
        tree = gen(rng, 0, alphabet, {})
        r = Renderer(verbose)
        ours = r.pattern(tree, flags, py=False)
        theirs = r.pattern(tree, flags, py=True)
        try:
            compiled = re.compile(theirs.encode() if is_bytes else theirs)
        except re.error:
            continue  # outside the common subset (e.g. a nested repeat)
        has_not_word = "\\B" in ours
        texts = set()
        for _ in range(args.texts * 3):
            if len(texts) >= args.texts:
                break
            t = sample_text(rng, tree, alphabet)
            if rng.random() < 0.4:
                t = mutate(rng, t, alphabet)
            if len(t) > 24:
                continue
            # re's \B never matches inside an empty text; ours does.
            if has_not_word and t == "":
                continue
            texts.add(t)
        if not texts:
            continue
        # re backtracks: a pattern it cannot judge quickly is skipped.
        answers = []
        try:
            signal.setitimer(signal.ITIMER_REAL, 0.2)
            for t in sorted(texts):
                subject = t.encode() if is_bytes else t
                answers.append((t, compiled.fullmatch(subject) is not None))
        except Slow:
            continue
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
        out.write("P\t%s\t%s\n" % ("b" if is_bytes else "s", escape_field(ours)))
        for t, ok in answers:
            out.write("T\t%d\t%s\n" % (1 if ok else 0, escape_field(t)))
        made += 1
    if out is not sys.stdout:
        out.close()


if __name__ == "__main__":
    main()
