// The upload's dialogs and menu items in the main window, offscreen: the
// host dialog, the upload spacing and the legends.
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLibraryInfo>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include "app/ui/TMonitorT.h"
#include "plot/ui/TfEdLegendy.h"
#include "tests/support/Pty.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WaitUi.h"
#include "util/Cp1250.h"
#include "util/IniFile.h"
#include "util/SettingsKeys.h"
#include "web/ui/TfOKhostSQL.h"

namespace pom {
namespace {

using test::WaitUi;

class UploadWindow : public ::testing::Test {
protected:
    UploadWindow() : home_(dir_.path()) {}

    std::unique_ptr<TMonitorT> Make(std::optional<std::string> port = std::nullopt) {
        MonitorOptions o;
        o.portOverride = std::move(port);
        o.enumPorts = [] { return std::vector<std::string>{}; };
        o.showError = [](const std::string& e) { ADD_FAILURE() << e; };
        o.inputQuery = [this](const std::string&, const std::string&,
                              const std::string& value) -> std::optional<std::string> {
            offered_ = value;
            return answer_;
        };
        return std::make_unique<TMonitorT>(util_, o);
    }

    std::string Ini(const std::string& file, const std::string& section, const std::string& key) {
        const std::string path = dir_.path() + "/ardu/" + file;
        if (!test::FileExists(path)) return "<none>";
        return IniDocument::Parse(test::ReadFile(path)).Get(section, key).value_or("<none>");
    }

