#!/usr/bin/env python3
"""Turns the benchmark programs' JSON output into the tables of docs/benchmarks.md and the chart
docs/benchmarks.svg (drawn here as plain SVG: no plotting library needed).

    bench/report.py RESULTS_DIR [--svg FILE] [--markdown FILE] [--page FILE]

RESULTS_DIR holds library*.json (corvane_bench_library) and e2e*.json (corvane_bench_e2e); each
figure is the median over every repetition in those files. strace-CLIENT.txt, when present, are
strace logs of runs that made calls with one client (CORVANE_BENCH_CALLS) between two marks: what
lies between the marks, over the number of calls, is that client's system calls per call.
baseline-library*.json and baseline-e2e*.json, when present, are the same benchmarks built from
an earlier tree: they add a before/after table and "before" bars.
"""
import argparse
import collections
import glob
import json
import os
import re
import statistics
import sys

from report_chart import chart, fmt, ratio

OPERATIONS = [
    "GetAIPrivacyConfig", "GetWebEnablement", "GetChannelWebEnablement", "DownloadDevicePicture",
    "GetIPSpeakerVolume", "SetIPSpeakerVolume", "GetIPSpeakerAudioList",
    "GetIPSpeakerSameAudioList", "GetAlarmDeviceContacts", "GetPtzTrailList",
    "StartRemoteRecord", "GetPosConfig", "GetPosEventTranslate", "QueryDictionaryMapper",
]
POSTS = {"GetIPSpeakerVolume", "SetIPSpeakerVolume", "GetIPSpeakerSameAudioList",
         "StartRemoteRecord"}
SIZES = [10, 1000, 100000]
OWN_COST_TARGET_NS = 2000
READ_TARGET = 1 / 3
E2E_TARGET = 0.95
E2E_CPU_TARGET = 1.05
# The pair against a bare client that hands libcurl its URL parsed (CURLOPT_CURLU) too.
PARSED_URL = "http, raw's URL parsed"
E2E_OPERATIONS = [("GetPtzTrailList", "http"), ("GetIPSpeakerVolume", "http"),
                  ("Tls_GetPtzTrailList", "https"), ("Tls_GetIPSpeakerVolume", "https"),
                  ("ParsedUrl_GetPtzTrailList", PARSED_URL),
                  ("ParsedUrl_GetIPSpeakerVolume", PARSED_URL)]
# The clients of the system call counts (bench/run.sh), by operation name.
SYSCALL_CLIENTS = {"GetPtzTrailList": "get", "GetIPSpeakerVolume": "post",
                   "Tls_GetPtzTrailList": "get-tls", "Tls_GetIPSpeakerVolume": "post-tls"}
THREADS_TARGET = 1.6

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load_runs(paths):
    """Every repetition of every benchmark in the given JSON files, by run name."""
    context = {}
    runs = collections.defaultdict(list)
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        context = data.get("context", context)
        for bench in data["benchmarks"]:
            if bench.get("run_type", "iteration") != "iteration" or bench.get("error_occurred"):
                continue
            name = bench.get("run_name", bench["name"])
            runs[name[: -len("/real_time")] if name.endswith("/real_time") else name].append(bench)
    return context, runs


def result_files(results, prefix):
    return sorted(glob.glob(os.path.join(results, prefix + "*.json")))


def median_of(runs, name, key):
    values = []
    for bench in runs.get(name, []):
        if key in ("cpu_time", "real_time"):
            values.append(bench[key] * UNIT_NS[bench.get("time_unit", "ns")])
        elif key in bench:
            values.append(bench[key])
    return statistics.median(values) if values else None


def library_figures(runs):
    gateway_ns = median_of(runs, "BM_Gateway/200", "cpu_time")
    operations = []
    for op in OPERATIONS:
        total = median_of(runs, "BM_" + op, "cpu_time")
        if total is None:
            continue
        operations.append({"name": op, "post": op in POSTS, "total_ns": total,
                           "own_ns": total - gateway_ns})
    reads = []
    for n in SIZES:
        size = median_of(runs, "BM_ReadTrailList/%d" % n, "answer_bytes")
        read = median_of(runs, "BM_ReadTrailList/%d" % n, "cpu_time")
        handover = median_of(runs, "BM_ReadGateway/%d" % n, "cpu_time")
        if None in (size, read, handover):
            continue
        mbps = lambda ns: size / (ns / 1e9) / 1e6
        reads.append({
            "elements": n, "bytes": size,
            "read_mbps": mbps(read),
            "read_net_mbps": mbps(read - handover),
            "quim_mbps": mbps(median_of(runs, "BM_QuimParse/%d" % n, "cpu_time")),
            "dom_mbps": mbps(median_of(runs, "BM_RapidjsonDomParse/%d" % n, "cpu_time")),
            "dom_strict_mbps": mbps(median_of(runs, "BM_RapidjsonDomParseStrict/%d" % n,
                                              "cpu_time")),
        })
    copies = {n: median_of(runs, "BM_CopyData/%d" % n, "cpu_time") for n in (10, 100000)}
    return gateway_ns, operations, reads, copies


