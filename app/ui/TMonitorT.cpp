#include "app/ui/TMonitorT.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <array>
#include <clocale>
#include <cstdio>
#include <tuple>
#include <utility>

#include "app/logic/PortDiagnosis.h"
#include "app/ui/ElidedLabel.h"
#include "app/ui/LogMemo.h"
#include "app/ui/QtMainThreadDispatcher.h"
#include "dialogs/ui/TfEDwsp.h"
#include "plot/ui/TPlotPanel.h"
#include "plot/ui/TfEdLegendy.h"
#include "serial/PortList.h"
#include "serial/SerialPort.h"
#include "util/AutoStart.h"
#include "util/Cp1250.h"
#include "util/FileUtil.h"
#include "util/FormPlacement.h"
#include "util/qt/QtText.h"
#include "web/HttpPoster.h"
#include "web/THttpClient.h"
#include "web/Upload.h"
#include "web/ui/TfOKhostSQL.h"

namespace pom {
namespace {

// Texts of the window, in UTF-8 here; they become Windows-1250 where the
// logic keeps them.
constexpr const char* kCaption = "Monitor dla DS1820, BME280 z DS3231";
constexpr const char* kMemoBanner[] = {
    "|  P o m i a r n i k",
    "|-----------------------------------------",
    "|",
    "|  komunikuje się z arduino (komunikaty A: R: I:)",
    "|  czyta z bufora  128  odczytów",
    "|  dwa napięcia, temperatury z DS1820",
    "|  i dwie temperatury odczytane radiowo 433Mhz",
    "|",
    "|  obsługuje komunikację z barometrem",
    "|  BME280 z komunikatami \"O:\"",
    "|",
    "| ",
};

// "avg h:nn:ss" of a number of seconds.
QString AvgCaption(int seconds) {
    const int s = std::max(seconds, 0);
    return QString("avg %1:%2:%3")
        .arg((s / 3600) % 24)
        .arg((s / 60) % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

QCheckBox* ColouredCheck(const QString& text, const QColor& colour, QWidget* parent) {
    auto* cb = new QCheckBox(text, parent);
    QPalette p = cb->palette();
    p.setColor(QPalette::WindowText, colour);
    cb->setPalette(p);
    return cb;
}

}  // namespace

TMonitorT::TMonitorT(TdmUtil& util, MonitorOptions options, QWidget* parent)
    : QMainWindow(parent), util_(util), options_(std::move(options)) {
    setObjectName("MonitorT");
    dispatcher_ = std::make_unique<QtMainThreadDispatcher>();
    SerialPort1 = std::make_unique<TSerialPort>(*dispatcher_);
    DataLogHost& logHost = *this;
    ReceiveHost& rxHost = *this;
    files_ = std::make_unique<DataLogFiles>(dataLog_, util_, logHost);
    rx_ = std::make_unique<ReceivePath>(rxHost);
    ReadingsHost& readingsHost = *this;
    CommandsHost& commandsHost = *this;
    readings_ = std::make_unique<Readings>(readingsHost, rx_->Values());
    UploadQueueHost& uploadQueueHost = *this;
    uploadSink_ = std::make_unique<UploadSink>(uploadQueueHost);
    readings_->AddSink(*uploadSink_);
    CreateMqtt();
    ChartRebuildHost& rebuildHost = *this;
    chartFiles_ = std::make_unique<ChartFileRebuild>(rebuildHost, *readings_, *dispatcher_);
    ChartZoomHost& zoomHost = *this;
    chartZoom_ = std::make_unique<ChartZoom>(zoomHost, *dispatcher_);
    commands_ = std::make_unique<StationCommands>(*rx_, commandsHost);

    BuildUi();
    // The web module: the sender thread with its HTTP client, then the
    // host and legends dialogs.
    HttpClient1 = std::make_unique<THttpClient>();
    sender_ = std::make_unique<WWyslac>(
        *dispatcher_,
        [this](const UploadRecord& r, const std::atomic<bool>& cancel) {
            // At shut-down a hanging request is given up, not waited for.
            HttpClient1->SetCancelFlag(&cancel);
            return PostRecordWith(*HttpClient1, r);
        },
        [this](const std::string& line, bool ok, WWyslac::Kind kind) {
            if (options_.headless) {
                if (const auto change = uploadOutcome_.Report(ok && IsSuccessReport(line), line))
                    std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(*change).c_str());
            }
            RunGuarded([&] { uploader_->onMeldunek(line, ok, kind); });
        },
        [this] { return Stamp(); });
    UploadHost& uploadHost = *this;
    uploader_ = std::make_unique<Uploader>(uploadHost, queue_, *sender_);
    hostDialog_ = new TfOKhostSQL(util_, this);
    hostDialog_->FormCreate();
    CreateDialogs();
    legendsDialog_ = new TfEdLegendy(this);
    legendsDialog_->RestorePosition(util_);
    legendsDialog_->SetOnTransfer([this](const std::string& text) {
        uploader_->SendLegends(text);
        pcZakladki->setCurrentWidget(tsReZapisy);
    });
    memoInfo->Attach(&dataLog_);
    dataLog_.SetListener(memoInfo);

    SerialPort1->SetOnRxClusterEvent([this](TSerialPort&) {
        if (holdReceive_)
            ++heldEvents_;
        else
            rx_->SerialPort1RxClusterEvent();
    });
    SerialPort1->SetOnWriteDone([this](TSerialPort&) { rx_->SerialPort1WriteDone(); });
    // The reason of a failed opening, and the failures that mean the device
    // has gone (called on whichever thread reports).
    SerialPort1->SetOnProcessError([this](TSerialPort&, std::uint32_t place, std::uint32_t code,
                                          const std::string&,
                                          std::uint8_t) { PortReport(place, code); });

    // Coarse timers may fire 5 % early or late; the station's timing rules
    // are in whole seconds.
    for (QTimer* t : {&TimerStartCOMa, &TimerCzytajZalegle, &Timer4WWW})
        t->setTimerType(Qt::PreciseTimer);
    TimerStartCOMa.setInterval(TimerMs(5000));
    TimerCzytajZalegle.setInterval(TimerMs(21000));
    Timer4WWW.setInterval(TimerMs(60000));
    connect(&TimerStartCOMa, &QTimer::timeout, this,
            [this] { RunGuarded([this] { TimerStartCOMaTimer(); }); });
    connect(&TimerCzytajZalegle, &QTimer::timeout, this,
            [this] { RunGuarded([this] { TimerCzytajZalegleTimer(); }); });
    connect(&Timer4WWW, &QTimer::timeout, this,
            [this] { RunGuarded([this] { Timer4WWWTimer(); }); });
    TimerCzytajZalegle.start();

    FormCreate();
}

TMonitorT::~TMonitorT() {
    // A rebuild's worker is stopped while the window it plots into is whole.
    chartFiles_.reset();
    chartZoom_.reset();
    FormDestroy();
    // The sender may wait for the main thread with a report: it is let go.
    sender_.reset();
    dataLog_.SetListener(nullptr);
    // The port goes first: its worker must not call into a half-destroyed window.
    SerialPort1.reset();
}

// ---------------------------------------------------------------- building

void TMonitorT::BuildUi() {
    setWindowTitle(kCaption);
    // Until placement is stored, a size that shows the chart well.
    resize(1024, 700);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new QWidget(central);
    Panel1->setObjectName("Panel1");
    auto* p1 = new QHBoxLayout(Panel1);
    p1->setContentsMargins(6, 2, 6, 2);
    cbAktywny = new QCheckBox("RUN", Panel1);
    cbAktywny->setChecked(true);
    cbPOST = new QCheckBox("POST", Panel1);
    cbPOST->setChecked(true);
    cbPOST->setToolTip("wysyłaj na WWW");
    cbDTRRTS = new QCheckBox("DTR", Panel1);
    cbTRS = new QCheckBox("RTS", Panel1);
    for (QCheckBox* cb : {cbAktywny, cbPOST, cbDTRRTS, cbTRS}) p1->addWidget(cb);
    p1->addStretch(1);
    layout->addWidget(Panel1);

    pcZakladki = new QTabWidget(central);
    pcZakladki->setObjectName("pcZakladki");
    layout->addWidget(pcZakladki, 1);
    setCentralWidget(central);

    // "Dane TXT"
    tabDaneTXT = new QWidget;
    memoInfo = new LogMemo(tabDaneTXT);
    memoInfo->setObjectName("memoInfo");
    auto* l1 = new QVBoxLayout(tabDaneTXT);
    l1->setContentsMargins(0, 0, 0, 0);
    l1->addWidget(memoInfo);
    pcZakladki->addTab(tabDaneTXT, "Dane TXT");

    // "W y k r e s"
    babWykres = new QWidget;
    auto* l2 = new QVBoxLayout(babWykres);
    l2->setContentsMargins(0, 0, 0, 0);
    l2->setSpacing(0);
    panLabele = new QWidget(babWykres);
    panLabele->setObjectName("panLabele");
    auto* pl = new QHBoxLayout(panLabele);
    pl->setContentsMargins(6, 2, 6, 2);
    auto big = [](QLabel* l, const QColor& c) {
        QFont f = l->font();
        f.setPointSize(16);
        f.setBold(true);
        l->setFont(f);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, c);
        l->setPalette(p);
    };
    labBaro = new QLabel(" ---- hPa", panLabele);
    big(labBaro, QColor(128, 0, 0));
    labBaroB = new QLabel(panLabele);
    labBaroNPM = new QLabel(panLabele);
    big(labBaroNPM, QColor(0, 128, 0));
    labBaroNPMB = new QLabel(panLabele);
    labBaroNPM2 = new QLabel(panLabele);
    big(labBaroNPM2, palette().color(QPalette::Highlight));
    labBaroNPM2B = new QLabel(panLabele);
    pl->addWidget(labBaro);
    pl->addWidget(labBaroB);
    pl->addStretch(1);
    for (QLabel* l : {labBaroNPM, labBaroNPMB, labBaroNPM2, labBaroNPM2B}) pl->addWidget(l);
    const std::array<QLabel*, 6> labels = {labBaro,     labBaroB,    labBaroNPM,
                                           labBaroNPMB, labBaroNPM2, labBaroNPM2B};
    std::copy(labels.begin(), labels.end(), barometerLabels_);
    panLabele->setVisible(false);
    l2->addWidget(panLabele);

