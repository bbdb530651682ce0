// The connection to the station: the port watch that reopens a port whose
// device went away, its timers, and the status bar's connection indicator.
#include <QMetaObject>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "app/logic/PortDiagnosis.h"
#include "app/ui/ElidedLabel.h"
#include "app/ui/TMonitorT.h"
#include "serial/SerialPort.h"
#include "util/Cp1250.h"
#include "util/qt/QtText.h"

namespace pom {

class TMonitorT::WatchHost final : public PortWatchHost {
public:
    explicit WatchHost(TMonitorT& w) : w_(w) {}

    std::string Stamp() override { return w_.Stamp(); }
    void AppendLog(std::string line) override { w_.AppendLog(std::move(line)); }
    void AppendWeb(const std::string& cp1250) override {
        w_.AppendWeb(cp1250);
        // A service's journal is the only place anybody reads.
        if (w_.options_.headless)
            std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(cp1250).c_str());
    }
    std::string PortText() const override { return PathToText(w_.SerialPort1->CommPort()); }
    std::uint32_t Baud() const override { return w_.SerialPort1->BaudRate(); }
    bool RunWanted() const override { return w_.cbAktywny->isChecked(); }
    bool PortActive() const override { return w_.SerialPort1->Active(); }
    std::string DeviceId() const override {
        std::error_code ec;
        const auto p = std::filesystem::canonical(PortDevicePath(w_.SerialPort1->CommPort()), ec);
        return ec ? std::string() : p.string();
    }
    int OpenPort() override {
        // Not the handlers' OpenPort: the watch itself takes the result.
        w_.openError_ = 0;
        w_.SerialPort1->SetActive(true);
        ++w_.openGeneration_;
        if (!w_.SerialPort1->Active()) return w_.openError_ != 0 ? w_.openError_.load() : -1;
        // The station may have been swapped while the cable was out.
        w_.rx_->ExpectGreeting();
        return 0;
    }
    void ClosePort() override { w_.ClosePort(); }

private:
    TMonitorT& w_;
};

void TMonitorT::BuildConnection() {
    if (options_.headless) quietErrors_ = true;
    // Room for about 60 characters; a longer port name is elided.
    labPolaczenie = new ElidedLabel(sBar, sBar->fontMetrics().averageCharWidth() * 60);
    labPolaczenie->setObjectName("labPolaczenie");
    labPolaczenie->setToolTip("port stacji");
    sBar->addPermanentWidget(labPolaczenie);
    watchHost_ = std::make_unique<WatchHost>(*this);
    watch_ = std::make_unique<PortWatch>(*watchHost_, util_.clock());

    TimerPonowPort.setTimerType(Qt::PreciseTimer);
    TimerPonowPort.setInterval(PortWatch::kRetrySeconds * 1000);
    TimerPolaczenie.setTimerType(Qt::PreciseTimer);
    TimerPolaczenie.setInterval(1000);
    connect(&TimerPonowPort, &QTimer::timeout, this,
            [this] { RunGuarded([this] { TimerPonowPortTimer(); }); });
    connect(&TimerPolaczenie, &QTimer::timeout, this,
            [this] { RunGuarded([this] { TimerPolaczenieTimer(); }); });
    TimerPonowPort.start();
    TimerPolaczenie.start();
    UpdateConnectionLabel();
}

void TMonitorT::TimerPonowPortTimer() {
    if (shutDownDone_) return;
    watch_->RetryTick();
    UpdateConnectionLabel();
}

void TMonitorT::TimerPolaczenieTimer() {
    if (shutDownDone_) return;
    watch_->Check();
    UpdateConnectionLabel();
}

void TMonitorT::PortReport(std::uint32_t place, std::uint32_t code) {
    if (place == 112) openError_ = static_cast<int>(code);
    if (!PortWatch::IsLoss(place, static_cast<int>(code))) return;
    // The worker waits for this call to return: closing the port here would
    // wait for the worker. The watch takes the report from the event loop.
    const unsigned generation = openGeneration_.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, place, code] {
            if (generation != openGeneration_.load() || shutDownDone_) return;
            RunGuarded([&] { watch_->Report(place, static_cast<int>(code)); });
            UpdateConnectionLabel();
        },
        Qt::QueuedConnection);
}

void TMonitorT::PortOpened(bool ok) {
    ++openGeneration_;
    watch_->Opened(ok, openError_.load());
    UpdateConnectionLabel();
}

void TMonitorT::UpdateConnectionLabel() {
    const PortWatch::Status s = watch_->StatusLine(rx_->Values().measureInterval);
    labPolaczenie->setText(Q(s.text));
    labPolaczenie->setStyleSheet(s.warning ? "color: #c00000; font-weight: bold;" : "");
}

void TMonitorT::ReattachStation(const std::string& kind) {
    // What belongs to the station that was there goes into its own files
    // before the folder changes, as at a port change.
    AppendLog(Stamp() + Cp("inna stacja na porcie: ") + kind);
    try {
        if (util_.UnsentFileName().size() >= 2) queue_.Save();
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
    if (dataLog_.Count() > 0) files_->PeriodicSave();
    AttachStation(kind);
}

}  // namespace pom