def e2e_figures(runs):
    ops = []
    for op, scheme in E2E_OPERATIONS:
        name = "BM_E2E_" + op
        if name not in runs:
            continue
        figure = {"name": op, "scheme": scheme,
                  "label": op.replace("Tls_", "").replace("ParsedUrl_", "")}
        for key in ("library_vs_raw", "cpu_library_vs_raw", "library_us", "raw_us",
                    "library_client_cpu_us", "raw_client_cpu_us", "library_client_user_us",
                    "raw_client_user_us", "library_server_cpu_us",
                    "raw_server_cpu_us"):
            figure[key] = median_of(runs, name, key)
        ops.append(figure)
    threads = []
    for op in ("GetPtzTrailList", "GetIPSpeakerVolume"):
        for client in ("Library", "Raw"):
            name = "BM_Threads_%s_%s" % (client, op)
            if name not in runs:
                continue
            figure = {"name": op, "client": client.lower()}
            for t in (1, 2, 4):
                for key in ("calls_per_s", "client_cpu_us", "server_cpu_us", "cores"):
                    figure["%dt_%s" % (t, key)] = median_of(runs, name, "%dt_%s" % (t, key))
            figure["scale_2t"] = median_of(runs, name, "scale_2t")
            figure["scale_4t"] = median_of(runs, name, "scale_4t")
            threads.append(figure)
    handover = median_of(runs, "BM_ZentaHandOver", "cpu_time")
    return ops, threads, handover


STRACE_LINE = re.compile(r"^(\w+)\((.*)\)\s+= (-?\d+|\?)(.*)$")
POLL_TIMEOUT = re.compile(r", (-?\d+)$")
MARK = re.compile(r'^access\("/nonexistent/corvane-bench-calls/(\w+)"')


def read_strace(path):
    """{system call: calls per call} between the marks of an strace log; poll is split into
    checks (timeout 0) and waits, and calls that failed with EAGAIN are counted apart."""
    calls = collections.Counter()
    count = None
    previous = None
    with open(path) as f:
        for line in f:
            mark = MARK.match(line)
            if mark:
                if mark.group(1) == "end":
                    break
                count = int(mark.group(1))
                continue
            match = STRACE_LINE.match(line)
            if count is None or not match:
                continue
            name, args, result, rest = match.groups()
            if name in ("poll", "ppoll"):
                timeout = POLL_TIMEOUT.search(args)
                if timeout and timeout.group(1) == "0":
                    # libcurl checks the socket again after a wait of its own; a client that is
                    # told what the wait found does not.
                    name += " (check after a wait)" if previous == "poll (wait)" else " (check)"
                else:
                    name += " (wait)"
            elif result == "-1" and "EAGAIN" in rest:
                name += " (EAGAIN)"
            calls[name] += 1
            previous = name
    return {name: n / count for name, n in calls.items()} if count else {}


def syscall_figures(results):
    """{client: {system call: calls per call}} from the strace logs."""
    figures = {}
    for path in glob.glob(os.path.join(results, "strace-*.txt")):
        calls = read_strace(path)
        if calls:
            figures[os.path.basename(path)[len("strace-"):-len(".txt")]] = calls
    return figures


def verdict(ok):
    return "met" if ok else "missed"


def verdict_of(value, target, at_most):
    """met or missed against target, "–" when the run has no such figure."""
    if value is None:
        return "–"
    return verdict(value <= target if at_most else value >= target)