    PlotP = new TPlotPanel(babWykres);
    PlotP->setObjectName("PlotP");
    ConfigureMainWindowChart(*PlotP);
    l2->addWidget(PlotP, 1);

    Panel2 = new QWidget(babWykres);
    Panel2->setObjectName("Panel2");
    auto* p2 = new QHBoxLayout(Panel2);
    p2->setContentsMargins(6, 2, 6, 2);
    const QColor colours[4] = {QColor(0, 128, 0), QColor(0, 0, 255), QColor(255, 0, 0),
                               QColor(0, 0, 128)};
    for (int k = 0; k < 4; ++k) {
        cbKanal[k] = ColouredCheck(QString("kanał %1").arg(k + 1), colours[k], Panel2);
        cbKanal[k]->setObjectName(QString("cbKanal%1").arg(k + 1));
        p2->addWidget(cbKanal[k]);
    }
    p2->addSpacing(12);
    cbUsrednij = new QCheckBox(AvgCaption(60), Panel2);
    cbPunkty = new QCheckBox("zaznacz punkty", Panel2);
    DTPickerOd = new QDateEdit(Panel2);
    DTPickerOd->setDisplayFormat("yyyy-MM-dd");
    DTPickerOd->setCalendarPopup(true);
    mLista2wykresy = new QPushButton("odśwież Rys", Panel2);
    p2->addWidget(cbUsrednij);
    p2->addWidget(cbPunkty);
    p2->addStretch(1);
    p2->addWidget(DTPickerOd);
    p2->addWidget(mLista2wykresy);
    l2->addWidget(Panel2);
    pcZakladki->addTab(babWykres, "W y k r e s");

