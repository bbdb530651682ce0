#include "plot/ui/TPlotPanel.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/plot/PlotTestData.h"
#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

constexpr double kT0 = 45047.5;  // 2023-05-01 12:00:00
const QColor kPanel(240, 240, 240);

int CountColor(const QImage& img, const QRect& r, const QColor& c) {
    int n = 0;
    const QRect area = r.intersected(img.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (img.pixelColor(x, y) == c) ++n;
    return n;
}

int CountNot(const QImage& img, const QRect& r, const QColor& c) {
    const QRect area = r.intersected(img.rect());
    return area.width() * area.height() - CountColor(img, area, c);
}

std::vector<QPoint> DiffPixels(const QImage& a, const QImage& b) {
    std::vector<QPoint> out;
    if (a.size() != b.size()) return {QPoint(-1, -1)};
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) out.emplace_back(x, y);
    return out;
}

QRect PlotInterior(const PlotFrame& f) {
    return QRect(QPoint(f.PlotLeft() + 1, f.PlotTop() + 1),
                 QPoint(f.PlotRight() - 2, f.PlotBottom() - 2));
}

void Feed(TPlotPanel& p, int series, const std::vector<test::Sample>& data) {
    for (const auto& s : data) p.AddPoint(series, series, s.v, s.t);
}

// --- properties

TEST(TPlotPanelProps, DefaultsAtConstruction) {
    TPlotPanel p;
    EXPECT_EQ(p.size(), QSize(300, 200));
    EXPECT_EQ(p.GridColor(), QColor(Qt::black));
    EXPECT_EQ(p.BackColor(), QColor(Qt::white));
    EXPECT_EQ(p.PlotMode(), TPlotModes{pmLine});
    EXPECT_EQ(p.LayerOption(), false);
    EXPECT_EQ(p.XMarks(), false);
    EXPECT_EQ(p.YMarks(), false);
    EXPECT_EQ(p.XInterval(), 2.5);
    EXPECT_EQ(p.XAxisFmt(), "mm:ss");
    EXPECT_EQ(p.YInterval(), 1.0);
    EXPECT_EQ(p.Title(), "");
    EXPECT_EQ(p.Podpis(), "");
    EXPECT_EQ(p.SeriesCount(), 0);
    for (int i = 0; i < PlotModel::kSlots; ++i) {
        EXPECT_EQ(p.PointCount(i), 0);
        EXPECT_EQ(p.SeriesVisible(i), false);
    }
}

struct SetterCase {
    const char* name;
    std::function<void(TPlotPanel&)> set;
    bool redraws;
};

class Setters : public ::testing::TestWithParam<SetterCase> {};

