#include "plot/ui/TPlotPanel.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QRubberBand>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "plot/logic/LineRaster.h"
#include "util/Cp1250.h"

namespace pom {

namespace {

// One flag each for all charts: they only stop recursion through paint events.
bool g_redrawing = false;
bool g_drawingSeries = false;

class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& flag_;
};

QString ToQ(const std::string& cp1250) {
    return QString::fromStdString(Cp1250ToUtf8(cp1250));
}

QColor SlotColor(int slot) {
    const Rgb c = kSeriesColors[static_cast<std::size_t>(SeriesColorSlot(slot))];
    return QColor(c.r, c.g, c.b);
}

// Character height of a font in pixels, as a negative font height gives it.
int FontHeight(const QFont& f) {
    return QFontInfo(f).pixelSize();
}

bool SlotInRange(int i) {
    return i >= 0 && i < PlotModel::kSlots;
}

}  // namespace

void EnsureTahomaFont() {
    static bool done = false;
    if (done) return;
    done = true;
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma"))) return;
    // Wine ships a Tahoma with the same metrics and the Polish letters, but
    // outside the folders fontconfig searches.
    for (const char* path :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf",
          "/usr/lib/wine/fonts/tahoma.ttf", "/usr/share/fonts/truetype/wine/tahoma.ttf"})
        QFontDatabase::addApplicationFont(QString::fromLatin1(path));
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans"),
                                                              QStringLiteral("Liberation Sans"),
                                                              QStringLiteral("Nimbus Sans")});
}

QFont Tahoma13() {
    EnsureTahomaFont();
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(13);
    return f;
}

TPlotPanel::TPlotPanel(QWidget* parent) : QWidget(parent) {
    EnsureTahomaFont();
    plotPen_ = QPen(Qt::black, 1);
    xMarksFont_.font = yMarksFont_.font = tytulFont_.font = podpisFont_.font = font();
    resize(300, 200);
}

TPlotPanel::~TPlotPanel() = default;

// --- properties

void TPlotPanel::SetGridColor(const QColor& c) {
    gridColor_ = c;
    RedrawAndShow();
}

void TPlotPanel::SetBackColor(const QColor& c) {
    backColor_ = c;
    RedrawAndShow();
}

void TPlotPanel::SetPlotMode(TPlotModes m) {
    plotMode_ = m;
    RedrawAndShow();
}

void TPlotPanel::SetPlotPen(const QPen& p) {
    // Its width moves the insets; a paint after this must not show the old ones.
    if (p.width() != plotPen_.width()) dirty_ = true;
    plotPen_ = p;
}

void TPlotPanel::SetXMarks(bool v) {
    xMarks_ = v;
    RedrawAndShow();
}

void TPlotPanel::SetXMarksFont(const PlotFont& f) {
    xMarksFont_ = f;
    RedrawAndShow();
}

double TPlotPanel::XInterval() const {
    return xInterval_;
}

void TPlotPanel::SetXInterval(double v) {
    xInterval_ = v > 0 ? v : 0.001;
    RedrawAndShow();
}

const std::string& TPlotPanel::XAxisFmt() const {
    return xAxisFmt_;
}

void TPlotPanel::SetXAxisFmt(const std::string& fmt) {
    const std::string f = fmt.substr(0, 255);
    if (f == xAxisFmt_) return;
    xAxisFmt_ = f;
    if (plotBmp_.isNull()) return;
    // Only the label strip under the plot changes.
    QPainter p(&plotBmp_);
    const QRect strip(QPoint(0, height() - bottom_), QPoint(width() - 1, height() - 15 - 1));
    p.fillRect(strip, panelColor_);
    if (xMarks_) DrawTimeLabels(p);
    p.end();
    update();
}

void TPlotPanel::SetYMarks(bool v) {
    yMarks_ = v;
    RedrawAndShow();
}

void TPlotPanel::SetYMarksFont(const PlotFont& f) {
    yMarksFont_ = f;
    RedrawAndShow();
}

double TPlotPanel::YInterval() const {
    return yInterval_;
}

void TPlotPanel::SetYInterval(double v) {
    yInterval_ = v == 0 ? 1.0 : v;
    RedrawAndShow();
}