def e2e_tables(e2e, syscalls, context):
    out = ["### End to end over loopback (real gateway vs bare libcurl, same requests)\n"]
    out.append("Per call, medians over rounds; ratios are taken round by round within the run. "
               "Targets (http): client CPU ≤ %.2f × the bare client's, throughput ≥ %.2f of "
               "it. The https pair has no target: it shows what the gateway adds to a TLS "
               "exchange (%s, keep-alive, the server verified against the run's own "
               "certificate by both clients). Nor has the pair whose bare client hands libcurl "
               "its URL parsed (`CURLOPT_CURLU`), as the gateway does, instead of as text "
               "(`CURLOPT_URL`), which libcurl parses and prints back on every transfer: "
               "it shows what the library and the gateway cost beyond libcurl at its "
               "cheapest.\n" % (
                   E2E_CPU_TARGET, E2E_TARGET, context.get("tls_version") or "TLS"))
    out.append("| operation | scheme | client CPU µs/call library / raw | CPU library ÷ raw | "
               "target ≤ %.2f | of it in user space, µs/call library / raw | "
               "wall µs/call library / raw | throughput library ÷ raw | target ≥ %.2f | "
               "server CPU µs/call library / raw |" % (E2E_CPU_TARGET, E2E_TARGET))
    out.append("|---|---|---:|---:|---|---:|---:|---:|---|---:|")
    for op in e2e:
        target = op["scheme"] == "http"
        cpu, wall = op["cpu_library_vs_raw"], op["library_vs_raw"]
        out.append("| %s | %s | %s / %s | %s | %s | %s / %s | %s / %s | %s | %s | %s / %s |" % (
            op["label"], op["scheme"], fmt(op["library_client_cpu_us"], 1),
            fmt(op["raw_client_cpu_us"], 1), ratio(cpu),
            verdict_of(cpu, E2E_CPU_TARGET, True) if target else "(none)",
            fmt(op["library_client_user_us"], 1), fmt(op["raw_client_user_us"], 1),
            fmt(op["library_us"], 1), fmt(op["raw_us"], 1), ratio(wall),
            verdict_of(wall, E2E_TARGET, False) if target else "(none)",
            fmt(op["library_server_cpu_us"], 1), fmt(op["raw_server_cpu_us"], 1)))
    out.append("")
    rows = [op for op in e2e if SYSCALL_CLIENTS.get(op["name"]) in
            {c.split("-", 1)[1] for c in syscalls}]
    if rows:
        out.append("### System calls per call (strace, one client per run)\n")
        out.append("Counted under strace, which slows every system call. Checks (poll with "
                   "timeout 0), sends and reads are what every call makes; a wait (poll with a "
                   "timeout, when the answer is not there yet) depends on the moment, and under "
                   "strace the answer is mostly there before it. \"Without waits\" is the total "
                   "less the waits and the checks that follow them; \"a wait adds\" is what a "
                   "call that waits makes beyond that: the wait itself, and for the bare client "
                   "libcurl's check of the socket after it (the gateway tells libcurl what its "
                   "wait found). Without strace most calls wait.\n")
        out.append("| operation | scheme | library | raw | without waits, library / raw | "
                   "library − raw, without waits | a wait adds, library / raw | "
                   "where they differ (calls per call, library / raw) |")
        out.append("|---|---|---:|---:|---:|---:|---:|---|")
        for op in rows:
            client = SYSCALL_CLIENTS[op["name"]]
            lib, raw = syscalls.get("library-" + client, {}), syscalls.get("raw-" + client, {})
            names = sorted(set(lib) | set(raw), key=lambda n: -abs(lib.get(n, 0) - raw.get(n, 0)))
            differ = ["%s %.2f / %.2f" % (n, lib.get(n, 0), raw.get(n, 0)) for n in names
                      if abs(lib.get(n, 0) - raw.get(n, 0)) >= 0.05]
            waited = [c.get("poll (wait)", 0) + c.get("poll (check after a wait)", 0)
                      for c in (lib, raw)]
            steady = [sum(c.values()) - w for c, w in zip((lib, raw), waited)]
            adds = ["%.2f" % (w / c["poll (wait)"]) if c.get("poll (wait)") else "–"
                    for c, w in zip((lib, raw), waited)]
            out.append("| %s | %s | %.2f | %.2f | %.2f / %.2f | %+.2f | %s / %s | %s |" % (
                op["label"], op["scheme"], sum(lib.values()), sum(raw.values()), steady[0],
                steady[1], steady[0] - steady[1], adds[0], adds[1],
                "; ".join(differ) or "none"))
        out.append("")
    return out


