// The chart page "W y k r e s": the rebuild from the log, the channel check
// boxes, averaging, point marks and the read-out under the mouse.
#include <QDate>

#include "app/logic/ChartPage.h"
#include "app/logic/ChartRebuild.h"
#include "app/ui/TMonitorT.h"
#include "plot/ui/TPlotPanel.h"
#include "serial/SerialPort.h"
#include "util/qt/QtText.h"

namespace pom {

void TMonitorT::ConnectChartPage() {
    chartPageLink_ = std::make_unique<QObject>();
    QObject* link = chartPageLink_.get();
    connect(mLista2wykresy, &QPushButton::clicked, link,
            [this] { RunGuarded([this] { mLista2wykresyClick(); }); });
    for (int k = 0; k < 4; ++k) {
        // Any change of the check state counts, also the one a station's
        // attach makes from its Aktywne keys, so the series follow the boxes.
        connect(cbKanal[k], &QCheckBox::toggled, link,
                [this, k] { RunGuarded([this, k] { cbKanalClick(k); }); });
    }
    connect(cbUsrednij, &QCheckBox::clicked, link, [this] { cbUsrednijClick(); });
    connect(cbPunkty, &QCheckBox::clicked, link, [this] { cbPunktyClick(); });
    connect(mPlotAvgDelta, &QAction::triggered, link,
            [this] { RunGuarded([this] { mPlotAvgDeltaClick(); }); });
    connect(PlotP, &TPlotPanel::MouseDown, link,
            [this](Qt::MouseButton, int x, int y) { PlotPMouseDown(x, y); });
    chartPageShown_ = pcZakladki->currentWidget() == babWykres;
    connect(pcZakladki, &QTabWidget::currentChanged, link, [this](int index) {
        const bool shown = pcZakladki->widget(index) == babWykres;
        if (shown == chartPageShown_) return;
        chartPageShown_ = shown;
        if (shown)
            babWykresShow();
        else
            babWykresHide();
    });
}

void TMonitorT::mLista2wykresyClick() {
    chartFiles_->Start(util_.StationDataFolder(), util_.FileNameMask, dataLog_);
}

void TMonitorT::cbKanalClick(int k) {
    const bool on = cbKanal[k]->isChecked();
    PlotP->SetSeriesVisible(k, on);
    util_.Write(settings::kAktywneKan[k], on);
    PlotP->RedrawFitted();
}

void TMonitorT::cbUsrednijClick() {
    // Only points added from now on are averaged; nothing is redrawn.
    PlotP->SetAveraging(cbUsrednij->isChecked());
}

void TMonitorT::cbPunktyClick() {
    if (!cbPunkty->isChecked()) {
        PlotP->SetPlotMode(pmLine);
        return;
    }
    PlotP->SetPodpis(ChartCaption(static_cast<int>(dataLog_.Count()), *this));
    PlotP->SetPlotMode(pmDot | pmLine);
}

void TMonitorT::mPlotAvgDeltaClick() {
    const std::optional<std::string> typed = InputQuery(
        AvgWindowDialogCaption(), AvgWindowDialogPrompt(), AvgWindowDialogText(PlotP->AvgWindow()));
    if (!typed) return;
    const std::optional<AvgWindowChoice> c = ParseAvgWindow(*typed);
    if (!c) return;
    PlotP->SetAvgWindow(c->windowDays);
    util_.Write(settings::kPlotAvgDelta, c->storedSeconds);
    mPlotAvgDelta->setText(Q(c->menuCaption));
    cbUsrednij->setText(Q(c->boxCaption));
}

void TMonitorT::PlotPMouseDown(int x, int y) {
    double value = 0;
    double time = 0;
    if (PlotP->PixelToValue(x, y, value, time)) ShowStatus(ReadoutText(time, value));
}

void TMonitorT::babWykresShow() {
    for (int k = 0; k < 4; ++k) PlotP->SetSeriesVisible(k, cbKanal[k]->isChecked());
}

void TMonitorT::babWykresHide() {
    SetAllSeriesVisible(false);
}

// --- ChartRebuildHost

void TMonitorT::ClearPlot() {
    PlotP->ClearPlot();
}

void TMonitorT::PausePort() {
    HoldReceive();
}

void TMonitorT::ResumePort() {
    ReleaseReceive();
}

LocalDateTime TMonitorT::RebuildStartDate() const {
    const QDate d = DTPickerOd->date();
    LocalDateTime t;
    t.year = d.year();
    t.month = d.month();
    t.day = d.day();
    return t;
}

void TMonitorT::AltitudeReply(const std::string& line) {
    rx_->ParseAltitude(line);
}

void TMonitorT::TemperatureReply(const std::string& line) {
    rx_->ParseTemperature(line);
}

void TMonitorT::ShowChannels() {
    for (int k = 0; k < 4; ++k) PlotP->SetSeriesVisible(k, cbKanal[k]->isChecked());
    PlotP->RedrawFitted();
}

}  // namespace pom
