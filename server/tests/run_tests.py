"""Runs every server test and ends with the line "N passed, N failed"."""
import collections
import os
import sys
import time
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)


class TimedResult(unittest.TextTestResult):
    """Adds up the time per module, from the end of the test before to the end of each test: a
    module's set-up counts to it, its tear-down to the module after it."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.mark = time.monotonic()
        self.module_times = collections.Counter()

    def stopTest(self, test):
        super().stopTest(test)
        now = time.monotonic()
        self.module_times[type(test).__module__] += now - self.mark
        self.mark = now


def main():
    suite = unittest.defaultTestLoader.discover(here, pattern="test_*.py", top_level_dir=here)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout, resultclass=TimedResult).run(suite)
    print("slowest modules: " + ", ".join("%s %.0f s" % (m, t) for m, t in result.module_times.most_common(8)))
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
