#!/usr/bin/env python3
"""Runs the native Linux program's end-to-end scenarios (test_* functions in this folder's
test_*.py files), with the same runner and output as tests/e2e/run_all.py."""

import importlib.util
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
E2E = HERE.parent / "e2e"
sys.path.insert(0, str(E2E))
sys.path.insert(0, str(HERE))

location = importlib.util.spec_from_file_location("e2e_run_all", E2E / "run_all.py")
runner = importlib.util.module_from_spec(location)
location.loader.exec_module(runner)
runner.HERE = HERE

if __name__ == "__main__":
    sys.exit(runner.main())
