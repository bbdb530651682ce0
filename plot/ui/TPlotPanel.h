#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plot/logic/PlotLayout.h"
#include "plot/logic/PlotModel.h"
#include "plot/logic/SeriesPixels.h"

class QRubberBand;

namespace pom {

// How points are drawn; the modes combine as a set.
enum TPlotMode : unsigned { pmDot = 1u, pmLine = 2u, pmBar = 4u };
using TPlotModes = unsigned;

// A font with its colour, as the chart's four fonts carry one each.
struct PlotFont {
    QFont font;
    QColor color = Qt::black;
};

// Makes "Tahoma" resolve: the real one, Wine's look-alike, or a sans font
// with the Polish letters. Safe to call more than once.
void EnsureTahomaFont();
// Tahoma with 13-pixel characters, the main window's chart font.
QFont Tahoma13();

// The chart control: up to 11 series of (time, value) points against a time
// axis, with automatic grid steps and labels, a title and a caption. Text
// properties hold Windows-1250 bytes.
// A drag across the chart with the left button zooms into the times it
// spanned; a double click goes back to every point.
class TPlotPanel : public QWidget {
    Q_OBJECT

public:
    explicit TPlotPanel(QWidget* parent = nullptr);
    ~TPlotPanel() override;

    // --- published properties; setters redraw as noted
    QColor GridColor() const { return gridColor_; }
    void SetGridColor(const QColor& c);  // redraws
    QColor BackColor() const { return backColor_; }
    void SetBackColor(const QColor& c);  // redraws
    TPlotModes PlotMode() const { return plotMode_; }
    void SetPlotMode(TPlotModes m);  // redraws
    // Its width sets the dot size and the insets; its colour follows AddPoint.
    const QPen& PlotPen() const { return plotPen_; }
    // No redraw; the next paint draws with it.
    void SetPlotPen(const QPen& p);
    bool LayerOption() const { return model_.LayerOption; }
    void SetLayerOption(bool v) { model_.LayerOption = v; }  // stored only
    const QImage& PlotBMP() const { return plotBmp_; }
    bool XMarks() const { return xMarks_; }
    void SetXMarks(bool v);  // redraws
    const PlotFont& XMarksFont() const { return xMarksFont_; }
    void SetXMarksFont(const PlotFont& f);  // redraws
    double XInterval() const;
    void SetXInterval(double v);  // not above 0 stored as 0.001; redraws
    const std::string& XAxisFmt() const;
    void SetXAxisFmt(const std::string& fmt);  // at most 255 bytes; repaints the label strip
    bool YMarks() const { return yMarks_; }
    void SetYMarks(bool v);  // redraws
    const PlotFont& YMarksFont() const { return yMarksFont_; }
    void SetYMarksFont(const PlotFont& f);  // redraws
    double YInterval() const;
    void SetYInterval(double v);  // 0 stored as 1.0; redraws
    const PlotFont& TytulFont() const { return tytulFont_; }
    void SetTytulFont(const PlotFont& f);  // redraws
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& t);  // redraws when it differs
    const PlotFont& PodpisFont() const { return podpisFont_; }
    void SetPodpisFont(const PlotFont& f);  // redraws
    const std::string& Podpis() const { return podpis_; }
    void SetPodpis(const std::string& t);  // redraws when it differs
    // The panel's own look.
    QColor Color() const { return panelColor_; }
    void SetColor(const QColor& c);
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int w);

    // --- series and points
    int SeriesCount() const { return model_.SeriesCount; }
    void SetSeriesCount(int n) { model_.SeriesCount = n; }
    std::string SeriesName(int i) const;
    void SetSeriesName(int i, const std::string& name);
    bool SeriesVisible(int i) const;
    // Only stores; the owner paints when it is done switching.
    void SetSeriesVisible(int i, bool v);
    int PointCount(int i) const;
    bool Averaging() const { return model_.Averaging; }
    void SetAveraging(bool v) { model_.Averaging = v; }
    double AvgWindow() const { return model_.AvgWindow; }
    void SetAvgWindow(double days) { model_.AvgWindow = days; }
    // Points older than this many days before a series' newest keep only
    // their blocks' extremes; not above 0 keeps every point.
    double FullResolutionDays() const { return model_.FullResolutionDays; }
    void SetFullResolutionDays(double days) { model_.FullResolutionDays = days; }
    int Precision() const { return model_.Precision(); }
    void SetPrecision(int p) { model_.SetPrecision(p); }
    const PlotModel& Model() const { return model_; }

    // Adds a point (time in days). A point on a visible series redraws the
    // chart once per event-loop turn, however many points the turn adds.
    // False for a series outside 0..10 or a value or time that is not finite.
    bool AddPoint(int colorIndex, int series, double value, double time);
    // Hides and empties every series and sets SeriesCount to 0; no redraw.
    void ClearPlot();
    // Full redraw into the off-screen bitmaps, then onto the screen.
    void Redraw();
    // The same, with a second pass into the bitmaps only when the value
    // labels needed a wider left margin; the screen gets one picture.
    void RedrawFitted();
    // The series over the plot area of the last full redraw.
    void DrawSeries();
    // Time and value under a control pixel; true only inside the data ranges.
    bool PixelToValue(int x, int y, double& value, double& time);

    // The geometry, ranges and scales of the last full redraw.
    const PlotFrame& Frame() const { return frame_; }
    // Series with more points than plot columns drawn from each column's
    // first, lowest, highest and last point (on by default).
    void SetColumnReduction(bool on) { columnReduction_ = on; }
    // Lines and bars of odd pen widths up to 15 written straight into the
    // bitmap with a round brush (on by default); off draws them with the
    // painter's wide pen.
    void SetStampedLines(bool on) { stampedLines_ = on; }
    // Both of the above; off is the slow reference that draws every point.
    void SetFastDrawing(bool on) { columnReduction_ = stampedLines_ = on; }
    // Runs a redraw that AddPoint left for the event loop, if any.
    void FlushPendingRedraw();
    bool RedrawPending() const { return redrawPending_; }
    // Full redraws done so far (tests and the benchmark count them).
    int RedrawCount() const { return redrawCount_; }
    // Their time together, and the longest since the last TakeLongestRedraw
    // (the soak benchmark samples them).
    std::int64_t RedrawNanoseconds() const { return redrawNs_; }
    std::int64_t TakeLongestRedraw() { return std::exchange(longestRedrawNs_, 0); }
    // Points taken by AddPoint so far, thinned or not.
    std::int64_t PointsAdded() const { return pointsAdded_; }

    // --- zoom
    // Shows [from, to] only; redraws. Full-resolution points that do not
    // cover the new view are dropped.
    void SetView(TimeSpan view);
    // Every point again; the full-resolution points go. Redraws.
    void ClearView();
    const std::optional<TimeSpan>& View() const { return model_.View(); }
    // Full-resolution points in place of the thinned ones inside `cover`
    // while the zoom lasts (PlotModel::SetOverlay); redraws when any series
    // took them. Returns how many did.
    int SetZoomPoints(PlotModel&& full, TimeSpan cover);

