#!/usr/bin/env python3
"""Runs the end-to-end scenarios: every test_* function in tests/e2e/test_*.py, in file and
definition order, each inside its own deadline (@scenario(timeout=...); 300 s otherwise).

Prints `PASS name` or `FAIL name: reason` per scenario (`SKIP name` for one that needs a newer
Wine than this one), then `N passed, M failed`; exits 1 on any failure (or when --filter matches
nothing). Screenshots go to out/e2e/ (out/e2e-wine10/ under TONALIS_WINE=10).
"""

import argparse
import importlib.util
import inspect
import signal
import sys
import time
import traceback
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402

DEFAULT_TIMEOUT = 300


def discover(filter_text):
    found = []
    for path in sorted(HERE.glob("test_*.py")):
        location = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(location)
        location.loader.exec_module(module)
        funcs = [f for name, f in vars(module).items() if name.startswith("test_") and callable(f)]
        funcs.sort(key=lambda f: inspect.unwrap(f).__code__.co_firstlineno if hasattr(inspect.unwrap(f), "__code__") else 0)
        for f in funcs:
            name = f"{path.stem}::{f.__name__}"
            if not filter_text or filter_text in name:
                found.append((name, f))
    return found


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--filter", default="", help="run only scenarios whose file::function name contains this")
    ap.add_argument("-v", "--verbose", action="store_true", help="print the traceback of each failure")
    args = ap.parse_args()

    # A terminated run still tears its servers down (with-blocks and atexit run on SystemExit).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    scenarios = discover(args.filter)
    if not scenarios:
        print(f"no scenarios match {args.filter!r}")
        print("0 passed, 0 failed")
        return 1
    passed = failed = 0
    for name, fn in scenarios:
        needs = getattr(fn, "e2e_wine", None)
        if needs and harness.WINE < needs:
            print(f"SKIP {name} (needs Wine {needs}; this is Wine {harness.WINE})", flush=True)
            continue
        start = time.monotonic()
        timeout = getattr(fn, "e2e_timeout", None)
        try:
            if timeout is None:
                with harness.deadline(DEFAULT_TIMEOUT, name):
                    fn()
            else:
                fn()
        except Exception as e:  # noqa: BLE001 - every failure is reported the same way
            failed += 1
            reason = f"{type(e).__name__}: {e}".strip().replace("\n", " ")
            # Where in the scenario it failed: its own last line in the traceback.
            frames = [f for f in traceback.extract_tb(e.__traceback__) if f.name == fn.__name__]
            where = f" [line {frames[-1].lineno}: {frames[-1].line}]" if frames else ""
            print(f"FAIL {name}: {reason[:500]}{where[:200]} ({time.monotonic() - start:.1f} s)", flush=True)
            if args.verbose:
                traceback.print_exc()
        else:
            passed += 1
            print(f"PASS {name} ({time.monotonic() - start:.1f} s)", flush=True)
        finally:
            harness._stop_live_envs()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
