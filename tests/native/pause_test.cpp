#include "ui/pause.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A counter that advances by a fixed step at every reading, as a fake clock.
struct SteppingCounter {
    uint32_t now;
    uint32_t step;
    int readings = 0;
    uint32_t Read()
    {
        const uint32_t value = now;
        now += step;
        ++readings;
        return value;
    }
};

} // namespace

TEST(PauseFor, EndsAtTheFirstReadingThatIsLateEnoughAcrossTheWrap)
{
    struct Case { uint32_t start; uint32_t step; uint32_t milliseconds; uint32_t lastReading; int yields; };
    const Case cases[] = {
        {1000, 1, 200, 1200, 199},
        {0xFFFFFFF0u, 1, 200, 0xB8, 199},           // wraps during the pause
        {0xFFFFFF38u, 1, 200, 0, 199},              // ends exactly on the wrap
        {0xFFFFFFFFu, 7, 250, 0xFFFFFFFFu + 252u, 35},  // coarse ticks: first reading >= 250 later
        {0x7FFFFFF0u, 1, 32, 0x80000010u, 31},      // crossing the sign bit changes nothing
        {0xFFFFFFFAu, 1, 0, 0xFFFFFFFBu, 0},        // nothing to wait for
    };
    for (const Case& c : cases) {
        SteppingCounter counter{c.start, c.step};
        std::vector<uint32_t> seen;
        int yields = 0;
        PauseFor(c.milliseconds,
                 [&] { seen.push_back(counter.Read()); return seen.back(); },
                 [&] { ++yields; });
        EXPECT_EQ(seen.back(), c.lastReading) << std::hex << c.start;
        EXPECT_EQ(yields, c.yields) << std::hex << c.start;
        EXPECT_GE(static_cast<uint32_t>(seen.back() - c.start), c.milliseconds) << std::hex << c.start;
    }
}

TEST(PauseFor, YieldsBetweenEveryPairOfReadings)
{
    std::vector<char> calls;
    uint32_t now = 0xFFFFFFFEu;
    PauseFor(3, [&] { calls.push_back('t'); return now++; }, [&] { calls.push_back('y'); });
    EXPECT_EQ(std::string(calls.begin(), calls.end()), "ttytyt");
}
