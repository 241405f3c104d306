"""Every exported function in the public headers has a documentation comment:
a /** ... */ block (or /// lines) ending right above its declaration, or a
trailing /**< ... */ on it. Prints the ones without and fails."""
import re
import sys
from pathlib import Path

missing = []
for header in sorted(Path(sys.argv[1]).glob("*.h")):
    lines = header.read_text().split("\n")
    for i, line in enumerate(lines):
        m = re.match(r"\s*QB_API\b.*?(\w+)\s*\(", line)
        if not m:
            continue
        j = i
        while not lines[j].rstrip().endswith(";") and j + 1 < len(lines):  # declarations spanning lines
            j += 1
        if "/**<" in lines[j]:
            continue
        above = lines[i - 1].strip() if i > 0 else ""
        if above.endswith("*/"):
            k = i - 1
            while k > 0 and "/*" not in lines[k]:
                k -= 1
            if "/**" in lines[k] or "/*!" in lines[k]:
                continue
        elif above.startswith("///"):
            continue
        missing.append("%s:%d: %s" % (header.name, i + 1, m.group(1)))

for entry in missing:
    print("no documentation comment:", entry)
print("%d exported functions without a documentation comment" % len(missing))
sys.exit(1 if missing else 0)
