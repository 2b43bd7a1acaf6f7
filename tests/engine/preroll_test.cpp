#include "engine/preroll.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace {

// 10 ms at 1000 frames a second of 4-byte frames: room for 10 frames, 40 bytes.
constexpr std::uint32_t kMs = 10;
constexpr std::uint32_t kRate = 1000;
constexpr std::size_t kFrame = 4;

std::vector<char> frames(int first, int count)
{
    std::vector<char> bytes;
    for (int f = first; f < first + count; ++f)
        bytes.insert(bytes.end(), kFrame, char(f));
    return bytes;
}

std::vector<char> drained(TPreRollRing &ring)
{
    std::vector<char> out;
    ring.Drain([&](const char *data, std::size_t size) { out.insert(out.end(), data, data + size); });
    return out;
}

struct PushCase
{
    const char *name;
    std::vector<int> pushes; // frames per push, numbered on from 0
    int keptFrom;            // the oldest frame the ring still holds
    int keptTo;              // one past the newest
};

class RingPushes : public testing::TestWithParam<PushCase>
{};

TEST_P(RingPushes, KeepTheNewestFramesInOrder)
{
    TPreRollRing ring;
    ring.Reset(kMs, kRate, kFrame);
    int next = 0;
    for (int n : GetParam().pushes) {
        const std::vector<char> bytes = frames(next, n);
        ring.Push(bytes.data(), bytes.size());
        next += n;
    }
    const int kept = GetParam().keptTo - GetParam().keptFrom;
    EXPECT_EQ(ring.Bytes(), std::size_t(kept) * kFrame);
    EXPECT_EQ(ring.Milliseconds(), std::uint32_t(kept));
    EXPECT_EQ(drained(ring), frames(GetParam().keptFrom, kept));
    EXPECT_EQ(ring.Bytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    PreRoll, RingPushes,
    testing::Values(PushCase{"BelowCapacity", {3, 4}, 0, 7}, PushCase{"ExactlyFull", {10}, 0, 10},
                    PushCase{"WrapsOnce", {6, 6}, 2, 12}, PushCase{"WrapsManyTimes", {7, 7, 7, 7}, 18, 28},
                    PushCase{"OnePushLargerThanTheRing", {2, 25}, 17, 27},
                    PushCase{"AfterALargePushSmallOnesWrap", {25, 3}, 18, 28}),
    [](const testing::TestParamInfo<PushCase> &info) { return std::string(info.param.name); });

TEST(PreRollRing, TakesOnlyWholeFramesAndNothingWhenOff)
{
    TPreRollRing ring;
    ring.Reset(kMs, kRate, kFrame);
    const std::vector<char> bytes = frames(0, 3);
    ring.Push(bytes.data(), bytes.size() - 1); // the last frame is cut short
    EXPECT_EQ(drained(ring), frames(0, 2));

    ring.Reset(0, kRate, kFrame);
    ring.Push(bytes.data(), bytes.size());
    EXPECT_EQ(ring.Bytes(), 0u);
    EXPECT_TRUE(drained(ring).empty());
}

TEST(PreRollRing, AResizeKeepsWhatIsHeldOrItsNewestPart)
{
    TPreRollRing ring;
    ring.Reset(kMs, kRate, kFrame);
    const std::vector<char> wrapped = frames(0, 14); // wrapped: holds 4..13
    ring.Push(wrapped.data(), wrapped.size());
    ring.Resize(20);
    EXPECT_EQ(ring.Capacity(), 20u);
    const std::vector<char> more = frames(14, 6);
    ring.Push(more.data(), more.size());
    EXPECT_EQ(drained(ring), frames(4, 16));

    ring.Push(wrapped.data(), wrapped.size());
    ring.Resize(5);
    EXPECT_EQ(drained(ring), frames(9, 5));
}

} // namespace
