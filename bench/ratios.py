"""Prints benchmark results of one Google Benchmark JSON file with ratios to their anchors."""
import json
import sys
from collections import defaultdict


def speed(b):
    # Throughput when the benchmark reports bytes, else calls per second.
    if "bytes_per_second" in b:
        return b["bytes_per_second"], "%.0f MB/s" % (b["bytes_per_second"] / 1e6)
    ns = b["real_time"] * {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return 1e9 / ns, "%.1f ns/op" % ns


def main(path):
    with open(path) as f:
        data = json.load(f)
    groups = defaultdict(dict)
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        name = b["name"]
        group, _, role = name.partition("/")
        groups[group][role or name] = b
    for group, runs in groups.items():
        anchors = {r: b for r, b in runs.items() if r.startswith("anchor")}
        for role, b in runs.items():
            s, text = speed(b)
            line = "%-40s %16s" % (b["name"], text)
            if "page_faults" in b:
                line += "  %9.0f page faults" % b["page_faults"]
            if "cpu_ms" in b:
                line += "  %8.1f ms cpu" % b["cpu_ms"]
            if not role.startswith("anchor"):
                for aname, ab in anchors.items():
                    a, _ = speed(ab)
                    line += "   ratio %.2f of %s" % (s / a, aname)
                    # CPU time per call: less disturbed by other load than wall time.
                    if b.get("cpu_ms", 0) > 0 and "cpu_ms" in ab:
                        line += " (cpu %.2f)" % (ab["cpu_ms"] / b["cpu_ms"])
                if anchors:
                    line += " (above 1 is faster)"
            print(line)


if __name__ == "__main__":
    for p in sys.argv[1:]:
        main(p)
