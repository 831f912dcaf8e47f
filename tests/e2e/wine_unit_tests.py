"""Runs the Windows build's unit tests (build/win64/tests/test_*.exe) under Wine, in the
harness's private environment, and prints each one's GoogleTest output.

Exit status: 0 when every binary passed.
"""

import sys
from pathlib import Path

from harness import REPO, Env

TIMEOUT = 600


def main(argv):
    exes = [Path(a) for a in argv[1:]] or sorted((REPO / "build" / "win64" / "tests").glob("test_*.exe"))
    if not exes:
        print("no Windows test binaries found", file=sys.stderr)
        return 1
    failed = 0
    with Env(name="wine-unit", sound=False) as env:
        for exe in exes:
            proc = env.run_exe(exe, name=exe.stem)
            code = proc.wait(TIMEOUT)
            print(f"===== {exe.name} (exit {code})")
            print(proc.output(), flush=True)
            failed += code != 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
