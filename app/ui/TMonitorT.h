#pragma once

#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/ChartFileRebuild.h"
#include "app/logic/ChartRebuild.h"
#include "app/logic/ChartZoom.h"
#include "app/logic/DataLog.h"
#include "app/logic/DataLogFiles.h"
#include "app/logic/HeadlessReport.h"
#include "app/logic/PortWatch.h"
#include "app/logic/Readings.h"
#include "app/logic/ReceivePath.h"
#include "app/logic/StationCommands.h"
#include "app/logic/UploadSink.h"
#include "mqtt/logic/MqttLink.h"
#include "plot/logic/Legends.h"
#include "util/FormPlacement.h"
#include "util/TdmUtil.h"
#include "web/Sender.h"
#include "web/UploadQueue.h"
#include "web/Uploader.h"

namespace pom {

class TPlotPanel;
class TfOKhostSQL;
class TfEdLegendy;
class TfEDwsp;
class TfMqtt;
class TAboutBox;
class THttpClient;

class LogMemo;
class TSerialPort;
class QtMainThreadDispatcher;

// How the program was started (command line).
struct MonitorOptions {
    // Use this port for the run instead of CONFIG/nrCOMport, without writing it.
    std::optional<std::string> portOverride;
    // Full path of the running program (autostart entry).
    std::string programPath;
    // The serial ports offered in the COM menu (tests put their own list here).
    std::function<std::vector<std::string>()> enumPorts;
    // Where failures that the platform would show in a message box go; unset:
    // a message box.
    std::function<void(const std::string& utf8)> showError;
    // Where the station commands' input dialogs and message box go (texts in
    // Windows-1250; nothing = cancelled); unset: Qt's dialogs.
    std::function<std::optional<std::string>(const std::string& caption, const std::string& prompt,
                                             const std::string& value)>
        inputQuery;
    std::function<void(const std::string& text)> showMessage;
    // Where "Plik > odczytaj" asks for the file (the preset name in, the
    // chosen path out, nothing = cancelled); unset: Qt's file dialog.
    std::function<std::optional<std::string>(const std::string& preset)> openFileQuery;
    // A service without a window (--headless): no dialog ever opens; what
    // one would show goes to standard error and logiWeb.
    bool headless = false;
    // Called at the end of the run with the number of queued records that
    // could not be saved (they are on standard error then).
    std::function<void(std::size_t)> recordsLostAtExit;
    // The program's version, for the MQTT device block.
    std::string version;
    // The MQTT broker connection; unset: libmosquitto's.
    mqtt::MqttLink::TransportFactory mqttTransport;
    // The station's timers run this many times faster, to go with a clock
    // that does (soak benchmarks); 1 in normal use.
    double timeScale = 1.0;
};

// The main window: pages, menus, check boxes, timers and the port, and the
// handlers that tie them to the logic. The handlers keep the system's names.
class TMonitorT final : public QMainWindow,
                        private ReceiveHost,
                        private DataLogHost,
                        private ReadingsHost,
                        private UploadQueueHost,
                        private CommandsHost,
                        private UploadHost,
                        private ChartRebuildHost,
                        private ChartZoomHost {
    Q_OBJECT
public:
    TMonitorT(TdmUtil& util, MonitorOptions options, QWidget* parent = nullptr);
    ~TMonitorT() override;

    // End of the desktop session (session manager, SIGTERM, SIGHUP, SIGINT):
    // the shared shut-down steps now, not again at destruction.
    void WMQueryEndSession();
    // The session manager's commit-data request: save everything, keep
    // recording.
    void CommitData();
    // The status bar's simple text.
    QString StatusText() const;

    // --- accessors for the program entry and the tests
    DataLog& Log() { return dataLog_; }
    ReceivePath& Receive() { return *rx_; }
    Readings& Measurements() { return *readings_; }
    UploadSink& UploadRecords() { return *uploadSink_; }
    mqtt::MqttLink& Mqtt() { return *mqtt_; }
    QTimer& MqttTimer() { return TimerMqtt; }
    TfMqtt& MqttDialog() { return *mqttDialog_; }
    QAction& MqttItem() { return *mMqtt; }
    StationCommands& Commands() { return *commands_; }
    QPlainTextEdit& MacMemo() { return *meMAC; }
    QLineEdit& SecondsField() { return *edSekund; }
    const std::deque<std::string>& QueueEntries() const { return queue_.Entries(); }
    bool ReleasingReadings() const { return MayReleaseReadings(); }
    Uploader& Upload() { return *uploader_; }
    WWyslac& Sender() { return *sender_; }
    TfOKhostSQL& HostDialog() { return *hostDialog_; }
    TfEdLegendy& LegendsDialog() { return *legendsDialog_; }
    TfEDwsp& CalibrationDialog() { return *edWspDialog_; }
    TAboutBox& AboutDialog() { return *aboutBox_; }
    QAction& RangeItem(int channel) { return *mZakres[channel - 1]; }
    QAction& AboutItem() { return *mAbout; }
    QLabel& BarometerLabel(int i) { return *barometerLabels_[i]; }
    TSerialPort& Port() { return *SerialPort1; }
    TPlotPanel& Plot() { return *PlotP; }
    QTimer& StartTimer() { return TimerStartCOMa; }
    QTimer& UploadTimer() { return Timer4WWW; }
    QTimer& CatchUpTimer() { return TimerCzytajZalegle; }
    QMenu& ComMenu() { return *mComPort; }
    QPlainTextEdit& WebMemo() { return *logiWeb; }
    LogMemo& InfoMemo() { return *memoInfo; }
    QStatusBar& Status() { return *sBar; }
    QTabWidget& Pages() { return *pcZakladki; }
    QAction& AutoStartItem() { return *mAutoStart; }
    QWidget& BarometerPanel() { return *panLabele; }
    QCheckBox& Channel(int k) { return *cbKanal[k]; }
    bool EndOfSession() const { return endOfSession_; }
    DataLogFiles& Files() { return *files_; }
    QCheckBox& AveragingBox() { return *cbUsrednij; }
    QCheckBox& PointsBox() { return *cbPunkty; }
    QDateEdit& StartDatePicker() { return *DTPickerOd; }
    QPushButton& RebuildButton() { return *mLista2wykresy; }
    ChartFileRebuild& FileRebuild() { return *chartFiles_; }
    QAction& PlotAvgDeltaItem() { return *mPlotAvgDelta; }
    QWidget& ChartPage() { return *babWykres; }
    // The connection (TMonitorTConnection.cpp).
    PortWatch& Watch() { return *watch_; }
    QLabel& ConnectionLabel() { return *labPolaczenie; }
    QTimer& RetryTimer() { return TimerPonowPort; }
    void TimerPonowPortTimer();
    void TimerPolaczenieTimer();

    // A stamped line into the data log, as the program's own lines go (tests).
    void AppendLogLineForTest(const std::string& text) { AppendLog(Stamp() + text); }

    // --- handlers (system names)
    void FormCreate();
    void FormDestroy();
    void FormDestroyWspolna();
    // The log, the settings and the dialogs' placement (shut-down and
    // commit-data).
    void SaveState();
    void TimerStartCOMaTimer();
    void Timer4WWWTimer();
    // The catch-up tick: the refused queue file is tried first.
    void TimerCzytajZalegleTimer();
    void AttachStation(const std::string& kind) override;
    void mKomClick(QAction* item);
    void m19200Click(QAction* item);
    void cbAktywnyClick();
    void cbDTRRTSClick();
    void cbTRSClick();
    void mAutoStartClick();
    void mOpisClick();
    void mExitClick();
    void mZapiszClick();
    void mCzytajPlikClick();
    void mTestClick();
    void mMaskaDatyClick();
    void mIleDoSredniejClick();
    void mPOSTdeltaClick();
    void mHostConfigClick();
    void mLegendyClick();
    // MQTT publishing (TMonitorTMqtt.cpp): the dialog, and a start afresh
    // from the attached station's settings.
    void mMqttClick();
    void StartMqtt();
    // Calibration dialog and About box (TMonitorTDialogs.cpp).
    void CreateDialogs();
    void mZakresClick(int channel);  // channel = 1..3 for (R1)..(R3)
    void mAboutClick();
    // Channel captions from the legends, then the legends into the settings.
    void ApplyLegends(const Legends& l);
    // Chart page (TMonitorTChart.cpp).
    void mLista2wykresyClick();
    void cbKanalClick(int k);  // k = 0..3 for cbKanal1..cbKanal4
    void cbUsrednijClick();
    void cbPunktyClick();
    void mPlotAvgDeltaClick();
    void PlotPMouseDown(int x, int y);
    void babWykresShow();
    void babWykresHide();

    // Rebuilds the COM menu from the port list, checking `current`.
    void BuildComMenu(const std::string& current);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // A station timer's interval under options_.timeScale (at least 1 ms).
    int TimerMs(int ms) const;
    // The catch-up rule's time, on the scale of the timers it plans.
    std::int64_t SteadyMs() const override;

    // ReceiveHost
    std::string Stamp() override;
    void AppendLog(std::string line) override;
    void SendString(const std::string& text) override;
    void ReadNextCluster(std::string& bytes, int& count, int& error) override;
    std::string StationFolder() const override;
    int ValueCount() const override;
    void SetBarometerPanelVisible(bool visible) override;
    void SetChannelCaption(int k, const std::string& caption) override;
    void SetCatchUpInterval(int ms) override;
    int BarometerMessage(const std::string& line) override;
    void SensorInformation(const std::string& line) override;
    int Reading(const std::string& line) override;
    // False while the upload queue holds records it could not write to disk.
    bool MayReleaseReadings() const override;

    // ReadingsHost
    void SetValueCount(int n) override;
    int PostInterval() const override;
    void AddPoint(int series, int colorIndex, double time, double value) override;
    void ShiftSeries(int first, int count, int by) override;
    void SetMacText(const std::string& text) override;
    void ShowBarometerLabels(const BarometerLabels& labels) override;

    // UploadQueueHost
    bool UploadChecked() const override;
    std::size_t AppendToUploadQueue(const std::string& entry) override;
    void AppendWeb(const std::string& cp1250) override;
    void SetUploadInterval(int ms) override;

    // CommandsHost
    std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt,
                                          const std::string& value) override;
    void ShowMessage(const std::string& text) override;
    std::string MacText() const override;
    std::string SecondsCorrection() const override;
    void ShowDataPage() override;
    LocalDateTime Now() const override;