void TPlotPanel::SetTytulFont(const PlotFont& f) {
    tytulFont_ = f;
    RedrawAndShow();
}

void TPlotPanel::SetTitle(const std::string& t) {
    if (t == title_) return;
    title_ = t;
    RedrawAndShow();
}

void TPlotPanel::SetPodpisFont(const PlotFont& f) {
    podpisFont_ = f;
    RedrawAndShow();
}

void TPlotPanel::SetPodpis(const std::string& t) {
    if (t == podpis_) return;
    podpis_ = t;
    RedrawAndShow();
}

void TPlotPanel::SetColor(const QColor& c) {
    panelColor_ = c;
    dirty_ = true;
    update();
}

void TPlotPanel::SetBevelWidth(int w) {
    bevelWidth_ = std::max(0, w);
    dirty_ = true;
    update();
}

// --- series

std::string TPlotPanel::SeriesName(int i) const {
    return SlotInRange(i) ? model_.Series(i).name : std::string();
}

void TPlotPanel::SetSeriesName(int i, const std::string& name) {
    if (!SlotInRange(i)) return;
    model_.Series(i).name = name;
    dirty_ = true;
}

bool TPlotPanel::SeriesVisible(int i) const {
    return SlotInRange(i) && model_.Series(i).visible;
}

void TPlotPanel::SetSeriesVisible(int i, bool v) {
    if (!SlotInRange(i)) return;
    model_.Series(i).visible = v;
    dirty_ = true;
}

int TPlotPanel::PointCount(int i) const {
    return SlotInRange(i) ? model_.Series(i).PointCount() : 0;
}

bool TPlotPanel::AddPoint(int colorIndex, int series, double value, double time) {
    if (model_.AddPoint(colorIndex, series, value, time) == PlotModel::AddResult::Rejected)
        return false;
    ++pointsAdded_;
    plotPen_.setColor(SlotColor(model_.PenSlot()));
    if (model_.Series(series).visible) {
        dirty_ = true;
        // A burst of readings costs one redraw, run when the event loop turns.
        if (!redrawPending_) {
            redrawPending_ = true;
            QMetaObject::invokeMethod(this, &TPlotPanel::FlushPendingRedraw, Qt::QueuedConnection);
        }
    }
    return true;
}

void TPlotPanel::FlushPendingRedraw() {
    if (!redrawPending_) return;
    redrawPending_ = false;
    RedrawFitted();
}

void TPlotPanel::RedrawFitted() {
    const int left = left_;
    Redraw();
    // A redraw per point would have made room for wider value labels already.
    if (left_ != left) Redraw();
}

void TPlotPanel::ClearPlot() {
    model_.ClearPlot();
    dirty_ = true;
}

bool TPlotPanel::PixelToValue(int x, int y, double& value, double& time) {
    FlushPendingRedraw();
    return frame_.PixelToValue(x, y, value, time);
}

// --- drawing

QRect TPlotPanel::FrameRect() const {
    const int b = 2 * bevelWidth_;
    return QRect(QPoint(b, b), QPoint(width() - b - 1, height() - b - 1));
}

QRect TPlotPanel::PlotRect() const {
    return QRect(QPoint(left_, top_), QPoint(width() - right_ - 1, height() - bottom_ - 1));
}

void TPlotPanel::Redraw() {
    RedrawAndShow();
}

void TPlotPanel::RedrawAndShow() {
    Render();
    update();
}

void TPlotPanel::DrawSeries() {
    RenderSeries();
    update();
}

void TPlotPanel::DrawText(QPainter& p, const PlotFont& f, int x, int y, const std::string& text,
                          bool opaque) {
    const QString s = ToQ(text);
    const QFontMetrics fm(f.font);
    if (opaque) p.fillRect(QRect(x, y, fm.horizontalAdvance(s), fm.height()), panelColor_);
    p.setFont(f.font);
    p.setPen(f.color);
    p.drawText(x, y + fm.ascent(), s);
}

void TPlotPanel::DrawTimeLabels(QPainter& p) {
    const QFontMetrics fm(xMarksFont_.font);
    const auto width = [&fm](const std::string& s) { return fm.horizontalAdvance(ToQ(s)); };
    for (const TextItem& t : TimeLabels(frame_, firstTime_, xInterval_, xAxisFmt_, width))
        DrawText(p, xMarksFont_, t.x, t.y, t.text, true);
}