def markdown(context, gateway_ns, operations, reads, copies, e2e, threads, handover,
             syscalls=None):
    out = []
    out.append("Medians over repetitions (%s of the library benchmarks, %s end to end); %s CPUs "
               "at %s MHz.\n" % (context.get("library_repetitions", "?"),
                                  context.get("e2e_repetitions", "?"),
                                  context.get("num_cpus", "?"), context.get("mhz_per_cpu", "?")))
    if context.get("neighbour"):
        out.append("**The end-to-end rounds ran beside a noisy neighbour** (`NEIGHBOUR=1`: %s).\n"
                   % context["neighbour"])
    out.append("### Per-operation cost (in-process gateway, ~200-byte answers)\n")
    out.append("Bare gateway call (allocate, copy, hand over, release a 200-byte answer): "
               "**%s ns**; the real gateway's hand-over alone (answer registry): %s ns.\n" % (
                   fmt(gateway_ns), fmt(handover)))
    out.append("| operation | method | total ns | library's own ns (total − gateway) | "
               "target ≤ %d ns |" % OWN_COST_TARGET_NS)
    out.append("|---|---|---:|---:|---|")
    for op in operations:
        out.append("| %s | %s | %s | %s | %s |" % (
            op["name"], "POST" if op["post"] else "GET", fmt(op["total_ns"]),
            fmt(op["own_ns"]), verdict(op["own_ns"] <= OWN_COST_TARGET_NS)))
    out.append("")
    out.append("### Reading the list answer (PTZ trails: parse, walk, copy into records)\n")
    out.append("| elements | answer bytes | operation MB/s | operation MB/s net of hand-over | "
               "quim parse MB/s | rapidjson DOM MB/s | rapidjson DOM, quim's checks MB/s | "
               "operation / DOM | target ≥ 1/3 |")
    out.append("|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    for r in reads:
        ratio = r["read_mbps"] / r["dom_mbps"]
        out.append("| %s | %s | %s | %s | %s | %s | %s | %.2f | %s |" % (
            fmt(r["elements"]), fmt(r["bytes"]), fmt(r["read_mbps"]), fmt(r["read_net_mbps"]),
            fmt(r["quim_mbps"]), fmt(r["dom_mbps"]), fmt(r["dom_strict_mbps"]), ratio,
            verdict(ratio >= READ_TARGET) if r["elements"] == 100000 else ""))
    out.append("")
    out.append("Copying `data` out of the parsed answer and `results` out of `data`, as every "
               "operation does: %s ns with 10 elements, %s ns with 100 000.\n" % (
                   fmt(copies.get(10), 1), fmt(copies.get(100000), 1)))
    out += e2e_tables(e2e, syscalls or {}, context)
    out.append("### Threads (library: one session handle; raw: one easy handle per thread)\n")
    out.append("| operation | client | calls/s 1 thread | 2 threads | 4 threads | 2 vs 1 | "
               "4 vs 1 | CPU µs/call client + server (1 thread) | cores busy 1 / 2 / 4 | "
               "target 2 vs 1 ≥ %.1f |" % THREADS_TARGET)
    out.append("|---|---|---:|---:|---:|---:|---:|---:|---:|---|")
    for t in threads:
        out.append("| %s | %s | %s | %s | %s | %.2f | %.2f | %s + %s | %s / %s / %s | %s |" % (
            t["name"], t["client"], fmt(t["1t_calls_per_s"]), fmt(t["2t_calls_per_s"]),
            fmt(t["4t_calls_per_s"]), t["scale_2t"], t["scale_4t"],
            fmt(t["1t_client_cpu_us"], 1), fmt(t["1t_server_cpu_us"], 1),
            fmt(t["1t_cores"], 2), fmt(t["2t_cores"], 2), fmt(t["4t_cores"], 2),
            verdict(t["scale_2t"] >= THREADS_TARGET) if t["client"] == "library" else ""))
    out.append("")
    return "\n".join(out)


def comparison(baseline, gateway_ns, operations, reads, e2e, threads):
    """Before (baseline results) and now, measured in alternating runs."""
    _, before_ops, before_reads, _, before_e2e = baseline
    before_ops = {op["name"]: op for op in before_ops}
    before_reads = {r["elements"]: r for r in before_reads}
    out = ["", "### Before and after (the same benchmark sources built from both trees, run in "
           "turns)\n"]
    out.append("| operation | own ns before | own ns now | now / before |")
    out.append("|---|---:|---:|---:|")
    for op in operations:
        before = before_ops.get(op["name"])
        if before:
            out.append("| %s | %s | %s | %.2f |" % (op["name"], fmt(before["own_ns"]),
                                                   fmt(op["own_ns"]),
                                                   op["own_ns"] / before["own_ns"]))
    out.append("")
    out.append("| elements | operation MB/s before | now | quim parse MB/s before | now | "
               "operation / DOM before | now |")
    out.append("|---:|---:|---:|---:|---:|---:|---:|")
    for r in reads:
        before = before_reads.get(r["elements"])
        if before:
            out.append("| %s | %s | %s | %s | %s | %.2f | %.2f |" % (
                fmt(r["elements"]), fmt(before["read_mbps"]), fmt(r["read_mbps"]),
                fmt(before["quim_mbps"]), fmt(r["quim_mbps"]),
                before["read_mbps"] / before["dom_mbps"], r["read_mbps"] / r["dom_mbps"]))
    out.append("")
    if before_e2e:
        before_calls = {op["name"]: op for op in before_e2e[0]}
        out.append("| end to end | library / raw before | now | client CPU µs/call before | "
                   "now |")
        out.append("|---|---:|---:|---:|---:|")
        for op in e2e:
            before = before_calls.get(op["name"])
            if before and before["library_vs_raw"] is not None:
                out.append("| %s | %.3f | %.3f | %s | %s |" % (
                    op["name"], before["library_vs_raw"], op["library_vs_raw"],
                    fmt(before["library_client_cpu_us"], 1), fmt(op["library_client_cpu_us"], 1)))
        out.append("")
    return "\n".join(out) + "\n"


def replace_results(page, tables):
    begin, end = "<!-- results:begin -->", "<!-- results:end -->"
    with open(page) as f:
        text = f.read()
    if begin not in text or end not in text:
        raise SystemExit("%s has no %s ... %s block" % (page, begin, end))
    head, rest = text.split(begin, 1)
    _, tail = rest.split(end, 1)
    with open(page, "w") as f:
        f.write(head + begin + "\n" + tables + "\n" + end + tail)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results")
    parser.add_argument("--svg")
    parser.add_argument("--markdown")
    parser.add_argument("--page", help="a Markdown page whose text between the markers "
                        "<!-- results:begin --> and <!-- results:end --> becomes the tables")
    args = parser.parse_args()
    context, library_runs = load_runs(result_files(args.results, "library"))
    context["library_repetitions"] = max((len(v) for v in library_runs.values()), default=0)
    machine = os.path.join(args.results, "machine.txt")
    if os.path.exists(machine):
        with open(machine) as f:
            for line in f:
                if line.startswith("noisy neighbour: "):
                    context["neighbour"] = line[len("noisy neighbour: "):].strip()
    gateway_ns, operations, reads, copies = library_figures(library_runs)
    e2e, threads, handover = [], [], None
    e2e_files = result_files(args.results, "e2e")
    if e2e_files:
        e2e_context, e2e_runs = load_runs(e2e_files)
        context["tls_version"] = e2e_context.get("tls_version")
        context["e2e_repetitions"] = max((len(v) for v in e2e_runs.values()), default=0)
        e2e, threads, handover = e2e_figures(e2e_runs)
    baseline = None
    baseline_files = result_files(args.results, "baseline-library")
    if baseline_files:
        _, baseline_runs = load_runs(baseline_files)
        baseline = library_figures(baseline_runs)
        baseline_e2e = result_files(args.results, "baseline-e2e")
        baseline = baseline + (e2e_figures(load_runs(baseline_e2e)[1]) if baseline_e2e else None,)
    tables = markdown(context, gateway_ns, operations, reads, copies, e2e, threads, handover,
                      syscall_figures(args.results))
    if baseline is not None:
        tables += comparison(baseline, gateway_ns, operations, reads, e2e, threads)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(tables)
    if args.page:
        replace_results(args.page, tables)
    print(tables)
    if args.svg:
        with open(args.svg, "w") as f:
            f.write(chart(gateway_ns, operations, reads, e2e, threads, OWN_COST_TARGET_NS,
                          baseline))
    return 0


if __name__ == "__main__":
    sys.exit(main())
