// The main window on the offscreen platform, talking to a pseudo-terminal
// that the test plays the station on.
#include "app/ui/TMonitorT.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>

#include <gtest/gtest.h>

#include "app/ui/InputDialog.h"
#include "app/ui/LogMemo.h"
#include "plot/ui/TPlotPanel.h"
#include "serial/SerialPort.h"
#include "tests/support/Pty.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WaitUi.h"
#include "util/AutoStart.h"
#include "util/Cp1250.h"
#include "util/IniFile.h"
#include "util/SettingsKeys.h"

namespace pom {
namespace {

namespace fs = std::filesystem;
using test::Pty;
using test::TempDir;
using test::WaitUi;

std::string LastWebLine(TMonitorT& w) {
    const QStringList lines = w.WebMemo().toPlainText().split('\n');
    return lines.isEmpty() ? std::string() : Utf8ToCp1250(lines.last().toStdString());
}

bool WebHas(TMonitorT& w, const std::string& cp1250Text) {
    return Utf8ToCp1250(w.WebMemo().toPlainText().toStdString()).find(cp1250Text) !=
           std::string::npos;
}

bool LogHas(TMonitorT& w, const std::string& cp1250Text) {
    for (const std::string& l : w.Log().Lines())
        if (l.find(cp1250Text) != std::string::npos) return true;
    return false;
}

class MonitorWindow : public ::testing::Test {
protected:
    MonitorWindow() : home_(dir_.path()) {}

    std::unique_ptr<TMonitorT> Make(std::optional<std::string> port) {
        MonitorOptions o;
        o.portOverride = std::move(port);
        o.programPath = "/opt/pomiarnik/bin/pomiarnik";
        o.enumPorts = [this] { return ports_; };
        o.showError = [this](const std::string& e) { errors_.push_back(e); };
        o.openFileQuery = [this](const std::string&) { return pick_; };
        o.recordsLostAtExit = [this](std::size_t n) { lostAtExit_ = n; };
        auto w = std::make_unique<TMonitorT>(util_, o);
        return w;
    }

    // Opens the port as the start-up timer would, without waiting 5 s.
    void StartPort(TMonitorT& w) {
        ASSERT_TRUE(w.StartTimer().isActive());
        EXPECT_EQ(w.StartTimer().interval(), 5000);
        w.TimerStartCOMaTimer();
    }

    void Greet(TMonitorT&, Pty& pty, const std::string& greeting) {
        pty.Write(greeting + "\r\n");
        ASSERT_TRUE(WaitUi([&] { return util_.stationFolder != "\\Ardu"; }));
    }

    // A window on the pty's port with a DS3231 station attached.
    std::unique_ptr<TMonitorT> MakeAttached(Pty& pty) {
        auto w = Make(pty.slavePath());
        StartPort(*w);
        Greet(*w, pty, "Borsk DS3231");
        return w;
    }

    std::string ArduDir() const { return dir_.path() + "/ardu"; }

    TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    std::vector<std::string> ports_;
    std::vector<std::string> errors_;
    std::optional<std::string> pick_;  // the file "Plik > odczytaj" is given
    std::size_t lostAtExit_ = 0;
};

TEST_F(MonitorWindow, CreationWithoutSettingsShowsTheDefinedStartState) {
    auto w = Make(std::nullopt);
    EXPECT_EQ(w->windowTitle().toStdString(), "Monitor dla DS1820, BME280 z DS3231");
    EXPECT_EQ(w->Pages().count(), 4);
    EXPECT_EQ(w->Pages().tabText(0).toStdString(), "Dane TXT");
    EXPECT_EQ(w->Pages().tabText(1).toStdString(), "W y k r e s");
    EXPECT_EQ(w->Pages().tabText(2).toStdString(), "POST");
    EXPECT_EQ(w->Pages().tabText(3).toStdString(), "MAC");
    ASSERT_EQ(w->Log().Count(), 12u);
    EXPECT_EQ(w->Log().Line(0), "|  P o m i a r n i k");
    EXPECT_EQ(w->Log().Line(11), "| ");
    EXPECT_FALSE(w->Log().Modified());
    EXPECT_EQ(w->Log().Line(3), Cp("|  komunikuje się z arduino (komunikaty A: R: I:)"));
    EXPECT_EQ(w->Port().CommPort(), "ttyACM0");
    EXPECT_EQ(w->Port().BaudRate(), 57600);
    EXPECT_FALSE(w->Port().Active());
    EXPECT_FALSE(w->UploadTimer().isActive());
    EXPECT_TRUE(w->CatchUpTimer().isActive());
    EXPECT_EQ(w->CatchUpTimer().interval(), 21000);
    EXPECT_TRUE(w->BarometerPanel().isHidden());
    // Creation reads but never writes.
    EXPECT_FALSE(fs::exists(ArduDir() + "/pomiarnik.ini"));
}

TEST_F(MonitorWindow, DefaultPortThatDoesNotExistReportsErrorOpen) {
    auto w = Make(std::nullopt);
    StartPort(*w);
    EXPECT_FALSE(w->StartTimer().isActive());
    EXPECT_FALSE(w->Port().Active());
    const QStringList web = w->WebMemo().toPlainText().split('\n');
    bool found = false;
    for (const QString& l : web)
        if (l.mid(20).toStdString() == "ERROR open: ttyACM0") found = true;
    EXPECT_TRUE(found) << w->WebMemo().toPlainText().toStdString();
    EXPECT_EQ(w->StatusText().mid(20).toStdString(), "ERROR open: ttyACM0");
    EXPECT_TRUE(LogHas(*w, "Start"));
}

TEST_F(MonitorWindow, StartTimerOpensTheGivenPortAndReportsIt) {
    Pty pty;
    auto w = Make(pty.slavePath());
    StartPort(*w);
    ASSERT_TRUE(w->Port().Active());
    EXPECT_EQ(LastWebLine(*w).substr(20), "Open: " + pty.slavePath() + ": 57600");
    EXPECT_EQ(util_.valueCount, -1);
    // --port is not written to the settings.
    EXPECT_FALSE(fs::exists(ArduDir() + "/pomiarnik.ini"));
}

TEST_F(MonitorWindow, ComMenuListsPortsAndChecksTheCurrentOne) {
    ports_ = {"ttyS0", "ttyUSB0", "ttyACM0"};
    auto w = Make(std::nullopt);
    const QList<QAction*> items = w->ComMenu().actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text().toStdString(), "ttyS0");
    EXPECT_EQ(items[2]->objectName().toStdString(), "mttyACM0");
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_FALSE(items[1]->isChecked());
    EXPECT_TRUE(items[2]->isChecked());
}

TEST_F(MonitorWindow, GreetingAttachesTheKindAndSwitchesSettingsFiles) {
    Pty pty;
    // The kind's own file holds settings the base file does not.
    IniDocument kindIni;
    kindIni.Set("CONFIG", "wysylkaPOST", "120");
    kindIni.Set("Legendy", "kan2", "Napiecie");
    kindIni.Set("Aktywne", "kan3", "1");
    test::WriteFile(ArduDir() + "/BME280/pomiarnik.ini", kindIni.Serialize());
    auto w = Make(pty.slavePath());
    StartPort(*w);
    Greet(*w, pty, "Borsk station BME280 v2");
    EXPECT_EQ(util_.stationFolder, "\\ardu\\BME280");
    EXPECT_EQ(w->windowTitle().toStdString(), "Terminal 4 BME280");
    EXPECT_FALSE(w->BarometerPanel().isHidden());
    EXPECT_TRUE(w->UploadTimer().isActive());
    EXPECT_TRUE(LogHas(*w, "= = = S T A R T = = ="));
    // Keys of the kind's file, defaults for the rest.
    EXPECT_EQ(w->Channel(0).text().toStdString(), "A1 [°C]");
    EXPECT_EQ(w->Channel(1).text().toStdString(), "Napiecie [mV]");
    EXPECT_EQ(w->Channel(3).text().toStdString(), "D1 [%]");
    EXPECT_TRUE(w->Channel(0).isChecked());
    EXPECT_FALSE(w->Channel(1).isChecked());
    EXPECT_TRUE(w->Channel(2).isChecked());
    EXPECT_NE(w->WebMemo().toPlainText().indexOf("POST na WWW co 120 [sek]"), -1);
}

TEST_F(MonitorWindow, PickingAPortClearsLogAndChartAndTheNextGreetingAttachesAgain) {
    Pty pty;
    ports_ = {pty.slavePath()};
    auto w = MakeAttached(pty);
    EXPECT_EQ(util_.stationFolder, "\\ardu\\DS3231");
    w->Plot().AddPoint(0, 0, 21.5, 45000.0);
    ASSERT_GT(w->Plot().PointCount(0), 0);

    w->Receive().SetPendingRecords(5);
    w->mKomClick(w->ComMenu().actions().at(0));
    ASSERT_TRUE(w->Port().Active());
    EXPECT_EQ(w->Receive().PendingRecords(), 0);  // no "R" for the new device
    EXPECT_EQ(util_.stationFolder, "\\Ardu");
    EXPECT_EQ(w->Plot().PointCount(0), 0);
    // The lines so far went to the station's data file first.
    bool saved = false;
    for (const auto& f : fs::directory_iterator(ArduDir() + "/DS3231/data"))
        saved = saved || test::ReadFile(f.path()).find("Borsk DS3231") != std::string::npos;
    EXPECT_TRUE(saved);
    // The log holds only the report of the opening.
    ASSERT_EQ(w->Log().Count(), 1u);
    EXPECT_EQ(w->Log().Line(0).substr(20), "Open: " + pty.slavePath() + ": 57600");
    // Written into the base file.
    IniDocument base = IniDocument::Parse(test::ReadFile(ArduDir() + "/pomiarnik.ini"));
    EXPECT_EQ(base.Get("CONFIG", "nrCOMport").value_or(""), pty.slavePath());

    Greet(*w, pty, "Borsk DS3231");
    EXPECT_EQ(util_.stationFolder, "\\ardu\\DS3231");
    EXPECT_TRUE(LogHas(*w, "= = = S T A R T = = ="));
}

TEST_F(MonitorWindow, LinesBeforeTheGreetingAskTheStationToIdentifyOnce) {
    Pty pty;
    auto w = Make(pty.slavePath());
    StartPort(*w);
    pty.Write("x\r\ny\r\n");
    ASSERT_TRUE(WaitUi([&] { return LogHas(*w, "send command: i"); }));
    std::string sent;
    ASSERT_TRUE(WaitUi([&] {
        sent += pty.ReadAvailable();
        return !sent.empty();
    }));
    EXPECT_EQ(sent, "i\r\n");
}

TEST_F(MonitorWindow, ReadingsFasterThanTheCatchUpIntervalDoNotRestartIt) {
    Pty pty;
    auto w = MakeAttached(pty);
    pty.Write("I: 1 | 28FF0000000000A1 | 10T\n");
    pty.Write("A:2023-05-01 12:00:00 21.5 1 2 W4r:9\n");
    ASSERT_TRUE(WaitUi([&] { return w->Receive().PendingRecords() == 9; }));
    ASSERT_EQ(w->CatchUpTimer().interval(), 5000);
    const int id = w->CatchUpTimer().timerId();
    pty.Write("A:2023-05-01 12:00:02 21.6 1 2 W4r:10\n");
    ASSERT_TRUE(WaitUi([&] { return w->Receive().PendingRecords() == 10; }));
    EXPECT_EQ(w->CatchUpTimer().timerId(), id) << "the same interval must not restart the timer";
}

TEST_F(MonitorWindow, ClosingBeforeAnyAttachWritesNothing) {
    Pty pty;
    auto w = Make(pty.slavePath());
    StartPort(*w);
    pty.Write("noise\n");
    ASSERT_TRUE(WaitUi([&] { return LogHas(*w, "noise"); }));
    w.reset();
    // Reading the settings makes their folder, but no file may be written.
    int files = 0;
    if (fs::exists(ArduDir()))
        for (const auto& e : fs::recursive_directory_iterator(ArduDir()))
            if (!e.is_directory()) ++files;
    EXPECT_EQ(files, 0) << "nothing may be written before a station is attached";
}

TEST_F(MonitorWindow, ClosingAfterAttachWritesQueueLogPlacementAndKeys) {
    Pty pty;
    auto w = Make(pty.slavePath());
    w->move(40, 30);
    w->resize(900, 600);
    StartPort(*w);
    Greet(*w, pty, "Borsk DS3231");
    pty.Write("A:2023-05-01 12:00:00 21.5 1 W4r:0\n");
    ASSERT_TRUE(WaitUi([&] { return LogHas(*w, "A:2023-05-01 12:00:00"); }));
    w->Pages().setCurrentIndex(2);
    w->close();
    w.reset();

    const std::string kindDir = ArduDir() + "/DS3231";
    EXPECT_TRUE(fs::exists(kindDir + "/data/niewyslane.txt"));
    // The log was saved into a dated file.
    int dataFiles = 0;
    std::string saved;
    for (const auto& e : fs::directory_iterator(kindDir + "/data")) {
        if (e.path().filename().string().starts_with("Ardu")) {
            ++dataFiles;
            saved = test::ReadFile(e.path().string());
        }
    }
    EXPECT_EQ(dataFiles, 1);
    EXPECT_NE(saved.find("A:2023-05-01 12:00:00 21.5 1 W4r:0\r\n"), std::string::npos);
    IniDocument ini = IniDocument::Parse(test::ReadFile(kindDir + "/pomiarnik.ini"));
    EXPECT_EQ(ini.Get("Page", "idxZakladki").value_or(""), "2");
    EXPECT_EQ(ini.Get("Wykres", "avg").value_or(""), "1");
    EXPECT_EQ(ini.Get("Wykres", "dniPelnejRozdzielczosci").value_or(""), "7");
    EXPECT_EQ(ini.Get("CONFIG", "POST").value_or(""), "0");
    EXPECT_EQ(ini.Get("MonitorT", "Form_W").value_or(""), "900");
    EXPECT_EQ(ini.Get("MonitorT", "Form_H").value_or(""), "600");
    EXPECT_TRUE(ini.Get("MonitorT", "Font").has_value());
}

TEST_F(MonitorWindow, EndOfSessionRunsTheSharedStepsOnce) {
    Pty pty;
    auto w = MakeAttached(pty);
    w->WMQueryEndSession();
    EXPECT_TRUE(w->EndOfSession());
    EXPECT_FALSE(w->Port().Active());
    const std::string ini = ArduDir() + "/DS3231/pomiarnik.ini";
    ASSERT_TRUE(fs::exists(ini));
    // Destruction after the session's end does not save again.
    fs::remove(ini);
    w.reset();
    EXPECT_FALSE(fs::exists(ini));
    EXPECT_TRUE(fs::exists(ArduDir() + "/DS3231/data/niewyslane.txt"));
}

TEST_F(MonitorWindow, UnsentRecordsSurviveARunAndAnUnreadableFileIsNotOverwritten) {
    const std::string unsent = ArduDir() + "/DS3231/data/niewyslane.txt";
    test::WriteFile(unsent, "2023-05-01 12:00:00 21.5; 1; \r\n2023-05-01 12:05:00 21.6; 1; \r\n");
    {
        Pty pty;
        auto w = Make(pty.slavePath());
        StartPort(*w);
        Greet(*w, pty, "Borsk DS3231");
    }
    EXPECT_EQ(test::ReadFile(unsent),
              "2023-05-01 12:00:00 21.5; 1; \r\n2023-05-01 12:05:00 21.6; 1; \r\n");
    // A folder where the file should be cannot be read (the tests run as root,
    // so permissions would not stop them); it must come through unchanged.
    fs::remove(unsent);
    fs::create_directories(unsent);
    test::WriteFile(unsent + "/keep", "x");
    util_.stationFolder = "\\Ardu";  // a new run starts unattached
    {
        Pty pty;
        auto w = Make(pty.slavePath());
        StartPort(*w);
        Greet(*w, pty, "Borsk DS3231");
        EXPECT_NE(w->WebMemo().toPlainText().indexOf(
                      QString::fromStdString(Cp1250ToUtf8(Cp("nie można odczytać ")))),
                  -1);
    }
    EXPECT_TRUE(fs::is_directory(unsent));
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(MonitorWindow, AutostartItemIsCheckedOnlyForThisProgramsPath) {
    {
        auto w = Make(std::nullopt);
        EXPECT_FALSE(w->AutoStartItem().isChecked());
        EXPECT_NE(w->WebMemo().toPlainText().indexOf("Auto Run: ???"), -1);
    }
    ASSERT_TRUE(SetAutoStart(util_, settings::kApplicationTitle, "/usr/bin/other-program", true));
    {
        auto w = Make(std::nullopt);
        EXPECT_FALSE(w->AutoStartItem().isChecked());
    }
    ASSERT_TRUE(
        SetAutoStart(util_, settings::kApplicationTitle, "/opt/pomiarnik/bin/pomiarnik", true));
    {
        auto w = Make(std::nullopt);
        EXPECT_TRUE(w->AutoStartItem().isChecked());
        // Unticking removes the entry.
        w->AutoStartItem().setChecked(false);
        w->mAutoStartClick();
        std::string entry;
        EXPECT_FALSE(GetAutoStart(util_, settings::kApplicationTitle, entry));
        EXPECT_EQ(entry, "???");
    }
}

TEST_F(MonitorWindow, UploadTimerTickSavesTheLogOnceItHoldsMoreThanTenLines) {
    Pty pty;
    auto w = MakeAttached(pty);
    w->Log().Clear();
    for (int i = 0; i < 10; ++i) w->Log().Append("line " + std::to_string(i));
    w->Timer4WWWTimer();
    EXPECT_EQ(w->Log().Count(), 10u) << "ten lines are not saved yet";
    w->Log().Append("line 10");
    w->Timer4WWWTimer();
    EXPECT_EQ(w->Log().Count(), 0u);
    IniDocument ini = IniDocument::Parse(test::ReadFile(ArduDir() + "/DS3231/pomiarnik.ini"));
    const std::string saved = ini.Get("Komunikacja", "OstatniLog").value_or("");
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(test::ReadFile(saved).substr(0, 8), "line 0\r\n");
    EXPECT_EQ(w->StatusText().mid(20, 12).toStdString(), " > Zapisał: ");
}

// "Plik > odczytaj" first puts the lines since the last save into the
// station's file (here today's, already written); when they cannot be saved,
// the file is not read.
TEST_F(MonitorWindow, ReadingAFileBackSavesTheUnsavedLinesFirst) {
    for (const bool folderBlocked : {false, true}) {
        SCOPED_TRACE(folderBlocked ? "blocked" : "saved");
        TempDir home;
        test::ScopedConfigHome scoped(home.path());
        util_.stationFolder = std::string(TdmUtil::kBaseStationFolder);
        const std::string data = home.path() + "/ardu/DS3231/data";
        test::WriteFile(home.path() + "/ardu/DS3231/pomiarnik.ini",
                        "[CONFIG]\r\nmaskaDaty=\"dzien\"YYYY-MM-DD\r\n");
        Pty pty;
        auto w = MakeAttached(pty);
        for (int i = 0; i < 11; ++i) w->AppendLogLineForTest("earlier " + std::to_string(i));
        w->Timer4WWWTimer();
        ASSERT_EQ(w->Log().Count(), 0u);
        if (folderBlocked) {  // a file where the data folder belongs
            fs::remove_all(data);
            test::WriteFile(data, "not a folder");
        }
        w->AppendLogLineForTest("not saved yet");
        test::WriteFile(home.file("other.txt"), "from the file\r\n");
        pick_ = home.file("other.txt");
        w->mCzytajPlikClick();
        if (folderBlocked) {
            EXPECT_TRUE(LogHas(*w, "not saved yet"));
            EXPECT_FALSE(LogHas(*w, "from the file"));
            EXPECT_TRUE(WebHas(*w, "DS3231/data"));
            EXPECT_TRUE(w->StatusText().startsWith(QString::fromUtf8("nie odczytał")));
            continue;
        }
        EXPECT_EQ(w->Log().Lines(), std::vector<std::string>{"from the file"});
        std::vector<std::string> files;
        for (const auto& f : fs::directory_iterator(data))
            files.push_back(test::ReadFile(f.path()));
        ASSERT_EQ(files.size(), 1u);
        EXPECT_LT(files[0].find("earlier 10"), files[0].find("not saved yet"));
        EXPECT_NE(files[0].find("not saved yet"), std::string::npos);
        EXPECT_TRUE(errors_.empty());
    }
}

// While the disk refuses the unsent-records file the station's readings are
// held and the user is told; the window resumes by itself, and what could not
// be saved at the end is named.
TEST_F(MonitorWindow, RefusedQueueFileHoldsTheStationSaysSoAndResumesByItself) {
    // Uploads on, so readings are queued; a post that got out would reach
    // only this server (the check box is cleared before any upload tick).
    test::RawHttpServer server{test::RawHttpServer::Canned("HTTP/1.0 503 Busy\r\n\r\n")};
    const std::string data = ArduDir() + "/DS3231/data";
    fs::create_directories(data);
    test::WriteFile(ArduDir() + "/DS3231/pomiarnik.ini",
                    "[CONFIG]\r\nPOST=1\r\n[PostWWW]\r\nadresSkryptu=" +
                        server.url("/Zapisz2Pomiary.php") + "\r\n");
    const auto blockData = [&] {  // a file in the way: refused, also to root
        fs::remove_all(data);
        test::WriteFile(data, "in the way");
    };
    Pty pty;
    auto w = MakeAttached(pty);
    QCheckBox* post = nullptr;
    for (QCheckBox* cb : w->findChildren<QCheckBox*>())
        if (cb->text() == "POST") post = cb;
    ASSERT_TRUE(post && post->isChecked());
    EXPECT_TRUE(w->ReleasingReadings());

    blockData();
    w->UploadRecords().Queue("2023-05-01 12:00:00 21.5; ");
    EXPECT_EQ(w->QueueEntries().size(), 1u);
    EXPECT_FALSE(w->ReleasingReadings());
    EXPECT_TRUE(WebHas(*w, Cp("BŁĄD zapisu kolejki niewysłanych")));
    EXPECT_TRUE(w->StatusText().contains(QString::fromUtf8("tylko w pamięci")));

    // Room again: the next catch-up tick writes the record (the upload timer
    // may be backing off) and the station is read again, no one clicking.
    fs::remove(data);
    fs::create_directories(data);
    post->setChecked(false);
    w->TimerCzytajZalegleTimer();
    EXPECT_TRUE(w->ReleasingReadings());
    EXPECT_TRUE(WebHas(*w, Cp("odczyt bufora stacji wznowiony")));
    EXPECT_EQ(test::ReadFile(data + "/niewyslane.txt"), "2023-05-01 12:00:00 21.5; \r\n");
    EXPECT_TRUE(errors_.empty());

    // Refused again up to the end: the record is named and the run fails.
    post->setChecked(true);
    blockData();
    w->UploadRecords().Queue("2023-05-01 12:05:00 21.6; ");
    EXPECT_FALSE(w->ReleasingReadings());
    w.reset();
    EXPECT_EQ(lostAtExit_, 1u);
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(MonitorWindow, ALongPortNameIsElidedAndTheWindowKeepsItsSize) {
    // 200 characters that cannot be opened: in the status text and the label.
    const std::string port = "/dev/serial/by-id/usb-Arduino_" + std::string(165, 'X') + "-if00";
    auto w = Make(port);
    w->resize(800, 600);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    const int width = w->width();
    w->TimerStartCOMaTimer();
    ASSERT_TRUE(WaitUi([&] {
        return w->StatusText().contains(QString::fromStdString(port)) &&
               w->ConnectionLabel().text().contains("-if00");
    }));
    QApplication::processEvents();
    EXPECT_EQ(w->width(), width);
    EXPECT_LE(w->minimumSizeHint().width(), width);
    EXPECT_LE(w->ConnectionLabel().geometry().right(), width);
}

TEST(InputDialog, IsAsWideAsItsTitle) {
    QFont bold = QApplication::font();
    bold.setBold(true);
    for (const char* title : {"wysyłanie na WWW (POST)", "dla przeliczeń z wysokością"}) {
        int shownWidth = 0;
        QTimer::singleShot(0, [&] {
            QWidget* d = QApplication::activeModalWidget();
            ASSERT_NE(d, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
            shownWidth = d->width();
            static_cast<QDialog*>(d)->reject();
        });
        EXPECT_FALSE(AskText(nullptr, QString::fromUtf8(title), "Co ile sekund", "300"));
        EXPECT_GE(shownWidth, QFontMetrics(bold).horizontalAdvance(QString::fromUtf8(title)) + 100)
            << title;
    }
}

TEST_F(MonitorWindow, MaximisedWindowKeepsItsStoredPlacement) {
    Pty pty;
    auto w = MakeAttached(pty);
    w->showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(w->isMaximized());
    w.reset();
    IniDocument ini = IniDocument::Parse(test::ReadFile(ArduDir() + "/DS3231/pomiarnik.ini"));
    EXPECT_FALSE(ini.Get("MonitorT", "Form_W").has_value());
    EXPECT_EQ(ini.Get("Page", "idxZakladki").value_or(""), "0");
}

TEST_F(MonitorWindow, SavedPlacementIsRestoredAndOffScreenCornersCorrected) {
    IniDocument base;
    base.Set("MonitorT", "Form_X", "99999");
    base.Set("MonitorT", "Form_Y", "-20");
    base.Set("MonitorT", "Form_W", "700");
    base.Set("MonitorT", "Form_H", "500");
    test::WriteFile(ArduDir() + "/pomiarnik.ini", base.Serialize());
    auto w = Make(std::nullopt);
    EXPECT_EQ(w->x(), 10);
    EXPECT_EQ(w->y(), -20);
    EXPECT_EQ(w->width(), 700);
    EXPECT_EQ(w->height(), 500);
}

TEST_F(MonitorWindow, TestFillOf36000LinesStaysResponsive) {
    auto w = Make(std::nullopt);
    w->mTestClick();
    w->InfoMemo().FlushPending();
    EXPECT_EQ(w->Log().Count(), 12u + 36000u);
    EXPECT_EQ(w->InfoMemo().document()->blockCount(), 12 + 36000);
}

TEST_F(MonitorWindow, EndOfSessionFailuresGoToTheLogNotIntoABox) {
    Pty pty;
    auto w = MakeAttached(pty);
    // A file where the data folder should be: the closing save fails (also
    // for root).
    fs::remove_all(ArduDir() + "/DS3231/data");
    test::WriteFile(ArduDir() + "/DS3231/data", "x");
    w->AppendLogLineForTest("a line worth saving");
    w->WMQueryEndSession();
    ASSERT_FALSE(errors_.empty());
    // The same text is on the "POST" page, where a session without a user
    // can still be read about.
    EXPECT_TRUE(w->WebMemo().toPlainText().contains(QString::fromStdString(errors_.back())))
        << errors_.back();
}

TEST_F(MonitorWindow, CommitDataSavesButKeepsRecording) {
    Pty pty;
    auto w = MakeAttached(pty);
    w->AppendLogLineForTest("a line worth saving");
    w->CommitData();
    EXPECT_TRUE(w->Port().Active());
    EXPECT_TRUE(fs::exists(ArduDir() + "/DS3231/data/niewyslane.txt"));
    bool saved = false;
    for (const auto& f : fs::directory_iterator(ArduDir() + "/DS3231/data"))
        saved = saved || test::ReadFile(f.path()).find("a line worth saving") != std::string::npos;
    EXPECT_TRUE(saved);
    // Lines go on arriving.
    pty.Write("still here\n");
    EXPECT_TRUE(WaitUi([&] { return LogHas(*w, "still here"); }));
}

TEST_F(MonitorWindow, StatusTextSurvivesAMenuHint) {
    auto w = Make(std::nullopt);
    StartPort(*w);
    const QString text = w->StatusText();
    ASSERT_FALSE(text.isEmpty());
    // What hovering a menu item does to the status bar.
    w->Status().showMessage("podpowiedź");
    w->Status().clearMessage();
    EXPECT_EQ(w->StatusText(), text);
}

TEST_F(MonitorWindow, ComMenuShowsThePortInUseWhenOpened) {
    Pty pty;
    ports_ = {"ttyS0"};
    auto w = Make(pty.slavePath());
    emit w->ComMenu().aboutToShow();
    const QList<QAction*> items = w->ComMenu().actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_EQ(items[1]->text().toStdString(), pty.slavePath());
    EXPECT_TRUE(items[1]->isChecked());
    // A device plugged in meanwhile shows at the next opening.
    ports_.push_back("ttyUSB0");
    emit w->ComMenu().aboutToShow();
    EXPECT_EQ(w->ComMenu().actions().size(), 3);
}

TEST_F(MonitorWindow, TimersArePreciseAndASecondAttachDoesNotRestartTheUpload) {
    Pty pty;
    auto w = MakeAttached(pty);
    EXPECT_EQ(w->UploadTimer().timerType(), Qt::PreciseTimer);
    EXPECT_EQ(w->StartTimer().timerType(), Qt::PreciseTimer);
    EXPECT_EQ(w->CatchUpTimer().timerType(), Qt::PreciseTimer);
    ASSERT_TRUE(w->UploadTimer().isActive());
    QTest::qWait(300);
    const int left = w->UploadTimer().remainingTime();
    util_.stationFolder = "\\Ardu";
    w->AttachStation("DS3231");
    EXPECT_LE(w->UploadTimer().remainingTime(), left);
}

}  // namespace
}  // namespace pom