void TPlotPanel::Render() {
    if (g_redrawing) return;
    const FlagGuard guard(g_redrawing);
    ++redrawCount_;
    // Timed whole, however it ends: the soak benchmark reads the totals.
    struct Timing {
        TPlotPanel& panel;
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        ~Timing() {
            const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count();
            panel.redrawNs_ += ns;
            panel.longestRedrawNs_ = std::max(panel.longestRedrawNs_, ns);
        }
    } timing{*this};
    const int w = width();
    const int h = height();

    top_ = TopMargin(!title_.empty(), QFontMetrics(font()).height());
    bottom_ = BottomMargin(xMarks_, FontHeight(xMarksFont_.font));
    frame_ = MakeFrame(w, h, PenWidth(), left_, right_, top_, bottom_, ComputeRanges(model_));

    const QSize plotSize(std::max(1, w - 2 * bevelWidth_), std::max(1, h - 2 * bevelWidth_));
    // Fresh bitmaps start in the panel colour: the bevel corners outside the
    // frame are never drawn on.
    if (plotBmp_.size() != plotSize) {
        plotBmp_ = QImage(plotSize, QImage::Format_RGB32);
        plotBmp_.fill(panelColor_);
    }
    if (seriesBmp_.size() != QSize(std::max(1, w), std::max(1, h))) {
        seriesBmp_ = QImage(std::max(1, w), std::max(1, h), QImage::Format_RGB32);
        seriesBmp_.fill(panelColor_);
    }

    QPainter p(&plotBmp_);
    p.fillRect(FrameRect(), panelColor_);
    const QRect plot = PlotRect();
    p.fillRect(plot, backColor_);
    p.setPen(QPen(gridColor_, 1));
    p.drawRect(plot.adjusted(0, 0, -1, -1));

    const ValueGrid vg = ComputeValueGrid(frame_);
    if (vg.step > 0) {
        yInterval_ = vg.step;
        firstValue_ = vg.first;
        for (int row : vg.rows) p.drawLine(left_, row, w - right_ - 1, row);
    }
    const TimeGrid tg = ComputeTimeGrid(frame_);
    if (tg.step > 0) {
        xInterval_ = tg.step;
        xAxisFmt_ = tg.format;
        firstTime_ = tg.first;
        for (int col : tg.columns) p.drawLine(col, top_, col, h - bottom_ - 1);
    }

    if (!title_.empty()) {
        const int tw = QFontMetrics(tytulFont_.font).horizontalAdvance(ToQ(title_));
        DrawText(p, tytulFont_, (w - tw) / 2, 2 * bevelWidth_ + kPlotMargin / 2, title_, true);
    }
    if (!podpis_.empty()) {
        const QFontMetrics fm(podpisFont_.font);
        const int tw = fm.horizontalAdvance(ToQ(podpis_));
        DrawText(p, podpisFont_, (w - tw) / 2, h - fm.height() - 4 * bevelWidth_, podpis_, true);
    }
    if (xMarks_) DrawTimeLabels(p);
    if (yMarks_) {
        const QFontMetrics fm(yMarksFont_.font);
        const auto width = [&fm](const std::string& s) { return fm.horizontalAdvance(ToQ(s)); };
        const ValueLabels labels =
            ComputeValueLabels(frame_, firstValue_, yInterval_, width, fm.height());
        for (const TextItem& t : labels.items) DrawText(p, yMarksFont_, t.x, t.y, t.text, true);
        // Takes effect at the next full redraw, as the plot is already laid out.
        left_ = labels.left;
    }
    p.end();

    QPainter sp(&seriesBmp_);
    sp.drawImage(plot, plotBmp_, plot);
    sp.end();
    RenderSeries();
    dirty_ = false;
}