    // "POST"
    tsReZapisy = new QWidget;
    logiWeb = new QPlainTextEdit(tsReZapisy);
    logiWeb->setObjectName("logiWeb");
    logiWeb->setPlainText("komunikacja");
    logiWeb->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Weeks unattended: the oldest lines go.
    logiWeb->setMaximumBlockCount(kWebMemoBlocks);
    auto* l3 = new QVBoxLayout(tsReZapisy);
    l3->setContentsMargins(0, 0, 0, 0);
    l3->addWidget(logiWeb);
    pcZakladki->addTab(tsReZapisy, "POST");

    // "MAC"
    tabMAC = new QWidget;
    meMAC = new QPlainTextEdit(tabMAC);
    meMAC->setObjectName("meMAC");
    meMAC->setPlainText("adresy układów DS1820");
    butSetDate = new QPushButton("ustaw datę wg PC", tabMAC);
    butGodzinaUstaw = new QPushButton("ustaw godzine w.g PC", tabMAC);
    edSekund = new QLineEdit("00", tabMAC);
    edSekund->setMaximumWidth(60);
    edSekund->setToolTip("korekta w sekundach");
    butMAC2arduino = new QPushButton("wyślij do EEPROM arduino", tabMAC);
    butWyslijPolecen = new QPushButton("wyślij polecenie", tabMAC);
    butHelp = new QPushButton("jakie polecenia ?", tabMAC);
    auto* l4 = new QHBoxLayout(tabMAC);
    l4->addWidget(meMAC, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(butSetDate);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(butGodzinaUstaw, 1);
    timeRow->addWidget(edSekund);
    buttons->addLayout(timeRow);
    buttons->addWidget(butMAC2arduino);
    buttons->addWidget(butWyslijPolecen);
    buttons->addWidget(butHelp);
    buttons->addStretch(1);
    l4->addLayout(buttons);
    pcZakladki->addTab(tabMAC, "MAC");

    sBar = new QStatusBar(this);
    sBar->setToolTip("folder");
    // Long texts (a by-id port name) are elided, never widen the window.
    statusText_ = new ElidedLabel(sBar);
    sBar->addWidget(statusText_, 1);
    setStatusBar(sBar);

    BuildMenus();

    connect(cbAktywny, &QCheckBox::clicked, this,
            [this] { RunGuarded([this] { cbAktywnyClick(); }); });
    connect(cbDTRRTS, &QCheckBox::clicked, this,
            [this] { RunGuarded([this] { cbDTRRTSClick(); }); });
    connect(cbTRS, &QCheckBox::clicked, this, [this] { RunGuarded([this] { cbTRSClick(); }); });
    connect(cbPOST, &QCheckBox::clicked, this,
            [this] { RunGuarded([this] { uploader_->cbPOSTClick(cbPOST->isChecked()); }); });
    const std::tuple<QPushButton*, const char*, void (StationCommands::*)()> macButtons[] = {
        {butSetDate, "butSetDate", &StationCommands::butSetDateClick},
        {butGodzinaUstaw, "butGodzinaUstaw", &StationCommands::butGodzinaUstawClick},
        {butMAC2arduino, "butMAC2arduino", &StationCommands::butMAC2arduinoClick},
        {butWyslijPolecen, "butWyslijPolecen", &StationCommands::butWyslijPolecenClick},
        {butHelp, "butHelp", &StationCommands::butHelpClick},
    };
    for (const auto& [button, name, handler] : macButtons) {
        button->setObjectName(name);
        connect(button, &QPushButton::clicked, this,
                [this, h = handler] { RunGuarded([this, h] { (commands_.get()->*h)(); }); });
    }
    ConnectChartPage();
    BuildConnection();
}

void TMonitorT::BuildMenus() {
    QMenuBar* bar = menuBar();
    QMenu* plik = bar->addMenu("Plik");
    mComPort = plik->addMenu("COM...");
    mComPort->setObjectName("mComPort");
    // The devices come and go: the list is made afresh at each opening.
    connect(mComPort, &QMenu::aboutToShow, this, [this] { BuildComMenu(SerialPort1->CommPort()); });
    mBaud = plik->addMenu("Baud");
    auto baud = [this](const char* caption, int value) {
        QAction* a = mBaud->addAction(caption);
        a->setCheckable(true);
        a->setData(value);
        connect(a, &QAction::triggered, this,
                [this, a] { RunGuarded([this, a] { m19200Click(a); }); });
        return a;
    };
    m19200 = baud("19200", 19200);
    m57600 = baud("57600", 57600);
    m115200 = baud("115200", 115200);
    mZapisz = plik->addAction("zapisz");
    mCzytajPlik = plik->addAction("odczytaj");
    mTest = plik->addAction("wypełnij 18000 tys linii");
    plik->addSeparator();
    mExit = plik->addAction("Exit");
    connect(mZapisz, &QAction::triggered, this, [this] { RunGuarded([this] { mZapiszClick(); }); });
    connect(mCzytajPlik, &QAction::triggered, this,
            [this] { RunGuarded([this] { mCzytajPlikClick(); }); });
    connect(mTest, &QAction::triggered, this, [this] { RunGuarded([this] { mTestClick(); }); });
    connect(mExit, &QAction::triggered, this, [this] { mExitClick(); });

    QMenu* edycja = bar->addMenu("Edycja");
    QMenu* wsp = edycja->addMenu("współczynniki kalibracyjne");
    mZakres[0] = wsp->addAction("(R1) Zakres 1");
    mZakres[1] = wsp->addAction("(R2) Zakres 2");
    mZakres[2] = wsp->addAction("(R3) Zakres 3");
    mLegendy = edycja->addAction("Legendy");
    mHostConfig = edycja->addAction("gdzie wysyłać");
    mMqtt = edycja->addAction("MQTT");
    mMqtt->setObjectName("mMqtt");

    QMenu* narzedzia = bar->addMenu("narzędzia");
    mIleDoSredniej = narzedzia->addAction("zapis średnich z ilu pomiarów ? (jest:)");
    mPlotAvgDelta = narzedzia->addAction("rysuje uśrednione co 60 sek.");
    mMaskaDaty = narzedzia->addAction("format daty w nazwie pliku");
    mPOSTdelta = narzedzia->addAction("co ile wysyłać na WWW");
    narzedzia->addSeparator();
    mAutoStart = narzedzia->addAction("Uruchom razem z Windows");
    mAutoStart->setCheckable(true);
    connect(mPOSTdelta, &QAction::triggered, this,
            [this] { RunGuarded([this] { mPOSTdeltaClick(); }); });
    connect(mHostConfig, &QAction::triggered, this,
            [this] { RunGuarded([this] { mHostConfigClick(); }); });
    connect(mLegendy, &QAction::triggered, this,
            [this] { RunGuarded([this] { mLegendyClick(); }); });
    connect(mMqtt, &QAction::triggered, this, [this] { RunGuarded([this] { mMqttClick(); }); });
    connect(mIleDoSredniej, &QAction::triggered, this,
            [this] { RunGuarded([this] { mIleDoSredniejClick(); }); });
    connect(mMaskaDaty, &QAction::triggered, this,
            [this] { RunGuarded([this] { mMaskaDatyClick(); }); });
    connect(mAutoStart, &QAction::triggered, this,
            [this] { RunGuarded([this] { mAutoStartClick(); }); });

    BuildCommandMenu(bar->addMenu("Ustaw"));

    QMenu* help = bar->addMenu("Help");
    mOpis = help->addAction("Opis");
    mAbout = help->addAction("About");
    connect(mOpis, &QAction::triggered, this, [this] { mOpisClick(); });
    for (int n = 1; n <= 3; ++n)
        connect(mZakres[n - 1], &QAction::triggered, this,
                [this, n] { RunGuarded([this, n] { mZakresClick(n); }); });
    connect(mAbout, &QAction::triggered, this, [this] { RunGuarded([this] { mAboutClick(); }); });
}

void TMonitorT::BuildCommandMenu(QMenu* ustaw) {
    const std::tuple<const char*, const char*, void (StationCommands::*)()> items[] = {
        {"mPoziomH", "nad poziomem morza [m]", &StationCommands::mPoziomHClick},
        {"mPoziomL", "średnia temperatura powietrza", &StationCommands::mPoziomLClick},
        {"mWspCal", "kalibracja", &StationCommands::mWspCalClick},
        {"mDeltaT", "co ile sekund pomiar", &StationCommands::mDeltaTClick},
        {"mIledoredniej", "ile do średniej", &StationCommands::mIledoredniejClick},
        {"mRead", "R - czytaj ostatni pomiar", &StationCommands::mReadClick},
        {"mCzysc", "F - czyści bufor", &StationCommands::mCzyscClick},
        {"mInfo", "Info", &StationCommands::mInfoClick},
    };
    for (const auto& [name, caption, handler] : items) {
        QAction* a = ustaw->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this,
                [this, h = handler] { RunGuarded([this, h] { (commands_.get()->*h)(); }); });
    }
}

// ---------------------------------------------------------------- life cycle

void TMonitorT::FormCreate() {
    // 1. Numbers use "." whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // 3. Chart.
    PlotP->SetSeriesCount(4);
    PlotP->SetSeriesName(0, "A");
    PlotP->SetSeriesName(1, "B");
    PlotP->SetSeriesName(2, "C");
    for (int i = 0; i < 4; ++i) PlotP->SetSeriesVisible(i, true);
    // 4. Placement.
    {
        const QSize screen = QApplication::primaryScreen() ? QApplication::primaryScreen()->size()
                                                           : QSize(1920, 1080);
        const FormPlacement p = LoadFormPlacement(
            util_, settings::kFormMonitorT, CurrentPlacement(), screen.width(), screen.height());
        ApplyPlacement(p);
    }
    // 5. Chart averaging.
    ApplyChartAveraging(false);
    // 6, 7. Port.
    const std::string port =
        options_.portOverride.value_or(TextToPath(util_.Read(settings::kNrComPort)));
    SerialPort1->SetCommPort(port);
    SerialPort1->SetBaudRate(static_cast<std::uint32_t>(util_.Read(settings::kNrComPortBaud)));
    BuildComMenu(port);
    // 8, 9, 11.
    ReadCountsAndMask();
    // 10. Autostart.
    std::string entry;
    GetAutoStart(util_, settings::kApplicationTitle, entry);
    mAutoStart->setChecked(entry == options_.programPath);
    AppendWeb(Stamp() + "Auto Run: " + PathToText(entry));
    // 12, 13.
    uploader_->SetLastSent(util_.Read(settings::kOstatniWyslany));
    // 14.
    DTPickerOd->setDate(QDate::currentDate().addDays(-1));
    // 15 to 17.
    TimerStartCOMa.start();
    pcZakladki->setCurrentIndex(util_.Read(settings::kIdxZakladki));
    cbPOST->setChecked(util_.Read(settings::kPost));

    // The memo's own text at creation: not a change of the log.
    std::string banner;
    for (const char* line : kMemoBanner) banner += Cp(line) + "\r\n";
    dataLog_.SetText(banner);
}

FormPlacement TMonitorT::CurrentPlacement() const {
    FormPlacement p;
    p.left = x();
    p.top = y();
    p.width = width();
    p.height = height();
    p.fontName = S(font().family());
    p.fontSize = font().pointSize();
    // The settings keep the colour as 0x00BBGGRR.
    const QColor c = palette().color(QPalette::WindowText);
    p.fontColor = c.red() | (c.green() << 8) | (c.blue() << 16);
    p.charset = kEastEuropeCharset;
    return p;
}

void TMonitorT::ApplyPlacement(const FormPlacement& p) {
    move(p.left, p.top);
    if (p.width > 0 && p.height > 0) resize(p.width, p.height);
    QFont f = font();
    if (!p.fontName.empty()) f.setFamily(Q(p.fontName));
    if (p.fontSize > 0) f.setPointSize(p.fontSize);
    setFont(f);
    if (p.fontColor >= 0) {
        QPalette pal = palette();
        pal.setColor(QPalette::WindowText, QColor(p.fontColor & 0xFF, (p.fontColor >> 8) & 0xFF,
                                                  (p.fontColor >> 16) & 0xFF));
        setPalette(pal);
    }
}

void TMonitorT::ReadCountsAndMask() {
    files_->LoadSettings();
    mIleDoSredniej->setText(Q(files_->AveragingCountCaption()));
    postInterval_ = util_.Read(settings::kWysylkaPost);
    mPOSTdelta->setText(QString("POST na WWW co %1 [sek]").arg(postInterval_));
    mMaskaDaty->setText(Q(files_->MaskCaption()));
}

std::string TMonitorT::OpenedMessage() {
    return Stamp() + "Open: " + PathToText(SerialPort1->CommPort()) + ": " +
           std::to_string(SerialPort1->BaudRate());
}

void TMonitorT::ApplyChartAveraging(bool attach) {
    PlotP->SetAvgWindow(1.0 / 1440.0);
    PlotP->SetPrecision(100);
    const bool avg = util_.Read(settings::kAvg);
    PlotP->SetAveraging(avg);
    cbUsrednij->setChecked(avg);
    const int seconds = util_.Read(settings::kPlotAvgDelta);
    PlotP->SetAvgWindow(seconds / 86400.0);
    const int fullDays = util_.Read(settings::kDniPelnejRozdzielczosci);
    PlotP->SetFullResolutionDays(fullDays < 1 ? 1 : fullDays);
    cbUsrednij->setText(AvgCaption(seconds));
    if (attach)
        mPlotAvgDelta->setText(QString("rysuje uśrednione co %1 sek.").arg(seconds));
    else
        mPlotAvgDelta->setText(AvgCaption(seconds));
}

void TMonitorT::TimerStartCOMaTimer() {
    util_.valueCount = -1;
    AppendLog(Stamp() + "Start");
    const bool open = OpenPort();
    TimerStartCOMa.stop();
    std::string msg;
    if (open)
        msg = OpenedMessage();
    else
        msg = Stamp() + "ERROR open: " + PathToText(SerialPort1->CommPort());
    AppendWeb(msg);
    ShowStatus(msg);
    if (!open) ExplainOpenFailure();
}

void TMonitorT::AttachStation(const std::string& kind) {
    const std::string folder = "\\ardu\\" + kind;
    if (util_.stationFolder == folder) return;
    AppendLog(Stamp() + "= = = S T A R T = = =");
    setWindowTitle(Q("Terminal 4 " + kind));
    stationKind_ = kind;
    util_.stationFolder = folder;
    ApplyChartAveraging(true);
    ReadCountsAndMask();
    logiWeb->appendPlainText(mPOSTdelta->text());
    // 7. Unsent records of this kind.
    std::string why;
    const std::string unsent = util_.UnsentFileName(&why);
    if (!why.empty()) AppendWeb(Stamp() + why);
    why.clear();
    if (queue_.Load(unsent, &why)) {
        if (!queue_.CutLine().empty()) {
            // A write cut short by a full disk: never posted as a reading.
            const std::string text = Cp("pominięty niepełny ostatni wiersz ") + PathToText(unsent) +
                                     ": " + queue_.CutLine();
            AppendWeb(Stamp() + text);
            std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(text).c_str());
        }
        // Records queued before the station was known join its file now.
        try {
            queue_.Flush();
        } catch (const std::exception& e) {
            AppendWeb(Stamp() + e.what());
        }
        CheckQueuePersisted();
    } else {
        // Kept as it is: writing the queue over it would lose its records.
        AppendWeb(Stamp() + Cp("nie można odczytać ") + PathToText(unsent) + ": " + why);
    }
    uploader_->SetLastSent(util_.Read(settings::kOstatniWyslany));
    DTPickerOd->setDate(QDate::currentDate().addDays(-1));
    // 9. The last saved log.
    files_->StartupReload();
    // 10.
    for (int k = 0; k < 4; ++k) {
        cbKanal[k]->setText(Q(LegendCaption(util_.Read(settings::kLegendName[k]),
                                            util_.Read(settings::kLegendUnit[k]))));
    }
    cbPOST->setChecked(util_.Read(settings::kPost));
    // 12.
    hostDialog_->SetTable(util_.Read(settings::kTabela));
    hostDialog_->SetAddress(util_.Read(settings::kAdresSkryptu));
    for (int k = 0; k < 4; ++k) cbKanal[k]->setChecked(util_.Read(settings::kAktywneKan[k]));
    // Enabled, not restarted: a second attach must not hold the upload off.
    uploader_->SetTimerEnabled(true);
    // MQTT publishing under this station's settings.
    StartMqtt();
    // A service tells its journal where this station's settings are and
    // whether it uploads (off by default).
    if (options_.headless) {
        const std::string line =
            UploadSettingsLine(kind, PathToText(util_.IniFileName()), cbPOST->isChecked(),
                               postInterval_, UploadAddress(), UploadTable());
        std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(line).c_str());
    }
}

