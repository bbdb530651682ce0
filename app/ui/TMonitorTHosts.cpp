// The main window's side of the logic's host interfaces: each call reaches
// a widget, a timer or the port.
#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/ui/InputDialog.h"
#include "app/ui/TMonitorT.h"
#include "plot/logic/PlotModel.h"
#include "plot/ui/TPlotPanel.h"
#include "serial/SerialPort.h"
#include "util/qt/QtText.h"
#include "web/ui/TfOKhostSQL.h"

namespace pom {

// --- ReceiveHost

std::string TMonitorT::Stamp() {
    return util_.TimeStampPrefix();
}

void TMonitorT::AppendLog(std::string line) {
    dataLog_.Append(std::move(line));
}

void TMonitorT::SendString(const std::string& text) {
    SerialPort1->SendString(text);
}

void TMonitorT::ReadNextCluster(std::string& bytes, int& count, int& error) {
    std::int32_t size = -1;
    std::int32_t code = -1;
    const std::unique_ptr<char[]> data = SerialPort1->ReadNextCluster(size, code);
    count = size;
    error = code;
    if (size > 0) watch_->LineReceived();
    bytes.assign(data && size > 0 ? data.get() : "",
                 data && size > 0 ? static_cast<std::size_t>(size) : 0);
}

std::string TMonitorT::StationFolder() const {
    return util_.stationFolder;
}

int TMonitorT::ValueCount() const {
    return util_.valueCount;
}

void TMonitorT::SetBarometerPanelVisible(bool visible) {
    panLabele->setVisible(visible);
}

void TMonitorT::SetChannelCaption(int k, const std::string& caption) {
    if (k >= 1 && k <= 4) cbKanal[k - 1]->setText(Q(caption));
}

void TMonitorT::SetCatchUpInterval(int ms) {
    // The receive path decides when the count restarts (it never puts a
    // pending request further away); an interval of 0 stops the ticks until
    // another interval is set.
    if (ms <= 0) {
        TimerCzytajZalegle.stop();
        return;
    }
    TimerCzytajZalegle.start(TimerMs(ms));
}

std::int64_t TMonitorT::SteadyMs() const {
    const std::int64_t ms = ReceiveHost::SteadyMs();
    if (options_.timeScale == 1.0) return ms;
    return static_cast<std::int64_t>(static_cast<double>(ms) * options_.timeScale);
}

int TMonitorT::TimerMs(int ms) const {
    if (options_.timeScale == 1.0) return ms;
    return std::max(1, static_cast<int>(std::lround(ms / options_.timeScale)));
}

int TMonitorT::BarometerMessage(const std::string& line) {
    return readings_->BarometerMessage(line);
}

void TMonitorT::SensorInformation(const std::string& line) {
    readings_->SensorInformation(line);
}

int TMonitorT::Reading(const std::string& line) {
    return readings_->Reading(line);
}

// --- ReadingsHost

void TMonitorT::SetValueCount(int n) {
    util_.valueCount = n;
}

int TMonitorT::PostInterval() const {
    return postInterval_;
}

void TMonitorT::AddPoint(int series, int colorIndex, double time, double value) {
    PlotP->AddPoint(colorIndex, series, value, time);
}

void TMonitorT::ShiftSeries(int first, int count, int by) {
    // The chart adds points but removes none, so it is filled again: every
    // point as it is, the moved series `by` places up, the visibility kept.
    const PlotModel& model = PlotP->Model();
    const int series = PlotModel::kSlots;
    std::vector<std::vector<PlotPoint>> points(static_cast<std::size_t>(series));
    std::vector<bool> visible(static_cast<std::size_t>(series));
    for (int i = 0; i < series; ++i) {
        points[static_cast<std::size_t>(i)] = model.Series(i).Points();
        visible[static_cast<std::size_t>(i)] = model.Series(i).visible;
    }
    const int seriesCount = PlotP->SeriesCount();
    const bool averaging = PlotP->Averaging();
    PlotP->ClearPlot();
    PlotP->SetAveraging(false);  // the points were averaged when they came
    for (int i = 0; i < series; ++i) {
        const bool moved = i >= first && i < first + count;
        const int to = moved ? i + by : i;
        if (to < 0 || to >= series) continue;
        for (const PlotPoint& p : points[static_cast<std::size_t>(i)])
            PlotP->AddPoint(to, to, p.y, p.x);
    }
    PlotP->SetAveraging(averaging);
    PlotP->SetSeriesCount(seriesCount);
    for (int i = 0; i < series; ++i)
        PlotP->SetSeriesVisible(i, visible[static_cast<std::size_t>(i)]);
    PlotP->Redraw();
}

void TMonitorT::SetMacText(const std::string& text) {
    meMAC->setPlainText(Q(text).replace("\r\n", "\n"));
}

bool TMonitorT::UploadChecked() const {
    return cbPOST->isChecked();
}

std::size_t TMonitorT::AppendToUploadQueue(const std::string& entry) {
    try {
        const std::size_t n = uploader_->Append(entry);
        CheckQueuePersisted();
        return n;
    } catch (const std::exception&) {
        CheckQueuePersisted();
        throw;
    }
}

void TMonitorT::SetUploadInterval(int ms) {
    // The uploader decides: it keeps a back-off after a failed post and
    // stops the timer for an interval of 0.
    if (uploader_) uploader_->SetUploadInterval(ms);
}

void TMonitorT::ShowBarometerLabels(const BarometerLabels& l) {
    const std::string* texts[6] = {&l.labBaro,     &l.labBaroB,    &l.labBaroNPM,
                                   &l.labBaroNPMB, &l.labBaroNPM2, &l.labBaroNPM2B};
    for (int i = 0; i < 6; ++i) barometerLabels_[i]->setText(Q(*texts[i]));
}

// --- CommandsHost

std::optional<std::string> TMonitorT::InputQuery(const std::string& caption,
                                                 const std::string& prompt,
                                                 const std::string& value) {
    if (options_.inputQuery) return options_.inputQuery(caption, prompt, value);
    // Nobody answers a service: cancelled.
    if (options_.headless) return std::nullopt;
    const std::optional<QString> text = AskText(this, Q(caption), Q(prompt), Q(value));
    if (!text) return std::nullopt;
    return S(*text);
}

void TMonitorT::ShowMessage(const std::string& text) {
    if (options_.showMessage) return options_.showMessage(text);
    if (options_.headless) {
        std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(text).c_str());
        AppendWeb(Stamp() + text);
        return;
    }
    QMessageBox::information(this, QApplication::applicationName(), Q(text));
}