void TPlotPanel::RenderSeries() {
    if (g_drawingSeries || seriesBmp_.isNull() || plotBmp_.isNull()) return;
    const FlagGuard guard(g_drawingSeries);
    const int w = PenWidth();
    const QRect plot =
        QRect(QPoint(frame_.left, frame_.top),
              QPoint(frame_.width - frame_.right - 1, frame_.height - frame_.bottom - 1));
    // A wide pen pays for every join and cap in the painter; a round brush
    // walked along the line costs only the pixels it writes.
    const bool stamped = stampedLines_ && w >= 1 && w <= 15 && w % 2 == 1;
    LineRaster raster({reinterpret_cast<std::uint32_t*>(seriesBmp_.bits()), seriesBmp_.width(),
                       seriesBmp_.height(), static_cast<int>(seriesBmp_.bytesPerLine() / 4)},
                      w);
    QPen pen;
    pen.setWidth(w);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    std::vector<QPoint> poly;
    QPainter pp(&plotBmp_);

    for (int i = 0; i < PlotModel::kSlots; ++i) {
        const PlotSeries& own = model_.Series(i);
        if (!own.visible || own.PointCount() == 0) continue;
        // A zoom draws its window's points only, full-resolution ones included.
        const DrawnPoints s = model_.Drawn(i);
        if (s.Count() == 0) continue;
        const bool reduce = columnReduction_ && static_cast<int>(s.Count()) > plot.width();

        if (plotMode_ & (pmLine | pmBar)) {
            SeriesToPixels(frame_, s,
                           reduce ? PixelReduction::ColumnExtremes : PixelReduction::None, pixels_);
            std::optional<QPainter> sp;
            if (!stamped) sp.emplace(&seriesBmp_);
            if (plotMode_ & pmBar) {
                // Far-off zero rows are cut to the plot when the series is copied
                // back, so a bounded row gives the same picture.
                const int zero = std::clamp(frame_.Py(0), -8 * w - 1, frame_.height + 8 * w + 1);
                for (const PixelPoint& q : pixels_) {
                    if (stamped) {
                        raster.Segment(q.x, zero, q.x, q.y, SlotColor(q.slot).rgb());
                        continue;
                    }
                    pen.setColor(SlotColor(q.slot));
                    sp->setPen(pen);
                    sp->drawLine(q.x, zero, q.x, q.y);
                }
            }
            if (plotMode_ & pmLine) {
                // One polyline per colour; the segment into a point takes its colour.
                std::size_t k = 0;
                while (k < pixels_.size()) {
                    const int slot = pixels_[k].slot;
                    run_.clear();
                    if (k > 0) run_.push_back(pixels_[k - 1]);
                    while (k < pixels_.size() && pixels_[k].slot == slot) {
                        // A zero-length segment draws nothing, and the painter
                        // would then leave out the start pixel of the next one.
                        const PixelPoint& q = pixels_[k++];
                        if (run_.empty() || run_.back().x != q.x || run_.back().y != q.y)
                            run_.push_back(q);
                    }
                    if (run_.size() < 2) continue;
                    if (stamped) {
                        raster.Polyline(run_.data(), run_.size(), SlotColor(slot).rgb());
                        continue;
                    }
                    poly.clear();
                    for (const PixelPoint& q : run_) poly.emplace_back(q.x, q.y);
                    pen.setColor(SlotColor(slot));
                    sp->setPen(pen);
                    sp->drawPolyline(poly.data(), static_cast<int>(poly.size()));
                }
            }
        }
        if (plotMode_ & pmDot) {
            SeriesToPixels(frame_, s, reduce ? PixelReduction::Duplicates : PixelReduction::None,
                           pixels_);
            QPainter sp(&seriesBmp_);
            for (const PixelPoint& q : pixels_)
                sp.fillRect(QRect(q.x - 2 * w, q.y - 2 * w, 4 * w + 1, 4 * w + 1),
                            SlotColor(q.slot));
        }
        if (!own.name.empty()) {
            PlotFont f{font(), SlotColor(own.ColorSlotAt(own.PointCount() - 1))};
            DrawText(pp, f, plotBmp_.width() - 10, 15 * i + 2, own.name, false);
        }
    }
    pp.drawImage(plot, seriesBmp_, plot);
}

