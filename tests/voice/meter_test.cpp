#include "voice/meter.h"
#include "voice_fixture.h"

#include <QCoreApplication>
#include <QEvent>

#include <map>
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

TEST(Dbfs, OneDecimalARealMinusAndMinusInfinityForNothing)
{
    const std::pair<double, const char *> cases[] = {
        {32768, "0.0"},     {32767, "0.0"},      {16384, "−6.0"}, {410, "−38.1"}, {1, "−90.3"},
        {0, "−∞"},          {-5, "−∞"},          {40000, "1.7"},
    };
    for (const auto &[level, text] : cases)
        EXPECT_EQ(dbfsText(level), QString::fromUtf8(text)) << level;
    EXPECT_DOUBLE_EQ(soundLine(1000, 0), 1000.0);
    EXPECT_NEAR(soundLine(1000, 6), 1995.26, 0.01);
    EXPECT_NEAR(soundLine(1000, -6), 501.19, 0.01);
    EXPECT_DOUBLE_EQ(soundLine(-1, 6), -1.995262314968879); // a negative threshold stays under silence
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

TEST_F(MeterTest, ThePeakAndTheThresholdReadInDbfs)
{
    form->SpinEdit1->setValue(410);
    handle({-16384});
    bar();
    EXPECT_EQ(form->Label16->text(), QStringLiteral("−6.0 dBFS"));
    EXPECT_EQ(form->Label15->text(), QStringLiteral("−38.1 dBFS"));
    form->SpinEdit1->setValue(0);
    form->pasueClick();
    bar();
    EXPECT_EQ(form->Label15->text(), QStringLiteral("−∞ dBFS"));
    EXPECT_TRUE(form->Label16->text().isEmpty()); // nothing is measured
}

// Columns of the bar's grab that carry the mark's colour.
std::vector<int> markColumns(const QImage &image)
{
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixelColor(x, image.height() / 2) == TProgressBar::kMarkColor)
            columns.push_back(x);
    return columns;
}

// Where the filled part of the bar ends: the first column of the middle row, after the
// chunk's start, that shows the empty groove's colour (taken near the right end).
int chunkEnd(const QImage &image)
{
    const int y = image.height() / 2;
    const QColor groove = image.pixelColor(image.width() - 4, y);
    int x = 4;
    while (x < image.width() && image.pixelColor(x, y) != groove)
        ++x;
    return x;
}

struct MarkCase
{
    const char *name;
    int threshold;
    int margin;
};

class MeterMark : public MeterTest, public testing::WithParamInterface<MarkCase>
{};

TEST_P(MeterMark, SitsWhereALevelAtTheThresholdPlusMarginFillsTheBarTo)
{
    const MarkCase &c = GetParam();
    form->SpinEdit1->setValue(c.threshold);
    form->SpinEdit4->setValue(c.margin);
    const std::int32_t line = std::int32_t(std::lround(soundLine(c.threshold, c.margin)));
    handle({std::int16_t(std::min(line, 32767))});
    bar();
    form->ProgressBar1->setMark(-1);
    const QImage filled = form->ProgressBar1->grab().toImage();
    form->Timer1Timer();
    const QImage marked = form->ProgressBar1->grab().toImage();
    const std::vector<int> columns = markColumns(marked);
    ASSERT_EQ(columns.size(), std::size_t(TProgressBar::kMarkWidth));
    EXPECT_TRUE(markColumns(filled).empty());
    // The bar keeps its linear position: the level at the line fills it up to the mark.
    EXPECT_NEAR(columns.front() + TProgressBar::kMarkWidth / 2, chunkEnd(filled), 2);
}

// The line at -38 + 6 dBFS, at half the scale (-6 dBFS = 16384), and at nearly all of it.
INSTANTIATE_TEST_SUITE_P(Meter, MeterMark,
                         testing::Values(MarkCase{"QuietRoomPlusSixDb", 410, 6},
                                         MarkCase{"MinusSixDbfs", 8211, 6}, MarkCase{"NoMargin", 16384, 0},
                                         MarkCase{"NearlyFullScale", 30000, 0}),
                         [](const testing::TestParamInfo<MarkCase> &info) { return std::string(info.param.name); });


// Counts the paint events each watched widget gets.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(std::initializer_list<QWidget *> widgets)
    {
        for (QWidget *w : widgets)
            w->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints[watched];
        return false;
    }
    std::map<QObject *, int> paints;
};

// The meter refreshes ten times a second for as long as voice control listens; the group box
// around it lays out and draws its caption on every paint, so it must not be repainted with it.
TEST_F(MeterTest, ARefreshRepaintsTheBarAndTheReadingButNotTheGroupAroundThem)
{
    form->show();
    QCoreApplication::processEvents();
    PaintCounter counter{form->GroupBox1, form->ProgressBar1, form->Label16};
    handle({std::int16_t(12000), std::int16_t(-3000)});
    form->Timer1Timer();
    QCoreApplication::processEvents();
    EXPECT_GT(counter.paints[form->ProgressBar1], 0);
    EXPECT_GT(counter.paints[form->Label16], 0);
    EXPECT_EQ(counter.paints[form->GroupBox1], 0);
}

} // namespace
