#!/usr/bin/env python3
"""Writes bench/wine-cost.sh's table: two Windows builds side by side under wine.

    cost_table.py <times.tsv> <counts.tsv> <first build's label> <second build's label>

times.tsv: one line per timed run, "build row pair calls_per_s ms_per_call" (build is "a" or "b").
counts.tsv: one line per counted run, "build row calls connections handshakes certificates".
Prints a markdown table of medians over the pairs, then each pair's calls per second.
"""
import statistics
import sys

ROWS = [
    ("http-1", "http, sequential"),
    ("http-4", "http, 4 threads"),
    ("https-1", "https, sequential"),
    ("https-4", "https, 4 threads"),
]


def read(path):
    with open(path) as lines:
        return [line.split() for line in lines if line.strip()]


def per_hundred(value, calls):
    return "%g" % round(100.0 * value / calls, 1)


def count_cells(counts, build, row):
    found = [c for c in counts if c[0] == build and c[1] == row]
    if not found:
        return ["?", "?"]
    calls, connections, handshakes, certificates = (int(v) for v in found[-1][2:6])
    if not row.startswith("https"):
        return [per_hundred(connections, calls), "—"]
    tls = per_hundred(handshakes, calls)
    resumed = handshakes - certificates
    if resumed:
        tls += " (%s resumed)" % per_hundred(resumed, calls)
    return [per_hundred(connections, calls), tls]


def runs(times, build, row):
    """calls/s and ms/call of each pair, by pair number."""
    return {int(t[2]): (float(t[3]), float(t[4])) for t in times if t[0] == build and t[1] == row}


def table(times, counts, labels):
    head = ["calls"]
    for label in labels:
        head += ["%s calls/s" % label, "ms/call", "connections /100 calls",
                 "TLS handshakes /100 calls"]
    head.append("calls/s, second ÷ first")
    out = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for row, title in ROWS:
        cells = [title]
        by_build = [runs(times, build, row) for build in ("a", "b")]
        for build, found in zip(("a", "b"), by_build):
            if found:
                cells.append("%.0f" % statistics.median(v[0] for v in found.values()))
                cells.append("%.2f" % statistics.median(v[1] for v in found.values()))
            else:
                cells += ["?", "?"]
            cells += count_cells(counts, build, row)
        pairs = sorted(set(by_build[0]) & set(by_build[1]))
        ratios = [by_build[1][p][0] / by_build[0][p][0] for p in pairs]
        cells.append("%.2f" % statistics.median(ratios) if ratios else "?")
        out.append("| " + " | ".join(cells) + " |")
    return out


def pair_lines(times, labels):
    out = ["", "calls/s of each pair (%s / %s):" % tuple(labels), ""]
    for row, title in ROWS:
        a, b = runs(times, "a", row), runs(times, "b", row)
        pairs = " ".join("%.0f/%.0f" % (a[p][0], b[p][0]) for p in sorted(set(a) & set(b)))
        out.append("- %s: %s" % (title, pairs))
    return out


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    times, counts = read(sys.argv[1]), read(sys.argv[2])
    labels = sys.argv[3:5]
    print("\n".join(table(times, counts, labels) + pair_lines(times, labels)))


if __name__ == "__main__":
    main()
