// The main window when the disk refuses the unsent-records file: the station's
// readings are held, the user is told in plain words, the window resumes by
// itself, and what could not be saved at the end is named.
#include <QCheckBox>
#include <filesystem>

#include <gtest/gtest.h>

#include "app/ui/TMonitorT.h"
#include "tests/support/Pty.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WaitUi.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

namespace fs = std::filesystem;

class QueueWindow : public ::testing::Test {
protected:
    QueueWindow() : home_(dir_.path()) {}

    std::unique_ptr<TMonitorT> MakeAttached(test::Pty& pty) {
        // Uploads on, so readings are queued; a post that got out would reach
        // only the test's own server (the check box is cleared before any
        // upload tick).
        fs::create_directories(KindDir());
        test::WriteFile(KindDir() + "/pomiarnik.ini",
                        "[CONFIG]\r\nPOST=1\r\n[PostWWW]\r\nadresSkryptu=127.0.0.1:" +
                            std::to_string(server_.port()) + "/Zapisz2Pomiary.php\r\n");
        MonitorOptions o;
        o.portOverride = pty.slavePath();
        o.enumPorts = [] { return std::vector<std::string>{}; };
        o.showError = [this](const std::string& e) { errors_.push_back(e); };
        o.recordsLostAtExit = [this](std::size_t n) { lostAtExit_ = n; };
        auto w = std::make_unique<TMonitorT>(util_, o);
        w->TimerStartCOMaTimer();
        pty.Write("Borsk DS3231\r\n");
        EXPECT_TRUE(test::WaitUi([&] { return util_.stationFolder != "\\Ardu"; }));
        return w;
    }
    static QCheckBox* PostBox(TMonitorT& w) {
        for (QCheckBox* cb : w.findChildren<QCheckBox*>())
            if (cb->text() == "POST") return cb;
        return nullptr;
    }
    std::string KindDir() const { return dir_.path() + "/ardu/DS3231"; }
    std::string DataDir() const { return KindDir() + "/data"; }
    // A file where the data folder belongs: every write into it is refused,
    // also root's, and nothing can make the folder again.
    void BlockDataFolder() {
        fs::remove_all(DataDir());
        test::WriteFile(DataDir(), "in the way");
    }
    static bool WebHas(TMonitorT& w, const std::string& cp1250) {
        return w.WebMemo().toPlainText().contains(QString::fromStdString(Cp1250ToUtf8(cp1250)));
    }

    test::TempDir dir_;
    test::ScopedConfigHome home_;
    test::RawHttpServer server_{test::RawHttpServer::Canned("HTTP/1.0 503 Busy\r\n\r\n")};
    TdmUtil util_{DefaultClock()};
    std::vector<std::string> errors_;
    std::size_t lostAtExit_ = 0;
};

TEST_F(QueueWindow, RefusedQueueFileHoldsTheStationSaysSoAndResumesByItself) {
    test::Pty pty;
    auto w = MakeAttached(pty);
    QCheckBox* post = PostBox(*w);
    ASSERT_NE(post, nullptr);
    ASSERT_TRUE(post->isChecked());
    EXPECT_TRUE(w->ReleasingReadings());

    BlockDataFolder();
    w->Measurements().QueueForUpload("2023-05-01 12:00:00 21.5; ");
    EXPECT_EQ(w->QueueEntries().size(), 1u);
    EXPECT_FALSE(w->ReleasingReadings());
    EXPECT_TRUE(WebHas(*w, Cp("BŁĄD zapisu kolejki niewysłanych")));
    EXPECT_TRUE(
        w->StatusText().contains(QString::fromStdString(Cp1250ToUtf8(Cp("tylko w pamięci")))));

    // The disk takes the file again: the next catch-up tick writes the
    // record (the upload timer may be backing off for a minute) and the
    // station is read again, with no one clicking anything.
    fs::remove(DataDir());
    fs::create_directories(DataDir());
    post->setChecked(false);
    w->TimerCzytajZalegleTimer();
    EXPECT_TRUE(w->ReleasingReadings());
    EXPECT_TRUE(WebHas(*w, Cp("odczyt bufora stacji wznowiony")));
    EXPECT_EQ(test::ReadFile(DataDir() + "/niewyslane.txt"), "2023-05-01 12:00:00 21.5; \r\n");
    EXPECT_TRUE(errors_.empty());

    // Refused again up to the end: the record is named and the run fails.
    post->setChecked(true);
    BlockDataFolder();
    w->Measurements().QueueForUpload("2023-05-01 12:05:00 21.6; ");
    EXPECT_FALSE(w->ReleasingReadings());
    w.reset();
    EXPECT_EQ(lostAtExit_, 1u);
    EXPECT_EQ(server_.RequestCount(), 0u);
}

}  // namespace
}  // namespace pom