std::string TMonitorT::MacText() const {
    return S(meMAC->toPlainText().replace("\n", "\r\n"));
}

std::string TMonitorT::SecondsCorrection() const {
    return S(edSekund->text());
}

void TMonitorT::ShowDataPage() {
    pcZakladki->setCurrentWidget(tabDaneTXT);
}

LocalDateTime TMonitorT::Now() const {
    return util_.clock().now();
}

// --- UploadHost

void TMonitorT::SetUploadTimerEnabled(bool on) {
    if (!on)
        Timer4WWW.stop();
    else if (!Timer4WWW.isActive())
        Timer4WWW.start();
}

void TMonitorT::SetUploadTimerInterval(int ms) {
    // As a timer's interval property: the same value does not restart the
    // count, so entries queued faster than 5 s cannot hold the upload off.
    // A 0 ms QTimer would spin; the uploader never asks for one.
    if (ms <= 0) {
        Timer4WWW.stop();
        return;
    }
    ms = TimerMs(ms);
    if (ms != Timer4WWW.interval()) Timer4WWW.setInterval(ms);
}

int TMonitorT::MeasureInterval() const {
    return rx_->Values().measureInterval;
}

std::string TMonitorT::UploadTable() const {
    return hostDialog_->Table();
}

std::string TMonitorT::UploadAddress() const {
    return hostDialog_->Address();
}

void TMonitorT::PeriodicSave() {
    // A rebuild reading the files and a copy of the log would see the saved
    // lines twice; they are saved at the next tick.
    if (chartFiles_->Running()) return;
    files_->Timer4WWWSave();
}

void TMonitorT::StoreLastSent(const std::string& stamp) {
    util_.Write(settings::kOstatniWyslany, stamp);
}

// --- DataLogHost

void TMonitorT::SetStatusText(const std::string& text) {
    ShowStatus(text);
}

void TMonitorT::SetStatusHint(const std::string& text) {
    sBar->setToolTip(Q(text));
}

void TMonitorT::SetChartCaption(const std::string& text) {
    PlotP->SetPodpis(text);
}

int TMonitorT::SeriesPointCount(int series) const {
    return PlotP->PointCount(series);
}

void TMonitorT::SetAllSeriesVisible(bool visible) {
    for (int i = 0; i < PlotP->SeriesCount(); ++i) PlotP->SetSeriesVisible(i, visible);
}

void TMonitorT::RebuildChart() {
    chartFiles_->Cancel();
    RebuildChartFromLog(dataLog_, *this, *readings_);
}

void TMonitorT::StopPort() {
    HoldReceive();
}

// A rebuild must see no new line while it reads the log, and must lose none:
// the port stays open and what arrives waits in it until the release. (Closing
// the port here would purge its input and wait for a worker that is blocked in
// the very receive event the rebuild may run in.)
void TMonitorT::HoldReceive() {
    holdReceive_ = true;
}

void TMonitorT::ReleaseReceive() {
    if (!holdReceive_) return;
    holdReceive_ = false;
    // Inside a receive event these are counted and taken when it ends.
    for (; heldEvents_ > 0; --heldEvents_) rx_->SerialPort1RxClusterEvent();
}

void TMonitorT::ReportError(const std::string& message) {
    if (quietErrors_ || endOfSession_) {
        std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(message).c_str());
        AppendWeb(Stamp() + message);
        if (!options_.showError) return;
    }
    if (options_.showError) {
        options_.showError(Cp1250ToUtf8(message));
        return;
    }
    QMessageBox::critical(this, QApplication::applicationName(), Q(message));
}

void TMonitorT::ReportUnattended(const std::string& message) {
    ShowStatus(Stamp() + message);
    AppendWeb(Stamp() + message);
    std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(message).c_str());
}

void TMonitorT::AppendWeb(const std::string& cp1250) {
    logiWeb->appendPlainText(Q(cp1250));
}

void TMonitorT::ShowStatus(const std::string& cp1250) {
    // A label of its own: Qt's temporary message would vanish when a menu
    // item is hovered.
    statusText_->setText(Q(cp1250));
}

QString TMonitorT::StatusText() const {
    return statusText_->text();
}

}  // namespace pom