    // Runs `inside` on the dialog once it is shown modally.
    static void WhenShown(QDialog& d, std::function<void()> inside) {
        QTimer::singleShot(0, &d, [&d, inside] {
            ASSERT_TRUE(d.isVisible());
            inside();
        });
    }

    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    std::optional<std::string> answer_;
    std::string offered_;
};

const std::string kTarget = "test 127.0.0.1:8080/Zapisz2Pomiary.php";  // the defaults

// The target in use ("Table Address") and the one the dialog shows.
std::string InUse(TfOKhostSQL& d) {
    return d.Table() + " " + d.Address();
}
std::string Shown(TfOKhostSQL& d) {
    return d.TableText() + " " + d.AddressText();
}

// The dialog always shows the target in use; what was typed and cancelled is
// never used (not even by a post built while the dialog is open).
TEST_F(UploadWindow, HostDialogShowsTheTargetInUseCancelRestoresItAndOkStoresIt) {
    auto w = Make();
    TfOKhostSQL& d = w->HostDialog();
    EXPECT_EQ(Shown(d), kTarget);
    std::string usedWhileOpen;
    WhenShown(d, [&] {
        d.SetTableText("inna");
        d.SetAddressText("127.0.0.1:1/inny.php");
        usedWhileOpen = InUse(d);
        d.reject();
    });
    EXPECT_FALSE(d.mHostConfigClick());
    EXPECT_EQ(usedWhileOpen, kTarget);
    EXPECT_EQ(InUse(d), kTarget);
    EXPECT_EQ(Shown(d), kTarget);
    EXPECT_EQ(Ini("pomiarnik.ini", "PostWWW", "Tabela"), "<none>");

    test::Pty pty;
    auto attached = Make(pty.slavePath());
    attached->TimerStartCOMaTimer();
    pty.Write("Borsk DS3231\n");
    ASSERT_TRUE(WaitUi([&] { return util_.stationFolder == "\\ardu\\DS3231"; }));
    // OK with the fields as offered stores the target in use.
    TfOKhostSQL& h = attached->HostDialog();
    std::string offered;
    WhenShown(h, [&] {
        offered = Shown(h);
        h.accept();
    });
    EXPECT_TRUE(h.mHostConfigClick());
    EXPECT_EQ(offered, kTarget);
    EXPECT_EQ(Ini("DS3231/pomiarnik.ini", "PostWWW", "Tabela") + " " +
                  Ini("DS3231/pomiarnik.ini", "PostWWW", "adresSkryptu"),
              kTarget);

    // OK with new texts: used from the next post on, and stored.
    WhenShown(h, [&] {
        h.SetTableText("QRX741");
        h.SetAddressText(QString::fromUtf8("serwer/ż/Zapisz2Pomiary.php"));
        h.accept();
    });
    attached->mHostConfigClick();
    EXPECT_EQ(InUse(h), Cp("QRX741 serwer/ż/Zapisz2Pomiary.php"));
    EXPECT_EQ(Ini("DS3231/pomiarnik.ini", "PostWWW", "Tabela"), "QRX741");
}

TEST_F(UploadWindow, HostDialogButtonsKeepTheirCaptionsUnderQtsPolishTranslation) {
    QTranslator polish;
    if (!polish.load(QLocale(QLocale::Polish), "qtbase", "_",
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        GTEST_SKIP() << "no Polish translation of Qt installed";
    QApplication::installTranslator(&polish);
    auto w = Make();
    QDialogButtonBox plain(QDialogButtonBox::Cancel);
    EXPECT_NE(plain.button(QDialogButtonBox::Cancel)->text(), "Cancel");  // translated
    auto* box = w->HostDialog().findChild<QDialogButtonBox*>("buttons");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->button(QDialogButtonBox::Ok)->text(), "OK");
    EXPECT_EQ(box->button(QDialogButtonBox::Cancel)->text(), "Cancel");
    QApplication::removeTranslator(&polish);
}

// The host dialog first shows centred on the main window; a dialog never on
// the screen stores no position (and the 0,0 earlier versions stored counts
// as none); the legends dialog's stored position comes back.
TEST_F(UploadWindow, DialogPositionsAreRestoredAndNeverInventedAsZero) {
    {
        auto w = Make();
        w->resize(800, 600);
        w->move(240, 120);
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        TfOKhostSQL& h = w->HostDialog();
        QPoint offCentre;
        WhenShown(h, [&] {
            offCentre = h.geometry().center() - w->geometry().center();
            h.reject();
        });
        h.mHostConfigClick();
        EXPECT_LE(offCentre.manhattanLength(), 40) << offCentre.x() << "," << offCentre.y();
        w->SaveState();
    }
    EXPECT_EQ(Ini("pomiarnik.ini", "fEdLegendy", "Form_X"), "<none>");
    util_.WriteIniInteger(settings::kFormLegendy, settings::kFormX, 0);
    util_.WriteIniInteger(settings::kFormLegendy, settings::kFormY, 0);
    EXPECT_FALSE(Make()->LegendsDialog().testAttribute(Qt::WA_Moved));

    util_.WriteIniInteger(settings::kFormLegendy, settings::kFormX, 140);
    util_.WriteIniInteger(settings::kFormLegendy, settings::kFormY, 90);
    EXPECT_EQ(Make()->LegendsDialog().pos(), QPoint(140, 90));
}

TEST_F(UploadWindow, AddressHistoryKeepsBlanksAndIgnoresLetterCase) {
    {
        auto w = Make();
        TfOKhostSQL& d = w->HostDialog();
        d.SetAddressText("serwer domowy/Zapisz2Pomiary.php");
        d.cbWWWskryptuExit();
        d.SetAddressText("SERWER DOMOWY/zapisz2pomiary.php");
        d.cbWWWskryptuExit();
        EXPECT_EQ(d.History().Items().size(), 1u);
        d.FormDestroy();
    }
    EXPECT_EQ(Ini("pomiarnik.ini", "PostWWW", "adresy"), "\"serwer domowy/Zapisz2Pomiary.php\"");
    auto again = Make();
    ASSERT_EQ(again->HostDialog().History().Items().size(), 1u);
    EXPECT_EQ(again->HostDialog().History().Items()[0], "serwer domowy/Zapisz2Pomiary.php");
}

TEST_F(UploadWindow, UploadSpacingRoundsHalvesToEvenAndKeepsTheTypedCaption) {
    auto w = Make();
    QAction* item = nullptr;
    for (QAction* a : w->findChildren<QAction*>())
        if (a->text().startsWith("POST na WWW co")) item = a;
    ASSERT_NE(item, nullptr);
    const struct {
        const char* typed;
        const char* stored;
    } cases[] = {{"0.4", "1"}, {"2.5", "2"}, {"3.5", "4"}};
    for (const auto& c : cases) {
        answer_ = c.typed;
        item->trigger();
        EXPECT_EQ(Ini("pomiarnik.ini", "CONFIG", "wysylkaPOST"), c.stored) << c.typed;
        EXPECT_EQ(item->text().toStdString(), std::string("POST na WWW co ") + c.typed + " [sek]");
    }
    answer_ = "abc";
    item->trigger();
    EXPECT_EQ(Ini("pomiarnik.ini", "CONFIG", "wysylkaPOST"), "4");
    EXPECT_EQ(offered_, "4");
}

TEST_F(UploadWindow, LegendsDialogOffersItsDefaultsAndOkStoresAllEight) {
    // The legends go to this test's own server, never to the default address.
    test::RawHttpServer recorder;
    IniDocument ini;
    ini.Set("PostWWW", "adresSkryptu", recorder.url("/Zapisz2Pomiary.php"));
    test::WriteFile(dir_.path() + "/ardu/pomiarnik.ini", ini.Serialize());
    auto w = Make();
    TfEdLegendy& d = w->LegendsDialog();
    Legends offered;
    WhenShown(d, [&] {
        offered = d.Fields();
        d.accept();
    });
    w->mLegendyClick();
    EXPECT_EQ(offered.names, (std::array<std::string, 4>{"A", "B", "C", "D"}));
    EXPECT_EQ(offered.units, (std::array<std::string, 4>{"mV", "mV", "mV", "mV"}));
    EXPECT_EQ(Ini("pomiarnik.ini", "Legendy", "kan4"), "D");
    EXPECT_EQ(Ini("pomiarnik.ini", "Legendy", "Jed1"), "mV");
    EXPECT_EQ(w->Channel(0).text().toStdString(), "A [mV]");

    // "send" posts the first three channels and shows the "POST" page.
    Legends l = offered;
    l.names = {"Tz", "U1", "P", "H"};
    l.units = {Cp("°C"), "V", "hPa", "%"};
    WhenShown(d, [&] {
        d.SetFields(l);
        d.butTransferClick();
        d.reject();  // Escape presses OK
    });
    w->mLegendyClick();
    EXPECT_EQ(w->Pages().currentIndex(), 2);
    EXPECT_TRUE(w->WebMemo().toPlainText().contains("dane do: testopisy"));
    EXPECT_EQ(Ini("pomiarnik.ini", "Legendy", "kan1"), "Tz");
    EXPECT_EQ(LegendsText(l), Cp("pomT0;°C;Tz;Tz)(pomT1;V;U1;U1)(pomT2;hPa;P;P"));
    EXPECT_TRUE(recorder.Request().starts_with("POST /Zapisz2Pomiaryopisy.php "));
    ASSERT_TRUE(WaitUi([&] { return w->Sender().Idle(); }));
}

}  // namespace
}  // namespace pom
