"""The code in the documentation runs, and shows what it prints.

Every fenced Python block of README.md and docs/*.md runs here, in order,
one namespace per document (a module registered while it runs, so classes
defined in the text resolve their annotations as they would in a file):

- a block of `>>>` examples runs as a doctest: the output and the
  exceptions it shows are checked (whitespace-insensitive, `...` matches
  anything);
- any other block runs as a script; when the next fenced block is marked
  `output`, the script's printed output must be exactly that text, and
  otherwise it must print nothing.

Words after the language in the fence say how a block runs: `no-run` (the
block is only shown; keep these rare) and `3.12+` (runs on that version and
later).  Any other word fails, so a typo cannot silently skip a block.
"""

import contextlib
import dataclasses
import doctest
import io
import pathlib
import re
import sys
import types

import pytest

from interpreter import UNION_OPERATOR, needs

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCUMENTS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
PYTHON = {"python", "py", "python3", "pycon"}
FENCE = re.compile(r"^(```+|~~~+)\s*(.*)$")
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE


@dataclasses.dataclass
class Block:
    line: int  # 1-based line of the first line of code
    language: str
    words: list[str]
    text: str


def fenced_blocks(path):
    blocks, lines = [], path.read_text(encoding="utf-8").splitlines()
    i = 0
    while i < len(lines):
        opening = FENCE.match(lines[i])
        if not opening:
            i += 1
            continue
        fence, info = opening.group(1), opening.group(2).split()
        body, j = [], i + 1
        while j < len(lines) and not lines[j].startswith(fence[0] * len(fence)):
            body.append(lines[j])
            j += 1
        if j == len(lines):
            raise AssertionError(f"{path.name}:{i + 1}: unclosed code fence")
        blocks.append(Block(i + 2, info[0] if info else "", info[1:], "\n".join(body) + "\n"))
        i = j + 1
    return blocks


def runs_here(block, where):
    for word in block.words:
        if word == "no-run":
            return False
        version = re.fullmatch(r"(\d+)\.(\d+)\+", word)
        if version:
            if sys.version_info < (int(version.group(1)), int(version.group(2))):
                return False
            continue
        raise AssertionError(f"{where}: unknown word {word!r} after the language")
    return True


def run_doctest(block, namespace, where):
    test = doctest.DocTestParser().get_doctest(block.text, namespace, where, where, block.line - 1)
    test.globs = namespace  # share one namespace across the document's blocks
    report = io.StringIO()
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    runner.run(test, out=report.write, clear_globs=False)
    if runner.failures:
        raise AssertionError(f"{where}: the example does not show what it does\n{report.getvalue()}")


def run_script(block, expected, namespace, where, path):
    code = compile("\n" * (block.line - 1) + block.text, str(path), "exec")
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(code, namespace)
    shown = "" if expected is None else expected.text
    if printed.getvalue() != shown:
        raise AssertionError(
            f"{where}: the output block does not match what the code prints\n"
            f"shown:\n{shown}printed:\n{printed.getvalue()}"
        )


def run_document(path, root):
    blocks = fenced_blocks(path)
    name = "docs_" + re.sub(r"\W", "_", path.stem)
    module = types.ModuleType(name)
    sys.modules[name] = module
    failures = []
    try:
        for index, block in enumerate(blocks):
            if block.language not in PYTHON:
                continue
            where = f"{path.relative_to(root)}:{block.line}"
            try:
                if not runs_here(block, where):
                    continue
                if any(line.lstrip().startswith(">>>") for line in block.text.splitlines()):
                    run_doctest(block, module.__dict__, where)
                else:
                    following = blocks[index + 1] if index + 1 < len(blocks) else None
                    expected = following if following is not None and following.language == "output" else None
                    run_script(block, expected, module.__dict__, where, path)
            except AssertionError as failure:
                failures.append(str(failure))
    finally:
        del sys.modules[name]
    if failures:
        pytest.fail("\n\n".join(failures), pytrace=False)


# The documents write unions as `A | B` throughout.
@needs(UNION_OPERATOR)
@pytest.mark.parametrize("path", DOCUMENTS, ids=lambda p: str(p.relative_to(ROOT)))
def test_document_code_runs(path):
    run_document(path, ROOT)


def test_runner_checks_what_a_block_shows(tmp_path):
    # The runner itself: a wrong shown output, a wrong printed output and an
    # unknown fence word each fail; matching ones pass.
    good = tmp_path / "good.md"
    good.write_text(
        "```python\n>>> 1 + 1\n2\n>>> x = 3\n```\n\n"
        "```python\nprint(x * 2)\n```\n```output\n6\n```\n"
        "```python no-run\nraise SystemExit\n```\n"
    )
    bad_doctest = tmp_path / "bad_doctest.md"
    bad_doctest.write_text("```python\n>>> 1 + 1\n3\n```\n")
    bad_output = tmp_path / "bad_output.md"
    bad_output.write_text("```python\nprint('a')\n```\n```output\nb\n```\n")
    silent = tmp_path / "silent.md"
    silent.write_text("```python\nprint('unshown')\n```\n")
    typo = tmp_path / "typo.md"
    typo.write_text("```python norun\npass\n```\n")

    run_document(good, tmp_path)
    failures = [
        (bad_doctest, "does not show what it does"),
        (bad_output, "does not match what the code prints"),
        (silent, "does not match what the code prints"),
        (typo, "unknown word 'norun'"),
    ]
    for path, reason in failures:
        with pytest.raises(pytest.fail.Exception, match=reason):
            run_document(path, tmp_path)