void TMonitorT::RetryQueueFile() {
    if (!queue_.CannotPersist()) return;
    try {
        queue_.FlushIfDue();
    } catch (const std::exception&) {
        // still refused: said once by CheckQueuePersisted
    }
    CheckQueuePersisted();
}

void TMonitorT::TimerCzytajZalegleTimer() {
    // The upload timer may be backing off for a minute; the station's
    // buffer must not wait that long once the disk has room again.
    RetryQueueFile();
    rx_->TimerCzytajZalegleTimer();
}

void TMonitorT::Timer4WWWTimer() {
    // Records the disk refused are tried again here, so the station's
    // buffer is read again as soon as there is room.
    RetryQueueFile();
    uploader_->Timer4WWWTimer();
    CheckQueuePersisted();
}

bool TMonitorT::MayReleaseReadings() const {
    return !queue_.CannotPersist();
}

void TMonitorT::CheckQueuePersisted() {
    const PersistWatch::Report r = queueWatch_.Check(queue_);
    if (r.text.empty()) return;
    // While held, the status bar keeps saying so whatever else was shown.
    ShowStatus(Stamp() + r.text);
    if (!r.changed) return;
    AppendWeb(Stamp() + r.text);
    std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(r.text).c_str());
}

void TMonitorT::FormDestroy() {
    // "offline" to the broker, and its queue into its file.
    mqtt_->Stop();
    const std::string path = util_.UnsentFileName();
    // The queue goes back to its file first, whatever else fails later; a
    // file that could not be read keeps its records. After a port change
    // with no station greeting since, that is still the last station's file.
    if (path.size() >= 2 || !queue_.Path().empty()) {
        try {
            queue_.Save();
        } catch (const std::exception& e) {
            ReportError(e.what());
        }
    }
    // What no file took is lost with the process: it goes to standard error
    // (the service's journal) and into the exit status.
    const std::vector<std::string> lost = UnsavedReport(queue_);
    for (const std::string& line : lost)
        std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(line).c_str());
    if (!lost.empty() && options_.recordsLostAtExit) options_.recordsLostAtExit(queue_.Unsaved());
    if (path.size() < 2) return;
    if (!endOfSession_) FormDestroyWspolna();
}

