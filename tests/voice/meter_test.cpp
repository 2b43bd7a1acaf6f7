#include "voice/meter.h"
#include "voice_fixture.h"

#include <vector>

namespace {

struct BarCase
{
    const char *name;
    std::int32_t level;
    int position;
};

class BarPosition : public testing::TestWithParam<BarCase>
{};

TEST_P(BarPosition, RoundsHalvesToEven)
{
    EXPECT_EQ(meterPosition(GetParam().level), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(Meter, BarPosition,
                         testing::Values(BarCase{"Silence", 0, 0}, BarCase{"Half", 16384, 50},
                                         BarCase{"TieDownTo12", 4096, 12}, BarCase{"TieUpTo38", 12288, 38},
                                         BarCase{"TieDownTo62", 20480, 62}, BarCase{"TieUpTo88", 28672, 88},
                                         BarCase{"JustBelowHalfAStep", 163, 0},
                                         BarCase{"JustAboveHalfAStep", 164, 1},
                                         BarCase{"LargestPositive", 32767, 100}, BarCase{"Full", 32768, 100}),
                         [](const testing::TestParamInfo<BarCase> &info) { return std::string(info.param.name); });

TEST(MeasureSamples, FindsTheExtremesAndTheLargestMagnitude)
{
    const std::vector<std::int16_t> mixed{100, -20000, 15000, 0};
    const SamplePeak p = measureSamples(mixed.data(), std::int32_t(mixed.size()));
    EXPECT_EQ(p.lo, -20000);
    EXPECT_EQ(p.hi, 15000);
    EXPECT_EQ(p.level, 20000);

    const std::vector<std::int16_t> lowest{-32768, 5};
    EXPECT_EQ(measureSamples(lowest.data(), 2).level, 32768);
    // The first sample counts on its own as well: one sample, or the extreme in front.
    EXPECT_EQ(measureSamples(lowest.data(), 1).level, 32768);
    const std::vector<std::int16_t> positive{300, 700, 200};
    const SamplePeak q = measureSamples(positive.data(), 3);
    EXPECT_EQ(q.lo, 200);
    EXPECT_EQ(q.level, 700);
    EXPECT_EQ(measureSamples(positive.data(), 0).level, 0);
}

class MeterTest : public VoiceTest
{
protected:
    void SetUp() override
    {
        VoiceTest::SetUp();
        ASSERT_TRUE(form->AudioIn1->StartCapture(form->AudioIn1));
    }

    void handle(std::vector<std::int16_t> samples)
    {
        std::int32_t size = std::int32_t(samples.size() * 2);
        const std::int32_t given = size;
        EXPECT_TRUE(form->AudioIn1BufferFilled(samples.data(), size));
        EXPECT_EQ(size, given);
    }

    int bar()
    {
        form->Timer1Timer();
        return form->ProgressBar1->value();
    }
};

TEST_F(MeterTest, ZerosGiveNoLevelAndAnEmptyBar)
{
    form->FLevel = 999;
    handle(std::vector<std::int16_t>(2048, 0));
    EXPECT_EQ(form->FLevel, 0);
    EXPECT_EQ(bar(), 0);
}

TEST_F(MeterTest, TheLowestSampleFillsTheBar)
{
    handle({0, -32768, 10});
    EXPECT_EQ(form->FLevel, 32768);
    EXPECT_EQ(bar(), 100);
    EXPECT_EQ(form->FMaxSample, 32768);
}

TEST_F(MeterTest, TheNextMeterTickRaisesTheHighestToTheLowestsMagnitude)
{
    handle({-20000, 0, 15000});
    EXPECT_EQ(form->FLevel, 20000);
    EXPECT_EQ(form->FMinSample, -20000);
    EXPECT_EQ(form->FMaxSample, 15000);
    EXPECT_EQ(bar(), 61);
    EXPECT_EQ(form->FMaxSample, 20000);
}

TEST_F(MeterTest, PositiveSamplesLeaveTheLowestAlone)
{
    handle({-500, 100});
    handle({100, 900, 300});
    EXPECT_EQ(form->FMinSample, -500);
    EXPECT_EQ(form->FMaxSample, 900);
    EXPECT_EQ(form->FLevel, 900);
}

TEST_F(MeterTest, OnlyWholeSamplesAreRead)
{
    std::vector<std::int16_t> samples{400, 30000};
    std::int32_t size = 3; // one whole sample and a stray byte
    EXPECT_TRUE(form->AudioIn1BufferFilled(samples.data(), size));
    EXPECT_EQ(form->FLevel, 400);
    size = 1;
    EXPECT_TRUE(form->AudioIn1BufferFilled(samples.data(), size));
    EXPECT_EQ(form->FLevel, 400);
}

TEST_F(MeterTest, TheTickPeakKeepsTheLoudestBufferWhileTheLevelFollowsTheLast)
{
    handle({9000});
    handle({-12000});
    handle({50});
    EXPECT_EQ(form->FLevel, 50);
    EXPECT_EQ(form->FTickPeak, 12000);
    EXPECT_EQ(bar(), 0);
}

TEST_F(MeterTest, AStoppedMonitorShowsAnEmptyBarAndForgetsItsLevel)
{
    handle({16384});
    EXPECT_EQ(bar(), 50);
    form->pasueClick(); // stops the monitor, as a pause does
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_EQ(bar(), 0);
    EXPECT_EQ(form->FLevel, 0);
    EXPECT_EQ(form->FTickPeak, 0);
}

TEST_F(MeterTest, TheEnvironmentTestShowsTheLoudestSoFarUntilItStops)
{
    form->AudioIn1->StopNow();
    click(form->Button1);
    ASSERT_EQ(form->Button1->text(), QStringLiteral("停止"));
    ASSERT_TRUE(form->AudioIn1->Capturing);
    handle({2000});
    bar();
    EXPECT_EQ(form->SpinEdit1->Value(), 2000);
    handle({-3000});
    bar();
    EXPECT_EQ(form->SpinEdit1->Value(), 3000);
    handle({1000});
    bar();
    EXPECT_EQ(form->SpinEdit1->Value(), 3000);
    // Louder, but after the last refresh: it never reaches the field.
    handle({9000});
    click(form->Button1);
    EXPECT_EQ(form->Button1->text(), QStringLiteral("声控测试"));
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_EQ(bar(), 0);
    EXPECT_EQ(form->SpinEdit1->Value(), 3000);
}

} // namespace