    // UploadHost
    void SetUploadTimerEnabled(bool on) override;
    void SetUploadTimerInterval(int ms) override;
    int MeasureInterval() const override;
    std::string UploadTable() const override;
    std::string UploadAddress() const override;
    void PeriodicSave() override;
    void StoreLastSent(const std::string& stamp) override;

    // DataLogHost
    void SetStatusText(const std::string& text) override;
    void SetStatusHint(const std::string& text) override;
    void SetChartCaption(const std::string& text) override;
    int SeriesPointCount(int series) const override;
    void SetAllSeriesVisible(bool visible) override;
    void RebuildChart() override;
    void StopPort() override;
    void ReportError(const std::string& message) override;
    void ReportUnattended(const std::string& message) override;

    // ChartRebuildHost
    void ClearPlot() override;
    void PausePort() override;
    void ResumePort() override;
    LocalDateTime RebuildStartDate() const override;
    void AltitudeReply(const std::string& line) override;
    void TemperatureReply(const std::string& line) override;
    void ShowChannels() override;
    // ChartZoomHost
    const PlotModel& ChartModel() const override;
    int SetZoomPoints(PlotModel&& full, TimeSpan cover) override;
    // The chart page's signals, wired at the end of BuildUi.
    void ConnectChartPage();

    // The connection (TMonitorTConnection.cpp): the port watch, its timers
    // and the status bar's indicator, made at the end of BuildUi.
    class WatchHost;
    void BuildConnection();
    // The port's reports, on whichever thread they come.
    void PortReport(std::uint32_t place, std::uint32_t code);
    void PortOpened(bool ok);
    void UpdateConnectionLabel();
    void ReattachStation(const std::string& kind) override;