signals:
    // The user zoomed in (a drag) or out (a double click).
    void ViewChanged();
    // A mouse button went down on the chart (control coordinates), for the
    // owner's read-out through PixelToValue.
    void MouseDown(Qt::MouseButton button, int x, int y);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void RedrawAndShow();
    void Render();
    void RenderSeries();
    void DrawTimeLabels(QPainter& p);
    void DrawText(QPainter& p, const PlotFont& f, int x, int y, const std::string& text,
                  bool opaque);
    QRect FrameRect() const;
    QRect PlotRect() const;
    int PenWidth() const { return plotPen_.width(); }

    PlotModel model_;
    QColor gridColor_{Qt::black};
    QColor backColor_{Qt::white};
    QColor panelColor_{240, 240, 240};
    TPlotModes plotMode_ = pmLine;
    QPen plotPen_;
    bool xMarks_ = false;
    bool yMarks_ = false;
    PlotFont xMarksFont_, yMarksFont_, tytulFont_, podpisFont_;
    double xInterval_ = 2.5;
    double yInterval_ = 1.0;
    std::string xAxisFmt_ = "mm:ss";
    std::string title_, podpis_;
    int bevelWidth_ = 1;

    int left_ = kPlotMargin;
    int right_ = kPlotMargin;
    int top_ = kPlotMargin;
    int bottom_ = kPlotMargin;
    PlotFrame frame_;
    double firstTime_ = 0;
    double firstValue_ = 0;

    QImage plotBmp_;
    QImage seriesBmp_;
    bool dirty_ = true;
    bool redrawPending_ = false;
    bool columnReduction_ = true;
    bool stampedLines_ = true;
    int redrawCount_ = 0;
    std::int64_t redrawNs_ = 0;
    std::int64_t longestRedrawNs_ = 0;
    std::int64_t pointsAdded_ = 0;
    std::vector<PixelPoint> pixels_;
    std::vector<PixelPoint> run_;
    std::optional<QPoint> dragFrom_;
    QRubberBand* band_ = nullptr;
};

// The main window's chart: green grid on white, purple 3-pixel pen, both
// label rows, Tahoma 13 everywhere, the caption in the hot-light blue.
void ConfigureMainWindowChart(TPlotPanel& plot);

}  // namespace pom
