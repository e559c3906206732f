#!/usr/bin/env python3
"""Writes every mechanical surface of the operations from api/operations.toml.

    python3 api/generate.py          write the generated files
    python3 api/generate.py --check  list the generated files that differ from what would be
                                     written, exit 1 if any (the CTest `generated.files`)

C and C++ text goes through clang-format (the repository's .clang-format), so that the generated
files are formatted like the hand-written ones. Standard library only, besides clang-format.
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gen_bindings  # noqa: E402
import gen_c  # noqa: E402
import gen_cli  # noqa: E402
import gen_openapi  # noqa: E402
from model import ROOT, load  # noqa: E402


def outputs(model):
    """Every generated file: path from the repository's root -> text."""
    public = gen_c.PUBLIC
    files = {
        public + "CorvaneRecords.h": gen_c.records_header(model),
        public + "CorvaneCOps.h": gen_c.c_header(model),
        public + "CorvaneCxxOps.h": gen_c.cxx_header(model),
        "src/Logical/Corvane/CorvaneCWrappers.gen.h": gen_c.c_wrappers(model),
        "src/Logical/Corvane/CorvaneC.def": gen_c.def_file(model),
        "tests/windows/corvane-cxx-exports.txt": gen_c.abi_list(model),
    }
    files.update(gen_bindings.outputs(model))
    files.update(gen_cli.outputs(model))
    files.update(gen_openapi.outputs(model))
    return files


def undocumented(model):
    """The operations whose method and path template the endpoint table of docs/usage.md lacks."""
    usage = (ROOT / "docs/usage.md").read_text()
    return [op["cxx"] for op in model.operations
            if f"| `{op['method']}` | `/{op['path']}" not in usage]


def formatted(path, text, clang_format):
    if not path.endswith((".h", ".cpp")):
        return text
    result = subprocess.run([clang_format, "--style=file", "--assume-filename=" + path],
                            input=text, capture_output=True, text=True, cwd=ROOT, check=True)
    return result.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare instead of writing; exit 1 when a file differs")
    parser.add_argument("--clang-format", default=shutil.which("clang-format") or "clang-format")
    args = parser.parse_args()
    model = load()
    differ = []
    for path, text in sorted(outputs(model).items()):
        text = formatted(path, text, args.clang_format)
        target = ROOT / path
        current = target.read_text() if target.exists() else None
        if current == text:
            continue
        if args.check:
            differ.append(path)
        else:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_text(text)
            print("wrote", path)
    missing = undocumented(model)
    if missing:
        print("docs/usage.md's endpoint table lacks: " + ", ".join(missing))
    if differ:
        print("generated files differ from api/operations.toml (run python3 api/generate.py):")
        for path in differ:
            print("  " + path)
    return 1 if differ or missing else 0


if __name__ == "__main__":
    sys.exit(main())