    void BuildUi();
    // Windows' character set number of Central European fonts, kept in the
    // settings for the files' sake; Qt fonts carry no character set.
    static constexpr int kEastEuropeCharset = 238;
    FormPlacement CurrentPlacement() const;
    void ApplyPlacement(const FormPlacement& p);
    void BuildMenus();
    void BuildCommandMenu(QMenu* ustaw);
    // The publisher's link, its timer and dialog (TMonitorTMqtt.cpp).
    void CreateMqtt();
    // One MQTT event line: the "POST" page, and the journal without a window.
    void MqttEvent(const std::string& cp1250);
    void ApplyChartAveraging(bool attach);
    // Puts the log's lines since the last save into the station's data file
    // (a file already written in this period of the date mask takes them at
    // its end). True when nothing is left unsaved; false with no station
    // attached (no file yet) or when the save failed (reported).
    bool SaveUnsavedLog();
    // Averaging count, upload interval and date mask from the current
    // settings file, with their menu captions (creation and attach).
    void ReadCountsAndMask();
    // stamp + "Open: " + port + ": " + baud rate.
    std::string OpenedMessage();
    void ShowStatus(const std::string& cp1250);
    bool OpenPort();
    // One more line in logiWeb: why the port did not open, and the cure.
    void ExplainOpenFailure();
    void ClosePort();
    void HoldReceive();
    void ReleaseReceive();
    void RunGuarded(const std::function<void()>& fn);
    // Says on the "POST" page, in the status bar and on standard error when
    // the queue stops or starts again keeping its records on disk.
    void CheckQueuePersisted();
    // Writes the records the disk refused, at most every few seconds.
    void RetryQueueFile();

