// The test program's entry. An entry whose every test skipped says so the way every skip
// of this project does: status 77, with the reason on one line that starts "SKIPPED:".
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

static const int Skipped = 77;

// The first reason a skipped test gave.
static std::string SkipReason(const ::testing::UnitTest& unit)
{
    for (int suite = 0; suite < unit.total_test_suite_count(); ++suite) {
        const ::testing::TestSuite& tests = *unit.GetTestSuite(suite);
        for (int index = 0; index < tests.total_test_count(); ++index) {
            const ::testing::TestResult& result = *tests.GetTestInfo(index)->result();
            for (int part = 0; part < result.total_part_count(); ++part) {
                if (result.GetTestPartResult(part).skipped()) {
                    return result.GetTestPartResult(part).message();
                }
            }
        }
    }
    return "no reason given";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    if (failed == 0 && unit.test_to_run_count() > 0 && unit.skipped_test_count() == unit.test_to_run_count()) {
        std::string reason = SkipReason(unit);
        for (char& character : reason) {
            character = character == '\n' ? ' ' : character;
        }
        std::printf("SKIPPED: %s\n", reason.c_str());
        return Skipped;
    }
    return failed;
}
