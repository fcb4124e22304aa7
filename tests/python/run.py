"""Runs one pytest file of the Python package's tests: `python3 run.py FILE`.

Exit status 77 (reported as skipped by ctest) when numpy or pytest is not
installed; otherwise pytest's own status.
"""

import os
import sys

try:
    import numpy  # noqa: F401
    import pytest
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

if __name__ == "__main__":
    sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", "--rootdir", os.path.dirname(os.path.abspath(__file__)),
                          *sys.argv[1:]]))