    TdmUtil& util_;
    MonitorOptions options_;
    DataLog dataLog_;
    std::unique_ptr<DataLogFiles> files_;
    std::unique_ptr<ReceivePath> rx_;
    std::unique_ptr<Readings> readings_;
    std::unique_ptr<UploadSink> uploadSink_;
    std::unique_ptr<mqtt::MqttLink> mqtt_;
    std::unique_ptr<StationCommands> commands_;
    std::unique_ptr<QtMainThreadDispatcher> dispatcher_;
    // "odśwież Rys" from the dated files; its worker hands batches over the dispatcher.
    std::unique_ptr<ChartFileRebuild> chartFiles_;
    // The zoom's read-back of the thinned past, on its own worker.
    std::unique_ptr<ChartZoom> chartZoom_;
    std::unique_ptr<TSerialPort> SerialPort1;
    UploadQueue queue_;
    PersistWatch queueWatch_;
    std::unique_ptr<THttpClient> HttpClient1;
    std::unique_ptr<WWyslac> sender_;
    std::unique_ptr<Uploader> uploader_;
    TfOKhostSQL* hostDialog_ = nullptr;
    TfEdLegendy* legendsDialog_ = nullptr;
    TfEDwsp* edWspDialog_ = nullptr;
    TfMqtt* mqttDialog_ = nullptr;
    TAboutBox* aboutBox_ = nullptr;

