// Readings from the simulated station reach the recording service: the
// window (offscreen) posts every queued record; with the service down the
// records wait and all arrive once it is back; a killed program loses none.
#include <signal.h>

#include <QApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/ui/TMonitorT.h"
#include "serial/SerialPort.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WaitUi.h"
#include "util/IniFile.h"
#include "web/THttpClient.h"

namespace pom {
namespace {

using test::WaitUi;

// The recording service on a port of its own (0: any free one).
struct Recorder {
    Recorder(const std::string& db, int port)
        : process("pomiarnik-recorder",
                  {"--listen", "127.0.0.1:" + std::to_string(port), "--db", db}) {
        url = process.ReadLine();  // "http://127.0.0.1:PORT/"
    }
    int Port() const { return std::stoi(url.substr(url.rfind(':') + 1)); }
    test::ChildProcess process;
    std::string url;
};

// The "Data" of every row of a table, as the service's CSV gives them.
std::vector<std::string> StoredStamps(int port, const std::string& table) {
    THttpClient c;
    c.SetTimeout(5);
    c.ExecuteURL("127.0.0.1:" + std::to_string(port) + "/table/" + table + ".csv");
    std::vector<std::string> out;
    for (const std::string& line : c.ResponseLines())
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') out.push_back(line.substr(0, 19));
    return out;
}

class UploadRun : public ::testing::Test {
protected:
    UploadRun() : home_(dir_.path()) {}

    void Settings(const std::string& address, int postInterval) {
        IniDocument ini;
        ini.Set("CONFIG", "POST", "1");
        ini.Set("CONFIG", "wysylkaPOST", std::to_string(postInterval));
        ini.Set("PostWWW", "adresSkryptu", address);
        test::WriteFile(dir_.path() + "/ardu/DS3231/pomiarnik.ini", ini.Serialize());
    }

    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
};

TEST_F(UploadRun, RecordsWaitThroughAnOutageAndAllArriveInOrder) {
    auto recorder = std::make_unique<Recorder>(dir_.file("pomiary.sqlite"), 0);
    const int port = recorder->Port();
    Settings("127.0.0.1:" + std::to_string(port) + "/Zapisz2Pomiary.php", 300);
    test::ChildProcess station(
        "pomiarnik-station", {"--backlog", "24", "--interval", "60", "--time-scale", "60", "--seed",
                              "9", "--start", "2024-03-09 08:00:00"});
    MonitorOptions o;
    o.portOverride = station.ReadLine();
    o.enumPorts = [] { return std::vector<std::string>{}; };
    o.showError = [](const std::string& e) { ADD_FAILURE() << e; };
    TMonitorT w(util_, o);
    w.TimerStartCOMaTimer();
    ASSERT_TRUE(WaitUi([&] { return util_.stationFolder != "\\Ardu" && util_.valueCount > 0; },
                       std::chrono::seconds(30)));

    // The timers' work without their pauses: "R" while readings wait, an
    // upload tick whenever the sender is idle. Every record ever queued is
    // noted from the "POST" page.
    std::vector<std::string> queued;
    auto next = std::chrono::steady_clock::now();
    const auto pump = [&] {
        if (std::chrono::steady_clock::now() < next) return;
        next += std::chrono::milliseconds(100);
        w.Receive().TimerCzytajZalegleTimer();
        if (w.Sender().Idle()) w.Timer4WWWTimer();
        for (const std::string& e : w.QueueEntries())
            if (queued.empty() || e.substr(0, 19) > queued.back())
                queued.push_back(e.substr(0, 19));
    };
    ASSERT_TRUE(WaitUi(
        [&] {
            pump();
            return queued.size() >= 4 && w.QueueEntries().empty();
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(StoredStamps(port, "test"), queued);

    // The service goes away: new records wait in the queue, the first is
    // retried and stays first.
    recorder.reset();
    const std::size_t before = queued.size();
    ASSERT_TRUE(WaitUi(
        [&] {
            pump();
            return queued.size() >= before + 2 && w.WebMemo().toPlainText().contains("http Error");
        },
        std::chrono::seconds(60)));
    EXPECT_FALSE(w.QueueEntries().empty());
    EXPECT_EQ(w.QueueEntries().front().substr(0, 19), queued[before]);

    // Back on the same port and database: everything arrives, in order.
    recorder = std::make_unique<Recorder>(dir_.file("pomiary.sqlite"), port);
    ASSERT_TRUE(WaitUi(
        [&] {
            pump();
            return w.QueueEntries().empty();
        },
        std::chrono::seconds(60)));
    const std::vector<std::string> stored = StoredStamps(port, "test");
    EXPECT_EQ(std::vector<std::string>(stored.begin(), stored.begin() + queued.size()), queued);
}

TEST_F(UploadRun, KilledProgramLosesNoQueuedRecord) {
    // No service at first: records only pile up in the unsent-records file.
    int port = 0;
    { port = Recorder(dir_.file("probe.sqlite"), 0).Port(); }
    // A record per reading: the catch-up reads one every few seconds.
    Settings("127.0.0.1:" + std::to_string(port) + "/Zapisz2Pomiary.php", 1);
    test::ChildProcess station("pomiarnik-station",
                               {"--backlog", "20", "--interval", "10", "--time-scale", "10"});
    const std::string device = station.ReadLine();
    const std::string unsent = dir_.path() + "/ardu/DS3231/data/niewyslane.txt";
    const auto lines = [&] {
        std::set<std::string> out;
        if (!test::FileExists(unsent)) return out;
        const std::string text = test::ReadFile(unsent);
        for (std::size_t from = 0, end; (end = text.find("\r\n", from)) != std::string::npos;
             from = end + 2)
            out.insert(text.substr(from, 19));
        return out;
    };
    const std::vector<std::pair<std::string, std::string>> env = {{"XDG_CONFIG_HOME", dir_.path()},
                                                                  {"QT_QPA_PLATFORM", "offscreen"}};
    std::set<std::string> before;
    {
        test::ChildProcess app("pomiarnik", {"--port", device}, env);
        ASSERT_TRUE(test::WaitFor([&] { return lines().size() >= 3; }, std::chrono::seconds(90)));
        ASSERT_TRUE(app.Signal(SIGKILL));
        app.WaitExit(std::chrono::seconds(10));
        before = lines();
    }
    // Started again with the service up: every record the file held arrives.
    Recorder recorder(dir_.file("pomiary.sqlite"), port);
    test::ChildProcess app("pomiarnik", {"--port", device}, env);
    ASSERT_TRUE(test::WaitFor(
        [&] {
            const std::vector<std::string> s = StoredStamps(port, "test");
            const std::set<std::string> stored(s.begin(), s.end());
            return std::includes(stored.begin(), stored.end(), before.begin(), before.end());
        },
        std::chrono::seconds(90)));
    app.Signal(SIGTERM);
    EXPECT_EQ(app.WaitExit(std::chrono::seconds(20)), 0);
}

}  // namespace
}  // namespace pom
