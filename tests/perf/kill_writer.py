#!/usr/bin/env python3
"""Kills a settings writer at random moments, 1 000 times by default, under Wine: every time
tonalis.ini must still be a whole file, the old one or the new one.

Usage: python3 tests/perf/kill_writer.py [rounds]     (needs scripts/build win64)
Not part of scripts/test: it takes minutes.
"""

import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import REPO, Env  # noqa: E402


def main(argv):
    rounds = int(argv[1]) if len(argv) > 1 else 1000
    exe = REPO / "build" / "win64" / "tests" / "perf" / "kill_writer.exe"
    with Env(name="kill-writer", sound=False) as env:
        proc = env.run_exe(exe, ["parent", rounds], name="kill_writer")
        code = proc.wait(60 + rounds * 5)
        out = proc.output()
    print(out.strip())
    lines = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
    if code != 0 or not lines or lines[-1]["broken"]:
        print(f"kill_writer: FAILED (exit {code})", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