    std::string stationKind_ = "DS3231";
    bool endOfSession_ = false;
    std::atomic<int> openError_{0};
    bool shutDownDone_ = false;
    // Failures go to standard error and logiWeb instead of a message box.
    bool quietErrors_ = false;
    QLabel* statusText_ = nullptr;
    int postInterval_ = 300;
    // While the chart is rebuilt from the log, received chunks wait in the
    // port; their events are counted and run at the release.
    bool holdReceive_ = false;
    int heldEvents_ = 0;
    bool chartPageShown_ = false;
    // Without a window: one line on standard error per change of the
    // uploads' outcome.
    UploadOutcomeWatch uploadOutcome_;

    // widgets (system names)
    QTabWidget* pcZakladki = nullptr;
    QWidget* tabDaneTXT = nullptr;
    LogMemo* memoInfo = nullptr;
    QWidget* babWykres = nullptr;
    TPlotPanel* PlotP = nullptr;
    QWidget* Panel2 = nullptr;
    QCheckBox* cbKanal[4] = {};
    QCheckBox* cbUsrednij = nullptr;
    QCheckBox* cbPunkty = nullptr;
    QDateEdit* DTPickerOd = nullptr;
    QPushButton* mLista2wykresy = nullptr;
    QWidget* panLabele = nullptr;
    QLabel* labBaro = nullptr;
    QLabel* labBaroB = nullptr;
    QLabel* labBaroNPM = nullptr;
    QLabel* labBaroNPMB = nullptr;
    QLabel* labBaroNPM2 = nullptr;
    QLabel* labBaroNPM2B = nullptr;
    QLabel* barometerLabels_[6] = {};
    QWidget* tsReZapisy = nullptr;
    QPlainTextEdit* logiWeb = nullptr;
    QWidget* tabMAC = nullptr;
    QPlainTextEdit* meMAC = nullptr;
    QPushButton* butSetDate = nullptr;
    QPushButton* butGodzinaUstaw = nullptr;
    QLineEdit* edSekund = nullptr;
    QPushButton* butMAC2arduino = nullptr;
    QPushButton* butWyslijPolecen = nullptr;
    QPushButton* butHelp = nullptr;
    QWidget* Panel1 = nullptr;
    QCheckBox* cbAktywny = nullptr;
    QCheckBox* cbPOST = nullptr;
    QCheckBox* cbDTRRTS = nullptr;
    QCheckBox* cbTRS = nullptr;
    QStatusBar* sBar = nullptr;

    QMenu* mComPort = nullptr;
    QMenu* mBaud = nullptr;
    QAction* m19200 = nullptr;
    QAction* m57600 = nullptr;
    QAction* m115200 = nullptr;
    QAction* mZapisz = nullptr;
    QAction* mCzytajPlik = nullptr;
    QAction* mTest = nullptr;
    QAction* mExit = nullptr;
    QAction* mLegendy = nullptr;
    QAction* mHostConfig = nullptr;
    QAction* mMqtt = nullptr;
    QAction* mIleDoSredniej = nullptr;
    QAction* mPlotAvgDelta = nullptr;
    QAction* mMaskaDaty = nullptr;
    QAction* mPOSTdelta = nullptr;
    QAction* mAutoStart = nullptr;
    QAction* mOpis = nullptr;
    QAction* mAbout = nullptr;
    QAction* mZakres[3] = {};

    QTimer TimerStartCOMa;
    QTimer TimerCzytajZalegle;
    QTimer Timer4WWW;
    // Drives the MQTT publisher: the connection's news and the queue.
    QTimer TimerMqtt;
    // The connection: retries every 5 s, the indicator every second.
    std::unique_ptr<PortWatchHost> watchHost_;
    std::unique_ptr<PortWatch> watch_;
    // Counts the openings, so a report of an earlier opening that is still
    // on its way finds the port open again and is dropped.
    std::atomic<unsigned> openGeneration_{0};
    QLabel* labPolaczenie = nullptr;
    QTimer TimerPonowPort;
    QTimer TimerPolaczenie;
    // Context of the chart page's connections; declared last, so it goes
    // first and no page change during the widgets' teardown reaches them.
    std::unique_ptr<QObject> chartPageLink_;
};

}  // namespace pom
