// A long unattended run, compressed: the real program (its window on the
// offscreen platform) reads the simulated station on a pseudo-terminal, six
// channels every 10 s of station time, and uploads to its own recorder on
// 127.0.0.1. Station, program clock and timers run --scale times faster.
// Every --sample-days of simulated time it prints the program's resident
// memory, its CPU per reading and the chart's redraw time, so that growth
// with the run's length shows as a rising column.
//
//   soak_bench [--days 365] [--scale 1500] [--sample-days 7] [--keep]
//
// The program takes about 200 readings a second here (each one an "A:" line,
// an "R" asked and an "R:" line answered); above that the station's buffer of
// 128 readings overflows, which the "lag" column shows.
//
// A child process, not the widget in-process: the figure asked for is the
// whole program's, with its serial thread, sender and log files, and its
// /proc entry belongs to it alone.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "util/IniFile.h"
#include "web/THttpClient.h"

namespace {

using namespace pom;
using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kIntervalSeconds = 10;  // the station's measuring interval
constexpr int kPostSeconds = 300;     // one upload record per 5 minutes
constexpr int kChannelsPlotted = 4;   // the chart takes the first four values
constexpr int kStationBuffer = 128;   // readings the station keeps unread
constexpr int kWindowWidth = 1192;    // gives a chart of 1188x702
constexpr int kWindowHeight = 822;

struct Args {
    double days = 365;
    double scale = 1500;
    double sampleDays = 7;
    bool keep = false;
};

std::optional<Args> Parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        const std::string k = argv[i];
        const auto number = [&](double& out) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            out = std::strtod(argv[++i], &end);
            return *end == '\0' && out > 0;
        };
        bool ok = true;
        if (k == "--days")
            ok = number(a.days);
        else if (k == "--scale")
            ok = number(a.scale);
        else if (k == "--sample-days")
            ok = number(a.sampleDays);
        else if (k == "--keep")
            a.keep = true;
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr,
                         "usage: soak_bench [--days N] [--scale X] [--sample-days N] [--keep]\n");
            return std::nullopt;
        }
    }
    return a;
}

// Resident memory in kB (VmRSS), 0 when the process is gone.
long RssKb(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// User plus system CPU time in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // The name in parentheses may hold blanks; the fields after it do not.
    const auto close = all.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream in(all.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int n = 3; n <= 15 && in >> field; ++n) {
        if (n == 14) utime = std::stoull(field);
        if (n == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// One "wykres:" line of the program's report.
struct Report {
    long long redraws = 0, ns = 0, maxNs = 0, points = 0, kept = 0;
    int width = 0, height = 0;
};

std::optional<Report> ParseReport(const std::string& line) {
    Report r;
    if (std::sscanf(line.c_str(),
                    "wykres: rysowania=%lld ns=%lld max_ns=%lld punkty=%lld trzymane=%lld "
                    "rozmiar=%dx%d",
                    &r.redraws, &r.ns, &r.maxNs, &r.points, &r.kept, &r.width, &r.height) != 7)
        return std::nullopt;
    return r;
}

// Records waiting in the unsent-records file (one a line).
long QueuedRecords(const std::string& file) {
    std::ifstream f(file, std::ios::binary);
    return static_cast<long>(
        std::count(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>(), '\n'));
}

// Rows the recorder stored in the table "test".
long StoredRows(int port) {
    THttpClient c;
    c.SetTimeout(60);
    c.ExecuteURL("127.0.0.1:" + std::to_string(port) + "/table/test.csv");
    // The whole text: the client's lines stop at 100 000, fewer than a year's rows.
    const std::string text = c.ResponseWholeText();
    long n = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] >= '0' && text[at] <= '9') ++n;
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return n;
}

std::uintmax_t FolderBytes(const std::string& dir) {
    std::uintmax_t sum = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) sum += it->file_size(ec);
    return sum;
}

struct Sample {
    double day = 0, wall = 0;
    long long readings = 0;
    double rate = 0, rssMb = 0, cpuUsPerReading = 0, redrawMs = 0, redrawMaxMs = 0;
    long long kept = 0;
    long queued = 0;
    double lagReadings = 0, recorderMb = 0;
};

void PrintHeader() {
    std::printf("%7s %7s %9s %7s %7s %9s %8s %8s %9s %6s %6s %8s\n", "day", "wall_s", "readings",
                "rd/s", "RSS_MB", "CPU_us/rd", "draw_ms", "drawmax", "kept_pts", "queue", "behind",
                "rec_MB");
}

void Print(const Sample& s) {
    std::printf("%7.1f %7.0f %9lld %7.0f %7.1f %9.1f %8.3f %8.3f %9lld %6ld %6.0f %8.1f\n", s.day,
                s.wall, s.readings, s.rate, s.rssMb, s.cpuUsPerReading, s.redrawMs, s.redrawMaxMs,
                s.kept, s.queued, s.lagReadings, s.recorderMb);
    std::fflush(stdout);
}