TEST_P(Setters, RedrawOrNot) {
    TPlotPanel p;
    p.SetTitle("a");
    p.SetPodpis("b");
    const int before = p.RedrawCount();
    GetParam().set(p);
    EXPECT_EQ(p.RedrawCount() - before, GetParam().redraws ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Properties, Setters,
    ::testing::Values(
        SetterCase{"GridColor", [](TPlotPanel& p) { p.SetGridColor(Qt::red); }, true},
        SetterCase{"BackColor", [](TPlotPanel& p) { p.SetBackColor(Qt::red); }, true},
        SetterCase{"PlotMode", [](TPlotPanel& p) { p.SetPlotMode(pmDot); }, true},
        SetterCase{"XMarks", [](TPlotPanel& p) { p.SetXMarks(true); }, true},
        SetterCase{"YMarks", [](TPlotPanel& p) { p.SetYMarks(true); }, true},
        SetterCase{"XMarksFont",
                   [](TPlotPanel& p) {
                       p.SetXMarksFont({Tahoma13(), Qt::black});
                   },
                   true},
        SetterCase{"YMarksFont",
                   [](TPlotPanel& p) {
                       p.SetYMarksFont({Tahoma13(), Qt::black});
                   },
                   true},
        SetterCase{"TytulFont",
                   [](TPlotPanel& p) {
                       p.SetTytulFont({Tahoma13(), Qt::black});
                   },
                   true},
        SetterCase{"PodpisFont",
                   [](TPlotPanel& p) {
                       p.SetPodpisFont({Tahoma13(), Qt::black});
                   },
                   true},
        SetterCase{"XInterval", [](TPlotPanel& p) { p.SetXInterval(1); }, true},
        SetterCase{"YInterval", [](TPlotPanel& p) { p.SetYInterval(1); }, true},
        SetterCase{"TitleChanged", [](TPlotPanel& p) { p.SetTitle("c"); }, true},
        SetterCase{"TitleSame", [](TPlotPanel& p) { p.SetTitle("a"); }, false},
        SetterCase{"PodpisChanged", [](TPlotPanel& p) { p.SetPodpis("c"); }, true},
        SetterCase{"PodpisSame", [](TPlotPanel& p) { p.SetPodpis("b"); }, false},
        SetterCase{"PlotPen", [](TPlotPanel& p) { p.SetPlotPen(QPen(Qt::red, 3)); }, false},
        SetterCase{"XAxisFmt", [](TPlotPanel& p) { p.SetXAxisFmt("hh"); }, false},
        SetterCase{"LayerOption", [](TPlotPanel& p) { p.SetLayerOption(true); }, false},
        SetterCase{"SeriesVisible", [](TPlotPanel& p) { p.SetSeriesVisible(0, true); }, false},
        SetterCase{"ClearPlot", [](TPlotPanel& p) { p.ClearPlot(); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TPlotPanelProps, IntervalsAndFormatAreSanitisedWhenStored) {
    TPlotPanel p;
    p.SetXInterval(0);
    EXPECT_EQ(p.XInterval(), 0.001);
    p.SetXInterval(-3);
    EXPECT_EQ(p.XInterval(), 0.001);
    p.SetYInterval(0);
    EXPECT_EQ(p.YInterval(), 1.0);
    p.SetYInterval(-2);
    EXPECT_EQ(p.YInterval(), -2.0);
    p.SetXAxisFmt(std::string(300, 'h'));
    EXPECT_EQ(p.XAxisFmt().size(), 255u);
}

TEST(TPlotPanelProps, FullRedrawWithDataReplacesStepsAndFormat) {
    TPlotPanel p;
    p.resize(600, 300);
    p.SetSeriesVisible(0, true);
    p.AddPoint(0, 0, 0, kT0);
    p.AddPoint(0, 0, 3, kT0 + 2.0 / 24);
    p.Redraw();
    EXPECT_EQ(p.XAxisFmt(), "hh:nn");
    EXPECT_DOUBLE_EQ(p.XInterval(), 600.0 / 86400);
    EXPECT_DOUBLE_EQ(p.YInterval(), 0.25);
}

TEST(TPlotPanelProps, AddPointSetsThePenColourAndRejectsForeignSeries) {
    TPlotPanel p;
    EXPECT_TRUE(p.AddPoint(3, 3, 1, kT0));
    EXPECT_EQ(p.PlotPen().color(), QColor(0, 0, 128));
    EXPECT_FALSE(p.AddPoint(0, 11, 1, kT0));
    EXPECT_EQ(p.PointCount(11), 0);
}

TEST(TPlotPanelProps, MainWindowConfiguration) {
    TPlotPanel p;
    ConfigureMainWindowChart(p);
    EXPECT_EQ(p.GridColor(), QColor(0, 128, 0));
    EXPECT_EQ(p.PlotPen().width(), 3);
    EXPECT_EQ(p.PlotPen().color(), QColor(128, 0, 128));
    EXPECT_EQ(p.Title(), "zmiany w czasie");
    EXPECT_EQ(p.XAxisFmt(), "hh:nn:ss");
    EXPECT_TRUE(p.XMarks());
    EXPECT_TRUE(p.YMarks());
    EXPECT_EQ(p.PodpisFont().font.pixelSize(), 13);
    EXPECT_EQ(p.PodpisFont().color, QColor(0, 102, 204));
    // Wine's Tahoma stands in where the real one is missing.
    if (QFile::exists("/usr/share/wine/fonts/tahoma.ttf")) {
        EXPECT_EQ(QFontInfo(p.TytulFont().font).family(), "Tahoma");
    }
    // Tahoma or its stand-in must carry the Polish letters.
    const QFontMetrics fm(p.TytulFont().font);
    EXPECT_TRUE(fm.inFont(QChar(0x0142)));  // ł
    EXPECT_TRUE(fm.inFont(QChar(0x015B)));  // ś
}

// --- rendering

TEST(TPlotPanelRender, EmptyChartShowsOnlyFramePlotTitleAndCaption) {
    TPlotPanel p;
    ConfigureMainWindowChart(p);
    p.resize(500, 300);
    p.SetPodpis(Cp("podpis wykresu ąę"));
    p.SetSeriesVisible(0, true);  // visible but empty
    p.Redraw();
    const QImage& img = p.PlotBMP();
    const PlotFrame& f = p.Frame();
    EXPECT_TRUE(f.ranges.Empty());
    // White plot, a green outline, no grid and no points.
    EXPECT_EQ(CountNot(img, PlotInterior(f), Qt::white), 0);
    const QRect outline(QPoint(f.PlotLeft(), f.PlotTop()),
                        QPoint(f.PlotRight() - 1, f.PlotBottom() - 1));
    EXPECT_EQ(
        CountColor(img, QRect(outline.topLeft(), QSize(outline.width(), 1)), QColor(0, 128, 0)),
        outline.width());
    EXPECT_EQ(
        CountColor(img, QRect(outline.bottomLeft(), QSize(outline.width(), 1)), QColor(0, 128, 0)),
        outline.width());
    // Title above, caption below, nothing else on the panel.
    EXPECT_GT(CountNot(img, QRect(0, 2, img.width(), f.PlotTop() - 2), kPanel), 20);
    const int captionTop = f.height - QFontMetrics(p.PodpisFont().font).height() - 4;
    EXPECT_GT(CountColor(img, QRect(0, captionTop, img.width(), 30), QColor(0, 102, 204)), 0);
    EXPECT_EQ(
        CountNot(img, QRect(QPoint(2, f.PlotBottom()), QPoint(img.width() - 1, captionTop - 1)),
                 kPanel),
        0);
    EXPECT_EQ(
        CountNot(img, QRect(QPoint(2, f.PlotTop()), QPoint(f.PlotLeft() - 1, f.PlotBottom() - 1)),
                 kPanel),
        0);
}

struct ModeCase {
    const char* name;
    TPlotModes mode;
};

class SeriesPixelsAppear : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SeriesPixelsAppear, InItsColourWhereTheMappingPutsThem) {
    TPlotPanel p;
    p.resize(400, 300);
    p.SetPlotMode(GetParam().mode);
    p.SetSeriesVisible(2, true);
    const std::vector<test::Sample> pts = {
        {kT0, 1}, {kT0 + 0.25, 8}, {kT0 + 0.5, -3}, {kT0 + 1, 4}};
    Feed(p, 2, pts);
    p.Redraw();
    const PlotFrame& f = p.Frame();
    const QColor red(255, 0, 0);
    for (const auto& s : pts) {
        EXPECT_EQ(p.PlotBMP().pixelColor(f.Px(s.t), f.Py(s.v)), red) << s.t << " " << s.v;
    }
    // Nothing of the series outside the plot but its name mark (none here).
    QImage outside = p.PlotBMP().copy();
    {
        QPainter wipe(&outside);
        wipe.fillRect(
            QRect(QPoint(f.PlotLeft(), f.PlotTop()), QPoint(f.PlotRight() - 1, f.PlotBottom() - 1)),
            Qt::white);
    }
    EXPECT_EQ(CountColor(outside, outside.rect(), red), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, SeriesPixelsAppear,
                         ::testing::Values(ModeCase{"Line", pmLine}, ModeCase{"Dot", pmDot},
                                           ModeCase{"Bar", pmBar},
                                           ModeCase{"DotLine", pmDot | pmLine}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TPlotPanelRender, BarsRunFromTheZeroRow) {
    TPlotPanel p;
    p.resize(400, 300);
    p.SetPlotMode(pmBar);
    p.SetSeriesVisible(0, true);
    Feed(p, 0, {{kT0, -2}, {kT0 + 0.5, 6}, {kT0 + 1, 2}});
    p.Redraw();
    const PlotFrame& f = p.Frame();
    const int x = f.Px(kT0 + 0.5);
    EXPECT_EQ(
        CountColor(p.PlotBMP(), QRect(x, f.Py(6), 1, f.Py(0) - f.Py(6) + 1), QColor(0, 128, 0)),
        f.Py(0) - f.Py(6) + 1);
}

TEST(TPlotPanelRender, SeriesNameIsWrittenInTheColourOfItsLastPoint) {
    TPlotPanel p;
    p.resize(400, 300);
    p.SetSeriesVisible(1, true);
    p.SetSeriesName(1, "B");
    Feed(p, 1, {{kT0, 1}, {kT0 + 1, 2}});
    p.Redraw();
    const QRect mark(p.PlotBMP().width() - 10, 15 + 2, 10, 15);
    EXPECT_GT(CountColor(p.PlotBMP(), mark, QColor(0, 0, 255)), 3);
}

TEST(TPlotPanelRender, WideValueLabelsWidenTheLeftMarginAtTheNextRedraw) {
    TPlotPanel p;
    ConfigureMainWindowChart(p);
    p.resize(600, 400);
    p.SetSeriesVisible(0, true);
    Feed(p, 0, {{kT0, 1000.5}, {kT0 + 0.1, 1003.75}});
    p.Redraw();
    EXPECT_EQ(p.Frame().left, 22);
    p.Redraw();
    EXPECT_GT(p.Frame().left, 22);
    const int widened = p.Frame().left;
    p.Redraw();
    EXPECT_EQ(p.Frame().left, widened);
}

// A paint draws the chart as it now stands: the pen width sets the insets,
// the panel's font the room for the title.
TEST(TPlotPanelRender, PaintAfterAPenOrFontChangeUsesIt) {
    TPlotPanel p;
    p.resize(400, 300);
    p.SetTitle("zmiany w czasie");
    p.SetSeriesVisible(0, true);
    Feed(p, 0, {{kT0, 1}, {kT0 + 0.1, 2}});
    p.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&p));
    p.repaint();
    ASSERT_EQ(p.Frame().penWidth, 1);

    p.SetPlotPen(QPen(Qt::black, 5));
    EXPECT_EQ(p.Frame().penWidth, 1);  // the setter itself does not redraw
    p.repaint();
    EXPECT_EQ(p.Frame().penWidth, 5);

    QFont big = p.font();
    big.setPixelSize(40);
    p.setFont(big);
    p.repaint();
    EXPECT_EQ(p.Frame().top, TopMargin(true, QFontMetrics(big).height()));
}

TEST(TPlotPanelRender, XAxisFmtRepaintsOnlyTheLabelStrip) {
    TPlotPanel p;
    ConfigureMainWindowChart(p);
    p.resize(600, 400);
    p.SetSeriesVisible(0, true);
    Feed(p, 0, {{kT0, 1}, {kT0 + 2.0 / 24, 2}});
    p.Redraw();
    const QImage before = p.PlotBMP().copy();
    const int redraws = p.RedrawCount();
    p.SetXAxisFmt("hh");
    EXPECT_EQ(p.XAxisFmt(), "hh");
    EXPECT_EQ(p.RedrawCount(), redraws);
    const int stripTop = 400 - p.Frame().bottom;
    const int stripBottom = 400 - 15;  // exclusive
    int inside = 0;
    for (const QPoint& d : DiffPixels(before, p.PlotBMP())) {
        EXPECT_GE(d.y(), stripTop);
        EXPECT_LT(d.y(), stripBottom);
        ++inside;
    }
    EXPECT_GT(inside, 0);
}

TEST(TPlotPanelRender, AControlTooSmallForItsMarginsStillDraws) {
    for (QSize size : {QSize(10, 10), QSize(1, 1), QSize(60, 30)}) {
        TPlotPanel p;
        ConfigureMainWindowChart(p);
        p.SetPlotMode(pmDot | pmLine | pmBar);
        p.resize(size);
        p.SetSeriesVisible(0, true);
        Feed(p, 0, test::RandomWalk(500, kT0, 10, 1));
        p.Redraw();
        EXPECT_EQ(p.PlotBMP().width(), std::max(1, size.width() - 2));
    }
}

TEST(TPlotPanelRender, MouseDownReportsTheButtonAndPosition) {
    TPlotPanel p;
    std::vector<int> got;
    QObject::connect(&p, &TPlotPanel::MouseDown, [&](Qt::MouseButton b, int x, int y) {
        got = {static_cast<int>(b), x, y};
    });
    QTest::mouseClick(&p, Qt::RightButton, {}, QPoint(40, 50));
    EXPECT_EQ(got, (std::vector<int>{static_cast<int>(Qt::RightButton), 40, 50}));
}

// --- column reduction against drawing every point

struct DataCase {
    const char* name;
    std::function<std::vector<test::Sample>()> make;
};

std::vector<DataCase> DataSets() {
    return {
        {"RandomWalk", [] { return test::RandomWalk(60000, kT0, 1, 11); }},
        {"Spikes", [] { return test::Spikes(60000, kT0, 1, 12); }},
        {"FlatRuns", [] { return test::FlatRuns(60000, kT0, 1, 13); }},
        {"FewPointsPerColumn", [] { return test::RandomWalk(700, kT0, 1, 14); }},
        {"ClockSetBack",
         [] {
             auto d = test::RandomWalk(60000, kT0, 1, 15);
             for (std::size_t i = 40000; i < d.size(); ++i) d[i].t -= 3600 * test::kDaySec;
             return d;
         }},
        {"LongWithGaps",
         [] {
             auto d = test::RandomWalk(300000, kT0, 1, 16);
             for (std::size_t i = 0; i < d.size(); ++i)
                 d[i].t += static_cast<double>(i / 50000) * 7200 * test::kDaySec;
             return d;
         }},
    };
}

class ColumnReduction : public ::testing::TestWithParam<DataCase> {
protected:
    QImage Render(bool reduce, bool stamped, int penWidth) {
        TPlotPanel p;
        p.resize(640, 420);
        p.SetPrecision(100);
        p.SetPlotPen(QPen(Qt::black, penWidth));
        p.SetColumnReduction(reduce);
        p.SetStampedLines(stamped);
        const auto data = GetParam().make();
        for (int s = 0; s < 2; ++s) {
            p.SetSeriesVisible(s, true);
            for (const auto& d : data) p.AddPoint(s, s, d.v + 5 * s, d.t);
        }
        p.Redraw();
        return p.PlotBMP().copy();
    }
};

TEST_P(ColumnReduction, OnePixelPenGivesTheSamePicture) {
    const QImage all = Render(false, true, 1);
    const QImage reduced = Render(true, true, 1);
    EXPECT_EQ(DiffPixels(all, reduced).size(), 0u);
}

TEST_P(ColumnReduction, ThreePixelPenGivesTheSamePicture) {
    const QImage all = Render(false, true, 3);
    const QImage reduced = Render(true, true, 3);
    EXPECT_EQ(DiffPixels(all, reduced).size(), 0u);
}

const QPoint kAround[] = {QPoint(1, 0), QPoint(-1, 0),  QPoint(0, 1),  QPoint(0, -1),
                          QPoint(1, 1), QPoint(-1, -1), QPoint(1, -1), QPoint(-1, 1)};

// On a border between colours (a line and the background, or two lines).
bool EdgePixel(const QImage& img, QPoint p) {
    for (QPoint d : kAround)
        if (img.rect().contains(p + d) && img.pixel(p + d) != img.pixel(p)) return true;
    return false;
}

TEST_P(ColumnReduction, ThreePixelPenAgainstThePaintersPenDiffersOnlyInScatteredEdgePixels) {
    const QImage painter = Render(false, false, 3);  // every point, the painter's round pen
    const QImage fast = Render(true, true, 3);
    const auto diff = DiffPixels(painter, fast);
    const int inked = CountNot(painter, painter.rect(), Qt::white);
    // Mostly the corners of joins and caps, where a round brush and the
    // painter's curve approximation disagree.
    EXPECT_LE(static_cast<int>(diff.size()), inked * 8 / 100) << "of " << inked;
    // Every difference lies on a border, and none is walled in by others.
    int notEdge = 0;
    int clustered = 0;
    std::set<std::pair<int, int>> differs;
    for (const QPoint& d : diff) differs.emplace(d.x(), d.y());
    for (const QPoint& d : diff) {
        if (!EdgePixel(painter, d) && !EdgePixel(fast, d)) ++notEdge;
        int around = 0;
        for (QPoint o : kAround) around += differs.count({d.x() + o.x(), d.y() + o.y()});
        if (around == 8) ++clustered;
    }
    EXPECT_EQ(notEdge, 0);
    EXPECT_EQ(clustered, 0);
}

INSTANTIATE_TEST_SUITE_P(Sets, ColumnReduction, ::testing::ValuesIn(DataSets()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- coalesced redraws

TEST(TPlotPanelCoalescing, ABurstOfPointsCostsOneRedrawPerTurn) {
    TPlotPanel p;
    ConfigureMainWindowChart(p);
    p.resize(600, 400);
    p.SetSeriesVisible(0, true);
    const int before = p.RedrawCount();
    for (const auto& s : test::RandomWalk(5000, kT0, 10, 3)) p.AddPoint(0, 0, s.v, s.t);
    EXPECT_EQ(p.RedrawCount(), before);
    ASSERT_TRUE(test::WaitFor([&] {
        QApplication::processEvents();
        return !p.RedrawPending();
    }));
    EXPECT_GE(p.RedrawCount() - before, 1);
    EXPECT_LE(p.RedrawCount() - before, 2);  // a second one only when the margin grew
}

TEST(TPlotPanelCoalescing, HiddenSeriesCostNoRedraw) {
    TPlotPanel p;
    const int before = p.RedrawCount();
    for (const auto& s : test::RandomWalk(1000, kT0, 10, 3)) p.AddPoint(0, 0, s.v, s.t);
    QApplication::processEvents();
    EXPECT_FALSE(p.RedrawPending());
    EXPECT_EQ(p.RedrawCount(), before);
}

TEST(TPlotPanelCoalescing, PictureAfterTheTurnEqualsARedrawPerPoint) {
    const auto data = test::DayOfChannel(0, kT0, 300, 5);
    TPlotPanel coalesced;
    TPlotPanel perPoint;
    for (TPlotPanel* p : {&coalesced, &perPoint}) {
        ConfigureMainWindowChart(*p);
        p->resize(600, 400);
        p->SetSeriesVisible(0, true);
        p->SetSeriesName(0, "A");
    }
    for (const auto& s : data) {
        perPoint.AddPoint(0, 0, s.v, s.t);
        perPoint.Redraw();
    }
    perPoint.FlushPendingRedraw();
    for (const auto& s : data) coalesced.AddPoint(0, 0, s.v, s.t);
    ASSERT_TRUE(test::WaitFor([&] {
        QApplication::processEvents();
        return !coalesced.RedrawPending();
    }));
    EXPECT_EQ(coalesced.Frame().left, perPoint.Frame().left);
    EXPECT_EQ(DiffPixels(coalesced.PlotBMP(), perPoint.PlotBMP()).size(), 0u);
}

TEST(TPlotPanelCoalescing, PixelToValueSeesPointsAddedThisTurn) {
    TPlotPanel p;
    p.resize(600, 400);
    p.SetSeriesVisible(0, true);
    p.AddPoint(0, 0, 10, kT0);
    p.AddPoint(0, 0, 20, kT0 + 1);
    double value = 0;
    double time = 0;
    const int x = 22 + 2 + (600 - 44 - 4) / 2;
    ASSERT_TRUE(p.PixelToValue(x, 200, value, time));
    EXPECT_NEAR(time, kT0 + 0.5, 0.01);
    EXPECT_GT(value, 10);
    EXPECT_LT(value, 20);
    EXPECT_FALSE(p.PixelToValue(5, 5, value, time));
}

}  // namespace
}  // namespace pom
