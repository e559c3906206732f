#!/usr/bin/env python3
"""Checks that README.md and docs/*.md name only what exists, as it is:

- every repository path they name (a link target, or a word that starts with one of the
  repository's top-level folders, or a source file's bare name) exists;
- every CMake option they name (`-DNAME=`, the rows of usage.md's option table) is declared in
  the CMake files, and every option declared there is in that table;
- every ZENTA_/CORVANE_ code name they use is declared in a header, docs/gateway.md's table of
  codes gives each code of ZentaSdk.h with its value and the text ZENTA_ErrorText returns, and
  names no code the header lacks;
- every function and type that the traces of a call name (docs/library.md's "One call, traced",
  docs/gateway.md's "The layers") is a name of the sources, so a rename that the maps do not
  follow fails here.

Usage: check_docs.py SOURCE_DIR. Prints every finding and exits 1 when there is one.
"""
import glob
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
SKIP_DIRS = {".git", "build", ".github", ".ci"}
SOURCE_EXTENSIONS = (".h", ".hpp", ".cpp", ".c", ".cmake", ".sh", ".py", ".cs", ".in", ".map",
                     ".def", ".txt", ".json", ".md", ".svg")
findings = []


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def repository_files():
    files = []
    for folder, dirs, names in os.walk(ROOT):
        dirs[:] = [d for d in dirs if d not in SKIP_DIRS and not d.startswith("build")]
        for name in names:
            files.append(os.path.relpath(os.path.join(folder, name), ROOT))
    return files