void TMonitorT::FormDestroyWspolna() {
    if (shutDownDone_) return;
    shutDownDone_ = true;
    ClosePort();
    SaveState();
}

void TMonitorT::SaveState() {
    try {
        files_->ManualSave();
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
    try {
        if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
            SaveFormPlacement(util_, settings::kFormMonitorT, CurrentPlacement());
        util_.Write(settings::kAvg, PlotP->Averaging());
        // Written back so that the horizon can be found and changed in the file.
        util_.Write(settings::kDniPelnejRozdzielczosci,
                    static_cast<int>(PlotP->FullResolutionDays()));
        util_.Write(settings::kIdxZakladki, pcZakladki->currentIndex());
        util_.Write(settings::kPost, cbPOST->isChecked());
        hostDialog_->FormDestroy();
        legendsDialog_->StorePosition(util_);
        edWspDialog_->FormDestroy();
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
}

void TMonitorT::CommitData() {
    // A checkpoint of the session manager, not its end: everything is saved,
    // the port stays open and recording goes on.
    const bool quiet = quietErrors_;
    quietErrors_ = true;
    try {
        if (util_.UnsentFileName().size() >= 2) queue_.Save();
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
    SaveState();
    quietErrors_ = quiet;
}

void TMonitorT::WMQueryEndSession() {
    // Nobody is there to click a message box: failures go to the log.
    quietErrors_ = true;
    FormDestroyWspolna();
    endOfSession_ = true;
}

void TMonitorT::closeEvent(QCloseEvent* event) {
    chartFiles_->Cancel();
    chartZoom_->Cancel();
    event->accept();
}

// ---------------------------------------------------------------- ports

void TMonitorT::BuildComMenu(const std::string& current) {
    mComPort->clear();
    std::vector<std::string> ports;
    if (options_.enumPorts)
        ports = options_.enumPorts();
    else
        EnumComPorts(ports);
    // The port in use is always offered, also when it came from --port.
    bool listed = current.empty();
    for (const std::string& name : ports) listed = listed || SamePort(name, current);
    if (!listed) ports.push_back(current);
    for (const std::string& name : ports) {
        // Names are device paths: shown as text, kept as they are.
        QAction* item = mComPort->addAction(Q(PathToText(name)));
        item->setObjectName(Q("m" + PathToText(name)));
        item->setData(QString::fromStdString(name));
        item->setCheckable(true);
        item->setChecked(SamePort(name, current));
        connect(item, &QAction::triggered, this,
                [this, item] { RunGuarded([this, item] { mKomClick(item); }); });
    }
}

void TMonitorT::mKomClick(QAction* item) {
    if (item == nullptr) return;
    AppendLog(Stamp() + "Active 7<");
    ClosePort();
    QThread::msleep(1000);
    AppendLog(Stamp() + "Active 5<");
    ClosePort();
    for (QAction* a : mComPort->actions()) a->setChecked(false);
    SerialPort1->SetCommPort(item->data().toString().toStdString());
    item->setChecked(true);
    // The old device asked for nothing the new one holds.
    rx_->SetPendingRecords(0);
    std::string msg;
    if (OpenPort()) {
        // The lines so far go to the station's file before the log starts
        // afresh; a log that cannot be saved is kept.
        const bool saved = SaveUnsavedLog();
        util_.stationFolder = std::string(TdmUtil::kBaseStationFolder);
        util_.Write(settings::kNrComPort, PathToText(SerialPort1->CommPort()));
        msg = OpenedMessage();
        if (saved) dataLog_.Clear();
        PlotP->ClearPlot();
    } else {
        msg = Stamp() + "ERROR open: " + PathToText(SerialPort1->CommPort());
    }
    AppendWeb(msg);
    ShowStatus(msg);
    AppendLog(msg);
    if (!SerialPort1->Active()) ExplainOpenFailure();
}

void TMonitorT::m19200Click(QAction* item) {
    if (item == nullptr) return;
    AppendLog(Stamp() + "Active 6<");
    ClosePort();
    for (QAction* a : {m19200, m57600, m115200}) a->setChecked(false);
    const int baud = item->data().toInt();
    SerialPort1->SetBaudRate(static_cast<std::uint32_t>(baud));
    item->setChecked(true);
    std::string msg;
    if (OpenPort()) {
        util_.Write(settings::kNrComPortBaud, baud);
        msg = Stamp() + "Baud rate: " + std::to_string(baud);
    } else {
        msg = Stamp() + "ERROR set baud rate: " + std::to_string(baud);
    }
    AppendWeb(msg);
    ShowStatus(msg);
    if (!SerialPort1->Active()) ExplainOpenFailure();
}

void TMonitorT::cbAktywnyClick() {
    AppendLog(Stamp() + "Active 8<");
    if (cbAktywny->isChecked())
        OpenPort();
    else
        ClosePort();
}

void TMonitorT::cbDTRRTSClick() {
    AppendLog(Stamp() + "DTR/RTS");
    SerialPort1->SetDTRState(cbDTRRTS->isChecked());
}

void TMonitorT::cbTRSClick() {
    AppendLog(Stamp() + "RTS");
    SerialPort1->SetRTSState(cbTRS->isChecked());
}

bool TMonitorT::OpenPort() {
    openError_ = 0;
    SerialPort1->SetActive(true);
    PortOpened(SerialPort1->Active());
    return SerialPort1->Active();
}

void TMonitorT::ExplainOpenFailure() {
    const int code = openError_.load();
    if (code != 0)
        AppendWeb(Stamp() + PortOpenFailureReason(PortDevicePath(SerialPort1->CommPort()), code));
}

void TMonitorT::ClosePort() {
    SerialPort1->SetActive(false);
}

// ---------------------------------------------------------------- menus

void TMonitorT::mAutoStartClick() {
    const bool on = mAutoStart->isChecked();
    AppendWeb(Stamp() + "auto run: " + std::string(settings::kApplicationTitle) + " " +
              options_.programPath);
    SetAutoStart(util_, settings::kApplicationTitle, options_.programPath, on);
    AppendWeb(Stamp() + (on ? "auto run start" : "STOP auto run"));
}

void TMonitorT::mOpisClick() {
    logiWeb->clear();
    logiWeb->appendPlainText("Pomiarnik - monitor stacji pomiarowej, zespół Pomiarnika, 2026");
    logiWeb->appendPlainText("");
    logiWeb->appendPlainText(" Program obsługuje DS1820");
    logiWeb->appendPlainText(" podłączone i buforowane układem Arduino");
    logiWeb->appendPlainText(" z dokładnym zegarem DS3231 oraz pamięcią 4KB na 128 rekordów");
    pcZakladki->setCurrentWidget(tsReZapisy);
}

void TMonitorT::mExitClick() {
    close();
}

void TMonitorT::mZapiszClick() {
    files_->ManualSave();
}

bool TMonitorT::SaveUnsavedLog() {
    if (!dataLog_.Modified() || dataLog_.Count() == 0) return true;
    if (files_->PeriodicSave()) return true;
    // The periodic save writes no name twice; the file already written in
    // this period of the date mask (this second, by default) takes the
    // lines at its end instead.
    const std::string name = files_->OpenDialogFileName();
    return !name.empty() && name == files_->LastLogPath() && files_->ManualSave();
}

void TMonitorT::mCzytajPlikClick() {
    const std::string presetPath = files_->OpenDialogFileName();
    QString chosen;
    if (options_.openFileQuery) {
        const std::optional<std::string> picked = options_.openFileQuery(presetPath);
        if (picked) chosen = QFile::decodeName(QByteArray::fromStdString(*picked));
    } else {
        chosen =
            QFileDialog::getOpenFileName(this, "odczytaj", QFile::decodeName(presetPath.c_str()),
                                         "tekstowe (*.txt);;wszystkie (*)");
    }
    if (chosen.isEmpty()) return;
    // The lines since the last save go to their file first, or they would be
    // in no file at all. With no station attached there is no file to save
    // to (nothing before the greeting is ever saved); a save that failed has
    // been reported, and the log stays as it is.
    if (util_.stationFolder != TdmUtil::kBaseStationFolder && !SaveUnsavedLog()) {
        ShowStatus(Cp("nie odczytał: log niezapisany, zostaje na ekranie"));
        return;
    }
    std::string path = QFile::encodeName(chosen).toStdString();
    // A name typed without its extension means the text file.
    if (!QFileInfo::exists(chosen) && QFileInfo(chosen).suffix().isEmpty() &&
        QFileInfo::exists(chosen + ".txt"))
        path += ".txt";
    files_->ReadBack(path);
}

void TMonitorT::mPOSTdeltaClick() {
    const std::optional<std::string> text =
        InputQuery(Cp("wysyłanie na WWW (POST)"), "Co ile sekund", std::to_string(postInterval_));
    if (!text) return;
    const std::optional<int> n = ParseCountInput(*text);
    if (!n) return;
    postInterval_ = *n;
    mPOSTdelta->setText(Q("POST na WWW co " + *text + " [sek]"));
    util_.Write(settings::kWysylkaPost, postInterval_);
}

void TMonitorT::mHostConfigClick() {
    hostDialog_->mHostConfigClick();
}

void TMonitorT::mLegendyClick() {
    Legends l;
    for (std::size_t k = 0; k < 4; ++k) {
        l.names[k] = util_.Read(settings::kLegendNameDialog[k]);
        l.units[k] = util_.Read(settings::kLegendUnitDialog[k]);
    }
    legendsDialog_->SetFields(l);
    if (legendsDialog_->exec() == QDialog::Accepted) ApplyLegends(legendsDialog_->Fields());
}

void TMonitorT::ApplyLegends(const Legends& l) {
    for (std::size_t k = 0; k < 4; ++k)
        cbKanal[k]->setText(Q(LegendCaption(l.names[k], l.units[k])));
    for (std::size_t k = 0; k < 4; ++k) {
        util_.Write(settings::kLegendName[k], l.names[k]);
        util_.Write(settings::kLegendUnit[k], l.units[k]);
    }
    std::array<mqtt::Legend, 4> legends;
    for (std::size_t k = 0; k < 4; ++k) legends[k] = {l.names[k], l.units[k]};
    mqtt_->SetLegends(legends);
}

void TMonitorT::mTestClick() {
    files_->TestFill();
}

void TMonitorT::mMaskaDatyClick() {
    const std::optional<std::string> text = InputQuery(
        DataLogFiles::MaskDialogCaption(), DataLogFiles::MaskDialogPrompt(), util_.FileNameMask);
    if (!text) return;
    mMaskaDaty->setText(Q(files_->ApplyDateMask(*text)));
}

void TMonitorT::mIleDoSredniejClick() {
    const std::optional<std::string> text =
        InputQuery(DataLogFiles::AveragingDialogCaption(), DataLogFiles::AveragingDialogPrompt(),
                   files_->AveragingDialogText());
    if (!text) return;
    if (const auto caption = files_->ApplyAveragingCount(*text))
        mIleDoSredniej->setText(Q(*caption));
}

void TMonitorT::RunGuarded(const std::function<void()>& fn) {
    // Errors the store raises (a refused settings write) end the operation
    // and are shown, as the application's top-level handler would.
    try {
        fn();
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
}

}  // namespace pom
