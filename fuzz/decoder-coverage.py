#!/usr/bin/env python3
"""Line coverage of a fuzz target's decoder code, from a coverage binary and its merged profile.

Usage: decoder-coverage.py BIN PROFDATA ENTRY...

Each ENTRY is a source path from the repository root ("creator/ugc/X.cpp"), or "PATH:REGEX" to count
only the functions of that file whose (mangled) name matches REGEX. The lines are llvm-cov's own (its
lcov export); a function's lines are those its code regions span. Prints one line per entry with the
line ranges never run, and a last line "TOTAL <lines> <missed>".
"""
import json
import os
import re
import subprocess
import sys


def export(binary, profile, fmt):
    return subprocess.run(["llvm-cov", "export", "-format=" + fmt, "-skip-expansions", binary,
                           "-instr-profile=" + profile], check=True, capture_output=True, text=True).stdout


def same_file(recorded, path):
    return os.path.normpath(recorded).endswith(os.sep + os.path.normpath(path))


def ranges(numbers):
    spans = []
    for number in numbers:
        if spans and spans[-1][1] + 1 == number:
            spans[-1][1] = number
        else:
            spans.append([number, number])
    return ", ".join(str(a) if a == b else f"{a}-{b}" for a, b in spans)


def main():
    binary, profile, entries = sys.argv[1], sys.argv[2], sys.argv[3:]
    lines = {}  # recorded file name -> {line: count}
    current = None
    for row in export(binary, profile, "lcov").splitlines():
        if row.startswith("SF:"):
            current = lines.setdefault(row[3:], {})
        elif row.startswith("DA:") and current is not None:
            number, count = row[3:].split(",")[:2]
            current[int(number)] = max(current.get(int(number), 0), int(count))
    functions = None
    total = missed = 0
    for entry in entries:
        path, _, pattern = entry.partition(":")
        files = [f for f in lines if same_file(f, path)]
        keep = None
        if pattern:
            if functions is None:
                functions = json.loads(export(binary, profile, "text"))["data"][0]["functions"]
            keep = set()
            regex = re.compile(pattern)
            for f in functions:
                if not regex.search(f["name"]) or not f["filenames"] or not same_file(f["filenames"][0], path):
                    continue
                for r in f["regions"]:
                    if r[5] == 0 and r[7] == 0:  # code regions of the function's own file
                        keep.update(range(r[0], r[2] + 1))
        n = m = 0
        never = []
        for f in files:
            for number, count in sorted(lines[f].items()):
                if keep is None or number in keep:
                    n += 1
                    if count == 0:
                        m += 1
                        never.append(number)
        total += n
        missed += m
        pct = 100.0 * (n - m) / n if n else 0.0
        print(f"{entry}: lines {n}, missed {m}, {pct:.1f}%" + (f"; never run: {ranges(never)}" if never else ""))
    print(f"TOTAL {total} {missed}")


if __name__ == "__main__":
    main()