FILES = repository_files()
BASENAMES = {os.path.basename(f) for f in FILES}
TOP_FOLDERS = sorted({f.split(os.sep)[0] for f in FILES if os.sep in f})
DOCS = ["README.md"] + sorted(
    os.path.join("docs", n) for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md"))


def expand_braces(word):
    """tests/a/B.{h,cpp} -> tests/a/B.h, tests/a/B.cpp"""
    match = re.search(r"\{([^{}]*)\}", word)
    if not match:
        return [word]
    return [w for part in match.group(1).split(",")
            for w in expand_braces(word[:match.start()] + part + word[match.end():])]


def check_path(doc, line, path, base=ROOT):
    path = path.split("#")[0]
    if not path:
        return
    for candidate in expand_braces(path):
        if "*" in candidate and glob.glob(os.path.join(base, candidate)):
            continue
        if not os.path.exists(os.path.join(base, candidate)):
            findings.append(f"{doc}:{line}: names {candidate}, which does not exist")


def check_paths(doc, text):
    folders = "|".join(re.escape(f) for f in TOP_FOLDERS)
    # Backticked spans may wrap across lines: a path cut after a slash is completed on its first
    # line (the second keeps its words, so that line numbers stay true).
    text = re.sub(r"/\n(\s*)(\S+)", r"/\2\n\1\2", text)
    for number, line in enumerate(text.splitlines(), 1):
        for target in re.findall(r"\]\(([^)\s]+)\)", line):
            if "://" not in target and not target.startswith(("#", "mailto:")):
                base = os.path.join(ROOT, os.path.dirname(doc))
                check_path(doc, number, os.path.relpath(os.path.join(base, target.split("#")[0]), ROOT))
        for word in re.findall(r"(?<![\w./\-:$])(?:%s)/[\w./{},+*<>\-]*" % folders, line):
            word = re.sub(r":\d+$", "", word).rstrip(".,;:")
            if "<" in word or "PREFIX" in word:
                continue
            check_path(doc, number, word)
        for word in re.findall(r"`([\w.\-]+\.(?:h|hpp|cpp|c|cmake|sh|py|cs|map|def))`", line):
            if word not in BASENAMES:
                findings.append(f"{doc}:{number}: names {word}, which no file of the "
                                "repository is called")


def declared_options():
    options = {}
    for path in FILES:
        # Options of the test suites' own sub-builds (tests/windows/host) are theirs.
        if not (path.endswith("CMakeLists.txt") or path.endswith(".cmake")) or \
                path.startswith("tests" + os.sep):
            continue
        text = read(path)
        for name in re.findall(r"\boption\(\s*(\w+)", text):
            options[name] = path
        for name in re.findall(r"\bset\(\s*(\w+)\s+[^)]*\bCACHE\b", text):
            options[name] = path
    return options


def check_options(texts):
    options = declared_options()
    for doc, text in texts.items():
        for number, line in enumerate(text.splitlines(), 1):
            for name in re.findall(r"-D(\w+)=", line):
                if not name.startswith("CMAKE_") and name not in options:
                    findings.append(f"{doc}:{number}: -D{name} is no option of the CMake files")
    table = re.findall(r"^\| `(\w+)` \|", texts["docs/usage.md"], re.M)
    for name in table:
        if name != "BUILD_SHARED_LIBS" and name not in options:
            findings.append(f"docs/usage.md: the option table names {name}, which is not declared")
    for name, path in options.items():
        if name not in table and name.startswith(("CORVANE_", "ZENTA_", "BUILD_")):
            findings.append(f"{path} declares {name}, missing from docs/usage.md's option table")


def header_codes():
    codes = {}
    for path in FILES:
        if not path.endswith(".h"):
            continue
        for name, value in re.findall(r"\b((?:ZENTA|CORVANE)_(?:E_\w+|OK))\s*=\s*\(?(-?\d+)",
                                      read(path)):
            codes[name] = int(value)
        for name, value in re.findall(r"#define\s+((?:ZENTA|CORVANE)_E_\w+)\s+\(?(-?\d+)",
                                      read(path)):
            codes[name] = int(value)
    return codes


def error_texts():
    texts = dict(re.findall(r'case\s+(ZENTA_\w+):\s*return\s+"((?:[^"\\]|\\.)*)";',
                            read(os.path.join("platform", "zenta", "Errors.cpp"))))
    if not texts:
        findings.append("platform/zenta/Errors.cpp: no code texts found (did its form change?)")
    return texts


def check_codes(texts):
    codes = header_codes()
    zenta = {n: v for n, v in codes.items()
             if n.startswith("ZENTA_") and n != "ZENTA_E_HTTP_STATUS_BASE"}
    if len(zenta) < 10:
        findings.append("include/zenta/ZentaSdk.h: fewer than ten codes found (did its form change?)")
    for doc, text in texts.items():
        for number, line in enumerate(text.splitlines(), 1):
            for name in re.findall(r"\b((?:ZENTA|CORVANE)_E_[A-Z0-9_]+)\b", line):
                if name not in codes:
                    findings.append(f"{doc}:{number}: {name} is declared in no header")
    known_texts = error_texts()
    rows = re.findall(r"^\| (-?\d+) \| `(ZENTA_\w+)` \| (.*?) \|$", texts["docs/gateway.md"], re.M)
    in_table = set()
    for value, name, text in rows:
        in_table.add(name)
        if name not in zenta:
            findings.append(f"docs/gateway.md: the code table names {name}, not in ZentaSdk.h")
        elif zenta[name] != int(value):
            findings.append(f"docs/gateway.md: {name} is {zenta[name]} in ZentaSdk.h, not {value}")
        if name in known_texts and known_texts[name] != text:
            findings.append(f"docs/gateway.md: the text of {name} is \"{known_texts[name]}\" in "
                            f"Errors.cpp, not \"{text}\"")
    for name in sorted(set(zenta) - in_table):
        findings.append(f"docs/gateway.md: the code table lacks {name} ({zenta[name]})")


# The sections that trace a call through the code, by document.
TRACES = {"docs/library.md": "## One call, traced", "docs/gateway.md": "## The layers"}
CODE_FOLDERS = ("src", "platform", "include", "tools")


def source_words():
    words = set()
    for path in FILES:
        if path.split(os.sep)[0] in CODE_FOLDERS and path.endswith((".h", ".cpp", ".c")):
            words.update(re.findall(r"\w+", read(path)))
    return words


def traced_names(section):
    """The code names of a trace: CamelCase words of two parts or more (functions, types),
    ZENTA_/API_ names, members called as .Name( and destructors; file names are left out."""
    section = re.sub(r"[\w/.\-]+\.(?:h|hpp|cpp|c|md|def|map)\b", " ", section)
    names = re.findall(r"(?<![\w.])~?([A-Z][a-z0-9]+(?:[A-Z][A-Za-z0-9]*)+)\b", section)
    names += re.findall(r"\b((?:ZENTA|API)_\w+)", section)
    names += re.findall(r"\.(\w+)\(", section)
    return names


def check_traces(texts):
    words = source_words()
    for doc, heading in TRACES.items():
        text = texts[doc]
        start = text.find(heading + "\n")
        if start < 0:
            findings.append(f"{doc}: no section \"{heading}\" (did the page change?)")
            continue
        end = text.find("\n## ", start + len(heading))
        section = text[start:end if end >= 0 else len(text)]
        first_line = text.count("\n", 0, start) + 1
        for number, line in enumerate(section.splitlines(), first_line):
            for name in traced_names(line):
                if name not in words:
                    findings.append(f"{doc}:{number}: the trace names {name}, which no source "
                                    "under src/, platform/, include/ or tools/ has")


def main():
    texts = {doc: read(doc) for doc in DOCS}
    for doc, text in texts.items():
        check_paths(doc, text)
    check_options(texts)
    check_codes(texts)
    check_traces(texts)
    for finding in findings:
        print(finding)
    print(f"{len(DOCS)} documents checked, {len(findings)} findings")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
