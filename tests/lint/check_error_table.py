#!/usr/bin/python3
"""The README's table of error numbers lists exactly the numbers of
src/base/ErrorNumbers.h, each row beginning with the meaning given there."""
import re
import sys

root = sys.argv[1]
catalogue, last = {}, None
header = open(f"{root}/src/base/ErrorNumbers.h", encoding="utf-8").read()
for line in header.split("enum ErrorNumber", 1)[1].split("};", 1)[0].splitlines():
    if m := re.match(r"\s*k\w+ = (\d+),\s*(?://\s*(.*))?$", line):
        if m[2] is None:  # the end of the range its predecessor begins
            catalogue[f"{last}–{m[1]}"] = catalogue.pop(last)
        else:
            last = m[1]
            catalogue[last] = m[2]
    elif last and (m := re.match(r"\s*//\s*(.*)$", line)) and catalogue.get(last):
        catalogue[last] += " " + m[1]  # a comment wrapped onto the next line

readme = open(f"{root}/README.md", encoding="utf-8").read()
section = readme.split("## What the error numbers mean", 1)[1].split("\n## ", 1)[0]
rows = dict(re.findall(r"^\| ([\d–]+) \| (.*) \|$", section, re.M))

faults = [f"{n}: in ErrorNumbers.h, not in the README" for n in catalogue.keys() - rows.keys()]
faults += [f"{n}: in the README, not in ErrorNumbers.h" for n in rows.keys() - catalogue.keys()]
faults += [f"{n}: the README's row does not begin with \"{meaning}\""
           for n, meaning in catalogue.items() if n in rows and not rows[n].startswith(meaning)]
print("\n".join(faults) or f"the README lists the {len(catalogue)} numbers of ErrorNumbers.h")
sys.exit(1 if faults else 0)
