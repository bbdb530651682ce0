// Program entry: the application title, then the utility module, the main
// window, and the message loop until the main window closes.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/logic/HeadlessReport.h"
#include "app/ui/SignalBridge.h"
#include "app/ui/TMonitorT.h"
#include "dialogs/VersionRecord.h"
#include "plot/logic/PlotModel.h"
#include "plot/ui/TPlotPanel.h"
#include "serial/SerialPort.h"
#include "util/Clock.h"
#include "util/Cp1250.h"
#include "util/SettingsKeys.h"
#include "util/TdmUtil.h"

namespace {

constexpr const char* kHelp =
    "Użycie: pomiarnik [opcje]\n"
    "Monitor i rejestrator stacji pomiarowej Arduino (DS1820, BME280, DS3231).\n"
    "\n"
    "Opcje:\n"
    "  --port NAZWA   użyj tego portu szeregowego w tym uruchomieniu zamiast\n"
    "                 zapisanego w ustawieniach (nie zapisuje go); nazwa bez\n"
    "                 \"/\" oznacza urządzenie w /dev, np. ttyACM0\n"
    "  --headless     bez okna, jako usługa (np. systemd): te same pliki,\n"
    "                 ustawienia i wysyłka; na standardowe wyjście błędów: błędy,\n"
    "                 pliki ustawień, czy wysyła i dokąd, każda zmiana wyniku wysyłki\n"
    "  --version      pokaż wersję programu\n"
    "  --help         pokaż ten opis\n"
    "\n"
    "Ustawienia: $XDG_CONFIG_HOME/ardu/ (domyślnie ~/.config/ardu/): port w\n"
    "ardu/pomiarnik.ini, wysyłka (POST=1 włącza, adres [PostWWW] adresSkryptu)\n"
    "w ardu/DS3231/pomiarnik.ini lub ardu/BME280/pomiarnik.ini, wg rodzaju stacji;\n"
    "tam też publikowanie MQTT: sekcja [MQTT] (Wlacz=1, Host, Port, Uzytkownik,\n"
    "Haslo, TLS, PlikCA, Temat, PrefiksOdkrywania, Wersja).\n"
    "Kod wyjścia 3: rekordy kolejki wysyłki nie zapisane na dysku (wypisane\n"
    "na standardowe wyjście błędów).\n";

// Records of the upload queue that no file took at the end of the run.
constexpr int kExitRecordsLost = 3;

// Once a second on standard output, for the soak benchmark: the chart's
// redraws so far, their time together, the longest since the last report,
// the points it took, those it keeps and its size in pixels.
void StartRedrawReport(pom::TMonitorT& window) {
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window] {
        pom::TPlotPanel& chart = window.Plot();
        long long kept = 0;
        for (int i = 0; i < pom::PlotModel::kSlots; ++i) kept += chart.PointCount(i);
        std::printf(
            "wykres: rysowania=%d ns=%lld max_ns=%lld punkty=%lld trzymane=%lld rozmiar=%dx%d\n",
            chart.RedrawCount(), static_cast<long long>(chart.RedrawNanoseconds()),
            static_cast<long long>(chart.TakeLongestRedraw()),
            static_cast<long long>(chart.PointsAdded()), kept, chart.width(), chart.height());
        std::fflush(stdout);
    });
    timer->start(1000);
}

std::string ProgramPath(const char* argv0) {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) return std::string(buf, static_cast<std::size_t>(n));
    return argv0;
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit (a service's LimitFSIZE=) must fail a write, not end
    // the process with readings in memory.
    ::signal(SIGXFSZ, SIG_IGN);
    pom::MonitorOptions options;
    options.programPath = ProgramPath(argv[0]);
    options.version = pom::version_record::ProgramVersionNumber();
    std::size_t recordsLost = 0;
    bool redrawReport = false;
    options.recordsLostAtExit = [&recordsLost](std::size_t n) { recordsLost = n; };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("pomiarnik %s\n", pom::version_record::ProgramVersionNumber().c_str());
            return 0;
        }
        if (a == "--headless") {
            options.headless = true;
        } else if (a == "--port" && i + 1 < argc) {
            options.portOverride = argv[++i];  // a device path, kept as it is
        } else if (a.rfind("--port=", 0) == 0) {
            options.portOverride = a.substr(7);
        } else if (a == "--time-scale" && i + 1 < argc) {
            // Not in --help: for soak runs, which live through months in an
            // hour. The clock and the station's timers run this many times
            // faster.
            char* end = nullptr;
            options.timeScale = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(options.timeScale > 0) ||
                options.timeScale > 1e6) {
                std::fprintf(stderr, "pomiarnik: zła wartość --time-scale: %s\n", argv[i]);
                return 2;
            }
        } else if (a == "--redraw-report") {
            redrawReport = true;  // not in --help either: the soak benchmark's
        } else if (a.rfind("-", 0) == 0 && a.rfind("-platform", 0) != 0) {
            std::fprintf(stderr, "pomiarnik: nieznana opcja %s (zobacz --help)\n", a.c_str());
            return 2;
        }
    }

    if (const std::string problem = pom::SettingsFolderProblem(); !problem.empty()) {
        std::fprintf(stderr, "pomiarnik: %s\n", pom::Cp1250ToUtf8(problem).c_str());
        return 1;
    }

    // Without a window the program needs no display: Qt's offscreen platform
    // stands in, whatever the session's variables say.
    if (options.headless) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName(
        QString::fromUtf8(pom::settings::kApplicationTitle.data(),
                          static_cast<qsizetype>(pom::settings::kApplicationTitle.size())));

    // Qt's own dialogs (OK, Cancel, the file dialog) in Polish.
    QTranslator qtPolish;
    if (qtPolish.load(QLocale(QLocale::Polish), "qtbase", "_",
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtPolish);

    const pom::ScaledClock fastClock(options.timeScale);
    pom::TdmUtil util(options.timeScale == 1.0 ? pom::DefaultClock() : fastClock);
    int rc = 0;
    {
        pom::TMonitorT window(util, options);
        pom::SignalBridge signals_;
        QObject::connect(&signals_, &pom::SignalBridge::endOfSession, &window, [&window] {
            window.WMQueryEndSession();
            window.close();
            // A window never shown does not end the loop by closing.
            if (window.isHidden()) QApplication::quit();
        });
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                         [&window](QSessionManager&) { window.CommitData(); });
        if (redrawReport) StartRedrawReport(window);
        if (options.headless) {
            // The journal's first line: which files hold the settings (the
            // station's own, with the uploads, are read when it greets).
            const std::string line = pom::StartSettingsLine(
                pom::PathToText(util.IniFileName()),
                pom::PathToText(util.AppDataFolder()) + "/ardu/<DS3231|BME280>/pomiarnik.ini",
                pom::PathToText(window.Port().CommPort()),
                static_cast<int>(window.Port().BaudRate()));
            std::fprintf(stderr, "pomiarnik: %s\n", pom::Cp1250ToUtf8(line).c_str());
        } else {
            window.show();
        }
        rc = app.exec();
    }
    if (recordsLost > 0 && rc == 0) rc = kExitRecordsLost;
    return rc;
}
