// MQTT publishing in the main window, offscreen: the Edycja > MQTT dialog
// refuses what cannot be used, saves the rest and restarts the publisher;
// the legends follow into the discovery configs.
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/ui/TMonitorT.h"
#include "mqtt/ui/TfMqtt.h"
#include "tests/support/Pty.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WaitUi.h"
#include "util/Cp1250.h"
#include "util/IniFile.h"

namespace pom {
namespace {

using test::WaitUi;

// A broker that accepts every connection; what each connection got.
struct Broker {
    std::vector<mqtt::MqttTransport::Options> connects;
    std::vector<mqtt::Message> sent;
};

class AcceptingTransport : public mqtt::MqttTransport {
public:
    explicit AcceptingTransport(Broker& b) : b_(b) {}
    bool Connect(const Options& o, std::string*) override {
        b_.connects.push_back(o);
        news_.push_back({mqtt::TransportEvent::Type::Connected, 0, {}});
        return true;
    }
    void Disconnect() override {}
    int Publish(const mqtt::Message& m) override {
        b_.sent.push_back(m);
        return static_cast<int>(b_.sent.size());
    }
    std::vector<mqtt::TransportEvent> Poll() override { return std::exchange(news_, {}); }

private:
    Broker& b_;
    std::vector<mqtt::TransportEvent> news_;
};

class MqttWindow : public ::testing::Test {
protected:
    MqttWindow() : home_(dir_.path()) {}

    std::unique_ptr<TMonitorT> Attached() {
        MonitorOptions o;
        o.portOverride = pty_.slavePath();
        o.enumPorts = [] { return std::vector<std::string>{}; };
        o.showError = [](const std::string& e) { ADD_FAILURE() << e; };
        o.mqttTransport = [this] { return std::make_unique<AcceptingTransport>(broker_); };
        auto w = std::make_unique<TMonitorT>(util_, o);
        w->TimerStartCOMaTimer();
        pty_.Write("Borsk DS3231\n");
        EXPECT_TRUE(WaitUi([&] { return util_.stationFolder == "\\ardu\\DS3231"; }));
        return w;
    }
    std::string Ini(const std::string& key) {
        const std::string path = dir_.path() + "/ardu/DS3231/pomiarnik.ini";
        if (!test::FileExists(path)) return "<none>";
        return IniDocument::Parse(test::ReadFile(path)).Get("MQTT", key).value_or("<none>");
    }
    bool WebHas(TMonitorT& w, const std::string& cp1250) {
        return w.WebMemo().toPlainText().contains(QString::fromStdString(Cp1250ToUtf8(cp1250)));
    }
    bool Sent(const std::string& topicEnd, const std::string& part) {
        for (const mqtt::Message& m : broker_.sent)
            if (m.topic.ends_with(topicEnd) && m.payload.find(part) != std::string::npos)
                return true;
        return false;
    }

    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    test::Pty pty_;
    Broker broker_;
};

struct Refusal {
    void (*edit)(mqtt::MqttForm&);
    const char* says;
};

TEST_F(MqttWindow, DialogRefusesWhatCannotBeUsedThenSavesAndRestartsThePublisher) {
    auto w = Attached();
    // Edycja > MQTT
    QAction* item = nullptr;
    for (QAction* menu : w->menuBar()->actions())
        if (menu->text() == "Edycja")
            for (QAction* a : menu->menu()->actions())
                if (a->text() == "MQTT") item = a;
    ASSERT_EQ(item, &w->MqttItem());
    EXPECT_FALSE(w->Mqtt().Running());  // off by default

    TfMqtt& d = w->MqttDialog();
    EXPECT_EQ(d.findChild<QLineEdit*>("edHaslo")->echoMode(), QLineEdit::Password);
    const Refusal refusals[] = {
        {[](mqtt::MqttForm& f) { f.port = "70000"; }, "od 1 do 65535"},
        {[](mqtt::MqttForm& f) { f.host = ""; }, "Podaj adres brokera"},
        {[](mqtt::MqttForm& f) { f.tls = true; }, "podaj plik CA"},
    };
    std::vector<std::string> said;
    QTimer::singleShot(0, &d, [&] {
        mqtt::MqttSettings s;
        s.enabled = true;
        s.port = 18830;
        s.password = "tajne";
        for (const Refusal& r : refusals) {
            mqtt::MqttForm f = mqtt::ToForm(s);
            r.edit(f);
            d.SetForm(f);
            d.accept();
            said.push_back(d.isVisible() ? d.Problem() : "closed");
        }
        d.SetForm(mqtt::ToForm(s));
        d.accept();
    });
    w->mMqttClick();
    ASSERT_EQ(said.size(), 3u);
    for (std::size_t i = 0; i < said.size(); ++i)
        EXPECT_NE(said[i].find(Cp(refusals[i].says)), std::string::npos) << Cp1250ToUtf8(said[i]);
    EXPECT_EQ(Ini("Wlacz"), "1");
    EXPECT_EQ(Ini("Port"), "18830");
    // Applied at once: connected to the new port, said on "POST", no password.
    ASSERT_TRUE(w->Mqtt().Running());
    ASSERT_TRUE(WaitUi([&] { return w->Mqtt().Publisher()->Connected(); }));
    EXPECT_EQ(broker_.connects.back().settings.port, 18830);
    EXPECT_TRUE(WebHas(*w, Cp("MQTT: połączono z 127.0.0.1:18830")));
    EXPECT_FALSE(w->WebMemo().toPlainText().contains("tajne"));

    // Records reach it with uploads off; a legend renamed: its config follows.
    pty_.Write("I: 1 A | 10T\nR:2023-05-01 12:00:00 21.5 3.3 W4r:0\n");
    ASSERT_TRUE(WaitUi([&] { return Sent("/sonda1/config", "\"name\":\"B1\""); }));
    Legends l;
    l.names = {"Woda", "B1", "C1", "D1"};
    l.units = {Cp("°C"), "mV", "hPa", "%"};
    w->ApplyLegends(l);
    EXPECT_TRUE(Sent("/sonda0/config", "\"name\":\"Woda\""));
}

TEST_F(MqttWindow, DialogCancelledChangesNothing) {
    auto w = Attached();
    TfMqtt& d = w->MqttDialog();
    QTimer::singleShot(0, &d, [&] {
        mqtt::MqttForm f = d.Form();
        f.enabled = true;
        d.SetForm(f);
        d.reject();
    });
    w->mMqttClick();
    EXPECT_EQ(Ini("Wlacz"), "<none>");
    EXPECT_FALSE(w->Mqtt().Running());
}

}  // namespace
}  // namespace pom
