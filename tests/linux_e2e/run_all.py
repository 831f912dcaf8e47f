#!/usr/bin/env python3
"""Runs the native Linux program's end-to-end scenarios (test_* functions in this folder's
test_*.py files), with the same runner and output as tests/e2e/run_all.py."""

import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
sys.path.insert(0, str(HERE))

import run_all  # noqa: E402

run_all.HERE = HERE

if __name__ == "__main__":
    sys.exit(run_all.main())