// A folder for the run's settings, logs and database; removed at the end
// unless asked to keep it.
struct RunFolder {
    explicit RunFolder(bool keep) : keep(keep) {
        std::string pattern = (fs::temp_directory_path() / "pomiarnik-soak-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~RunFolder() {
        std::error_code ec;
        if (!keep && !path.empty()) fs::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    bool keep;
    std::string path;
};

int Run(const Args& a) {
    RunFolder dir(a.keep);
    if (dir.path.empty()) {
        std::perror("soak: mkdtemp");
        return 1;
    }
    const std::string home = dir.path;

    test::ChildProcess recorder("pomiarnik-recorder",
                                {"--listen", "127.0.0.1:0", "--db", dir.file("pomiary.sqlite")});
    const std::string url = recorder.ReadLine();  // "http://127.0.0.1:PORT/"
    if (url.rfind("http://127.0.0.1:", 0) != 0) {
        std::fprintf(stderr, "soak: the recorder did not start (%s)\n", url.c_str());
        return 1;
    }
    const int port = std::stoi(url.substr(url.rfind(':') + 1));

    IniDocument ini;
    ini.Set("CONFIG", "POST", "1");
    ini.Set("CONFIG", "wysylkaPOST", std::to_string(kPostSeconds));
    ini.Set("PostWWW", "adresSkryptu", "127.0.0.1:" + std::to_string(port) + "/Zapisz2Pomiary.php");
    test::WriteFile(home + "/ardu/DS3231/pomiarnik.ini", ini.Serialize());
    // The window opens on its chart page, sized so that the chart is
    // 1188x702 pixels, as on a full-HD screen.
    IniDocument window;
    window.Set("Page", "idxZakladki", "1");
    window.Set("MonitorT", "Form_W", std::to_string(kWindowWidth));
    window.Set("MonitorT", "Form_H", std::to_string(kWindowHeight));
    test::WriteFile(home + "/ardu/pomiarnik.ini", window.Serialize());

    const std::string scale = std::to_string(a.scale);
    // Two DS1820, two voltages and two radio thermometers: six channels.
    test::ChildProcess station("pomiarnik-station",
                               {"--interval", std::to_string(kIntervalSeconds), "--sensors", "2",
                                "--time-scale", scale, "--seed", "7"});
    const auto stationStart = Steady::now();
    const std::string device = station.ReadLine();
    if (device.empty()) {
        std::fprintf(stderr, "soak: the station did not start\n");
        return 1;
    }
    test::ChildProcess app("pomiarnik",
                           {"--port", device, "--time-scale", scale, "--redraw-report"},
                           {{"XDG_CONFIG_HOME", home}, {"QT_QPA_PLATFORM", "offscreen"}});
    const auto start = Steady::now();
    const pid_t pid = app.pid();

    std::printf("soak: %g simulated days, scale %g (a reading every %.1f ms), recorder %s\n",
                a.days, a.scale, kIntervalSeconds * 1000.0 / a.scale, url.c_str());
    std::printf(
        "soak: per sample: readings taken and their rate, the program's resident memory,\n"
        "      its CPU time per reading, the chart's mean and longest redraw, the points\n"
        "      the chart keeps, records waiting for upload, readings behind the station\n"
        "      (against the first sample) and the recorder's memory\n");
    PrintHeader();

    const long long target = static_cast<long long>(a.days * 86400 / kIntervalSeconds);
    const long long perSample =
        std::max<long long>(1, static_cast<long long>(a.sampleDays * 86400 / kIntervalSeconds));
    const std::string unsent = home + "/ardu/DS3231/data/niewyslane.txt";
    Report last, prev;
    double prevCpu = CpuSeconds(pid), prevWall = 0;
    long long nextSample = perSample;
    long long stalledFor = 0;
    long long sampleMaxNs = 0;
    double maxLag = 0, firstGap = 0;
    std::vector<Sample> samples;
    while (last.points / kChannelsPlotted < target) {
        const std::string line = app.ReadLine(std::chrono::seconds(5));
        const auto r = ParseReport(line);
        if (!r) {
            if (app.WaitExit(std::chrono::milliseconds(0)) != -1) {
                std::fprintf(stderr, "soak: the program ended early\n");
                return 1;
            }
            if (++stalledFor > 12) {
                std::fprintf(stderr, "soak: no report for a minute\n");
                return 1;
            }
            continue;
        }
        stalledFor = 0;
        if (last.width == 0) std::printf("soak: the chart is %dx%d pixels\n", r->width, r->height);
        last = *r;
        sampleMaxNs = std::max(sampleMaxNs, last.maxNs);
        const long long readings = last.points / kChannelsPlotted;
        if (readings < nextSample && readings < target) continue;
        nextSample += perSample;

        Sample s;
        s.wall = std::chrono::duration<double>(Steady::now() - start).count();
        s.readings = readings;
        s.day = static_cast<double>(readings) * kIntervalSeconds / 86400;
        const long long dr = readings - prev.points / kChannelsPlotted;
        s.rate = static_cast<double>(dr) / std::max(1e-9, s.wall - prevWall);
        s.rssMb = RssKb(pid) / 1024.0;
        const double cpu = CpuSeconds(pid);
        s.cpuUsPerReading = dr > 0 ? (cpu - prevCpu) * 1e6 / static_cast<double>(dr) : 0;
        const long long draws = last.redraws - prev.redraws;
        s.redrawMs = draws > 0 ? static_cast<double>(last.ns - prev.ns) / 1e6 / draws : 0;
        s.kept = last.kept;
        s.queued = QueuedRecords(unsent);
        // How much further behind the station the program is than at the
        // first sample (the gap then holds the start-up's backlog): growing
        // past the station's buffer means readings were overwritten unread.
        const double gap = std::chrono::duration<double>(Steady::now() - stationStart).count() *
                               a.scale / kIntervalSeconds -
                           static_cast<double>(readings);
        if (samples.empty()) firstGap = gap;
        s.lagReadings = gap - firstGap;
        maxLag = std::max(maxLag, s.lagReadings);
        s.recorderMb = RssKb(recorder.pid()) / 1024.0;
        // The longest redraw over the sample: the per-second reports' largest.
        s.redrawMaxMs = static_cast<double>(sampleMaxNs) / 1e6;
        sampleMaxNs = 0;
        Print(s);
        samples.push_back(s);
        prev = last;
        prevCpu = cpu;
        prevWall = s.wall;
    }

    // The station goes quiet (its port closes), the queue drains, then the
    // program ends as a service manager would end it.
    station.Signal(SIGTERM);
    station.WaitExit(std::chrono::seconds(10));
    const auto drainEnd = Steady::now() + std::chrono::seconds(60);
    while (QueuedRecords(unsent) > 0 && Steady::now() < drainEnd) {
        if (const auto r = ParseReport(app.ReadLine(std::chrono::seconds(1)))) last = *r;
    }
    const double rssEnd = RssKb(pid) / 1024.0;
    app.Signal(SIGTERM);
    const int rc = app.WaitExit(std::chrono::seconds(60));
    const long stored = StoredRows(port);
    const double wall = std::chrono::duration<double>(Steady::now() - start).count();
    std::printf("soak: %lld readings (%.1f days) in %.0f s; RSS at the end %.1f MB; exit code %d\n",
                last.points / kChannelsPlotted,
                static_cast<double>(last.points / kChannelsPlotted) * kIntervalSeconds / 86400,
                wall, rssEnd, rc);
    std::printf(
        "soak: recorder rows %ld (about %lld expected), log files %.1f MB\n", stored,
        last.points / kChannelsPlotted * kIntervalSeconds / (kPostSeconds + kIntervalSeconds),
        static_cast<double>(FolderBytes(home + "/ardu/DS3231/data")) / 1e6);
    // Flat means: the same from the first sample past the chart's week at
    // full resolution to the last.
    const auto settled =
        std::find_if(samples.begin(), samples.end(), [](const Sample& x) { return x.day > 7.5; });
    if (settled != samples.end() && settled != samples.end() - 1) {
        const Sample& f = *settled;
        const Sample& l = samples.back();
        const auto change = [](double from, double to) { return (to - from) * 100 / from; };
        std::printf(
            "soak: day %.1f to day %.1f: RSS %.1f -> %.1f MB (%+.1f %%), CPU per reading "
            "%.0f -> %.0f us (%+.1f %%), redraw %.3f -> %.3f ms (%+.1f %%)\n",
            f.day, l.day, f.rssMb, l.rssMb, change(f.rssMb, l.rssMb), f.cpuUsPerReading,
            l.cpuUsPerReading, change(f.cpuUsPerReading, l.cpuUsPerReading), f.redrawMs, l.redrawMs,
            change(f.redrawMs, l.redrawMs));
    }
    if (maxLag > kStationBuffer)
        std::printf(
            "soak: the program fell %.0f more readings behind the station, which keeps "
            "%d: readings were lost; run with a lower --scale\n",
            maxLag, kStationBuffer);
    if (a.keep) std::printf("soak: files kept in %s\n", home.c_str());
    return rc == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = Parse(argc, argv);
    if (!args) return 2;
    return Run(*args);
}
