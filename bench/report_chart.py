"""The chart of docs/benchmarks.svg, drawn as plain SVG (no plotting library needed), and the
number formats the tables of bench/report.py share with it."""
from xml.sax.saxutils import escape


def fmt(value, digits=0):
    if value is None:
        return "–"
    return ("{:,.%df}" % digits).format(value)


def ratio(value, digits=3):
    return "–" if value is None else ("%%.%df" % digits) % value


class Svg:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.items = []

    def text(self, x, y, content, size=12, anchor="start", weight="normal", color="#222"):
        self.items.append(
            '<text x="%.1f" y="%.1f" font-size="%d" text-anchor="%s" font-weight="%s" '
            'fill="%s">%s</text>' % (x, y, size, anchor, weight, color, escape(content)))

    def rect(self, x, y, w, h, color):
        self.items.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"/>' % (
            x, y, max(w, 0.5), h, color))

    def line(self, x1, y1, x2, y2, color="#999", dash=None, width=1):
        extra = ' stroke-dasharray="%s"' % dash if dash else ""
        self.items.append('<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" stroke="%s" '
                          'stroke-width="%s"%s/>' % (x1, y1, x2, y2, color, width, extra))

    def render(self):
        return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
                'viewBox="0 0 %d %d" font-family="DejaVu Sans, Arial, sans-serif">\n'
                '<rect width="100%%" height="100%%" fill="white"/>\n%s\n</svg>\n' % (
                    self.width, self.height, self.width, self.height, "\n".join(self.items)))


def hbar_panel(svg, top, title, rows, maximum, unit, target=None, target_label=None,
               left=230, width=520, row_height=18, fmt_digits=0, key=None):
    """rows: (label, [(value, color)], note). Draws grouped horizontal bars under the title and
    the key (label, color) entries; returns the bottom y."""
    svg.text(20, top, title, size=14, weight="bold")
    y = top + 14
    if key:
        y = legend(svg, left, y + 8, key) + 10
    scale = width / maximum
    for label, bars, note in rows:
        svg.text(left - 8, y + row_height * len(bars) / 2 + 4, label, anchor="end", size=11)
        for value, color in bars:
            svg.rect(left, y + 2, value * scale, row_height - 4, color)
            svg.text(left + value * scale + 4, y + row_height - 5,
                     ("{:,.%df}" % fmt_digits).format(value) + " " + unit, size=10,
                     color="#444")
            y += row_height
        if note:
            svg.text(left + width + 70, y - row_height / 2, note, size=10, color="#666")
        y += 4
    if target is not None:
        x = left + target * scale
        svg.line(x, top + 10, x, y, color="#c0392b", dash="4,3", width=1.5)
        svg.text(x + 3, top + 10, target_label, size=10, color="#c0392b")
    return y + 16


def legend(svg, x, y, entries):
    """Draws the key entries from (x, y), wrapping at the chart's width; returns the last y."""
    start = x
    for label, color in entries:
        width = 14 + 6.5 * len(label) + 18
        if x > start and x + width > svg.width - 10:
            x, y = start, y + 16
        svg.rect(x, y - 9, 10, 10, color)
        svg.text(x + 14, y, label, size=10)
        x += width
    return y


BLUE, LIGHT_BLUE, PALE_BLUE = "#2e86c1", "#85c1e9", "#aed6f1"
GREY, LIGHT_GREY, BEFORE = "#7f8c8d", "#bdc3c7", "#e59866"


def chart(gateway_ns, operations, reads, e2e, threads, own_cost_target_ns, baseline=None):
    svg = Svg(900, 20)
    y = 30
    before_ops = {op["name"]: op for op in baseline[1]} if baseline else {}
    rows = []
    for op in operations:
        bars = []
        if op["name"] in before_ops:
            bars.append((before_ops[op["name"]]["own_ns"], BEFORE))
        bars.append((op["own_ns"], BLUE))
        rows.append((op["name"] + (" (POST)" if op["post"] else ""), bars, None))
    largest = max(v for _, bars, _ in rows for v, _ in bars)
    y = hbar_panel(svg, y, "Library's own cost per operation, ns (total minus the %.0f ns "
                   "gateway call)" % gateway_ns, rows,
                   max(own_cost_target_ns * 1.15, largest * 1.12), "ns",
                   target=own_cost_target_ns, target_label="target 2 µs",
                   key=[("before", BEFORE), ("now", BLUE)] if before_ops else None,
                   row_height=16 if before_ops else 18)
    y += 10
    before_reads = {r["elements"]: r for r in baseline[2]} if baseline else {}
    key = [("operation: parse, walk, copy", BLUE), ("quim parse", LIGHT_BLUE),
           ("rapidjson DOM, default", GREY), ("rapidjson DOM, quim's checks", LIGHT_GREY)]
    if before_reads:
        key.insert(0, ("operation before", BEFORE))
    rows = []
    for r in reads:
        bars = []
        if r["elements"] in before_reads:
            bars.append((before_reads[r["elements"]]["read_mbps"], BEFORE))
        bars += [(r["read_mbps"], BLUE), (r["quim_mbps"], LIGHT_BLUE), (r["dom_mbps"], GREY),
                 (r["dom_strict_mbps"], LIGHT_GREY)]
        rows.append(("%s elements (%s B)" % (fmt(r["elements"]), fmt(r["bytes"])), bars,
                     "%.2f of DOM" % (r["read_mbps"] / r["dom_mbps"])))
    top_speed = max(v for _, bars, _ in rows for v, _ in bars)
    y = hbar_panel(svg, y, "Reading the PTZ trail list answer, MB/s", rows, top_speed * 1.25,
                   "MB/s", left=230, width=480, key=key, row_height=15)
    y += 10
    rows = []
    for op in e2e:
        if not op["library_us"] or not op["raw_us"]:
            continue
        rows.append(("%s%s: calls/s" % (op["label"], "" if op["scheme"] == "http"
                                         else " (%s)" % op["scheme"]),
                     [(1e6 / op["library_us"], BLUE), (1e6 / op["raw_us"], GREY)],
                     "%.3f of raw; CPU %s x" % (op["library_vs_raw"],
                                                ratio(op["cpu_library_vs_raw"], 2))))
    for t in threads:
        if t["client"] != "library":
            continue
        rows.append(("%s: 1 / 2 / 4 threads" % t["name"], [
            (t["1t_calls_per_s"], BLUE), (t["2t_calls_per_s"], LIGHT_BLUE),
            (t["4t_calls_per_s"], PALE_BLUE)], "2 threads: %.2f x" % t["scale_2t"]))
    if rows:
        top_rate = max(v for _, bars, _ in rows for v, _ in bars)
        y = hbar_panel(svg, y, "End to end over loopback against corvane-mock-server, calls/s",
                       rows, top_rate * 1.3, "/s", left=230, width=460,
                       key=[("library, 1 thread", BLUE), ("bare libcurl", GREY),
                            ("library, 2 / 4 threads", LIGHT_BLUE)])
    svg.height = int(y + 10)
    return svg.render()
