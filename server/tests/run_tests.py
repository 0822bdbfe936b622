"""Runs every server test and ends with the line "N passed, N failed"."""
import os
import sys
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)


def main():
    suite = unittest.defaultTestLoader.discover(here, pattern="test_*.py", top_level_dir=here)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    # A test with several failing subtests still counts once.
    failed = {getattr(t, "test_case", t).id() for t, _ in result.failures + result.errors}
    # A module or class skipped as a whole shows up as a holder that testsRun never counted.
    skipped = sum(isinstance(t, unittest.TestCase) for t, _ in result.skipped)
    passed = result.testsRun - skipped - len(failed)
    for test, reason in result.skipped:
        print("skipped %s: %s" % (test.id(), reason))
    print("%d passed, %d failed" % (passed, len(failed)))
    return 0 if not failed and result.testsRun else 1


if __name__ == "__main__":
    sys.exit(main())