void TPlotPanel::paintEvent(QPaintEvent*) {
    const QSize plotSize(std::max(1, width() - 2 * bevelWidth_),
                         std::max(1, height() - 2 * bevelWidth_));
    // The bitmaps hold the finished picture unless something changed since
    // the last full redraw; redrawing an unchanged chart would give the same.
    if (dirty_ || plotBmp_.size() != plotSize) Render();
    QPainter p(this);
    p.fillRect(rect(), panelColor_);
    // Raised bevel, as the panel's.
    for (int i = 0; i < bevelWidth_; ++i) {
        p.setPen(QColor(255, 255, 255));
        p.drawLine(i, i, width() - 1 - i, i);
        p.drawLine(i, i, i, height() - 1 - i);
        p.setPen(QColor(160, 160, 160));
        p.drawLine(i, height() - 1 - i, width() - 1 - i, height() - 1 - i);
        p.drawLine(width() - 1 - i, i, width() - 1 - i, height() - 1 - i);
    }
    const QRect fr = FrameRect();
    p.drawImage(fr, plotBmp_, fr);
}

void TPlotPanel::resizeEvent(QResizeEvent*) {
    dirty_ = true;
}

void TPlotPanel::changeEvent(QEvent* e) {
    // The panel's font measures the title's room and writes the series names.
    if (e->type() == QEvent::FontChange) dirty_ = true;
    QWidget::changeEvent(e);
}

void TPlotPanel::mousePressEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (e->button() == Qt::LeftButton) dragFrom_ = p;
    emit MouseDown(e->button(), p.x(), p.y());
    e->accept();
}

void TPlotPanel::mouseMoveEvent(QMouseEvent* e) {
    if (!dragFrom_ || !(e->buttons() & Qt::LeftButton)) return;
    if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, this);
    const QRect plot = PlotRect();
    const int x = e->position().toPoint().x();
    band_->setGeometry(QRect(QPoint(std::min(x, dragFrom_->x()), plot.top()),
                             QPoint(std::max(x, dragFrom_->x()), plot.bottom())));
    band_->show();
    e->accept();
}

void TPlotPanel::mouseReleaseEvent(QMouseEvent* e) {
    if (band_) band_->hide();
    if (!dragFrom_ || e->button() != Qt::LeftButton) return;
    const int x0 = dragFrom_->x();
    const int x1 = e->position().toPoint().x();
    dragFrom_.reset();
    // A few pixels are a click (the read-out), not a zoom.
    if (std::abs(x1 - x0) < 5 || frame_.xscale <= 0 || frame_.ranges.Empty()) return;
    const auto time = [this](int x) {
        return (x - frame_.left - 2.0 * frame_.penWidth) / frame_.xscale + frame_.ranges.xmin;
    };
    SetView({time(std::min(x0, x1)), time(std::max(x0, x1))});
    emit ViewChanged();
    e->accept();
}

void TPlotPanel::mouseDoubleClickEvent(QMouseEvent* e) {
    dragFrom_.reset();
    if (!model_.View()) return;
    ClearView();
    emit ViewChanged();
    e->accept();
}

void TPlotPanel::SetView(TimeSpan view) {
    model_.SetView(view);
    RedrawFitted();
}

void TPlotPanel::ClearView() {
    model_.ClearView();
    RedrawFitted();
}

int TPlotPanel::SetZoomPoints(PlotModel&& full, TimeSpan cover) {
    const int taken = model_.SetOverlay(std::move(full), cover);
    if (taken > 0) RedrawFitted();
    return taken;
}

void ConfigureMainWindowChart(TPlotPanel& plot) {
    const QFont tahoma = Tahoma13();
    const QColor windowText(0, 0, 0);
    plot.SetGridColor(QColor(0, 128, 0));
    plot.SetBackColor(QColor(255, 255, 255));
    plot.SetPlotMode(pmLine);
    plot.SetPlotPen(QPen(QColor(128, 0, 128), 3));
    plot.SetXMarks(true);
    plot.SetYMarks(true);
    plot.SetXMarksFont({tahoma, windowText});
    plot.SetYMarksFont({tahoma, windowText});
    plot.SetTytulFont({tahoma, windowText});
    plot.SetPodpisFont({tahoma, QColor(0, 102, 204)});  // the hot-light blue
    plot.SetXInterval(2.5);
    plot.SetXAxisFmt("hh:nn:ss");
    plot.SetYInterval(1.0);
    plot.SetTitle("zmiany w czasie");
}

}  // namespace pom
