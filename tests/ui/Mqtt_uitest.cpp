// MQTT publishing in the main window, offscreen: the Edycja > MQTT dialog
// refuses what cannot be used, saves the rest and restarts the publisher;
// the legends follow into the discovery configs.
#include <algorithm>

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

// A broker that accepts every connection: the port of the last one, what came.
class AcceptingTransport : public mqtt::MqttTransport {
public:
    AcceptingTransport(int& port, std::vector<mqtt::Message>& sent) : port_(port), sent_(sent) {}
    bool Connect(const Options& o, std::string*) override {
        port_ = o.settings.port;
        news_.push_back({mqtt::TransportEvent::Type::Connected, 0, {}});
        return true;
    }
    void Disconnect() override {}
    int Publish(const mqtt::Message& m) override {
        sent_.push_back(m);
        return static_cast<int>(sent_.size());
    }
    std::vector<mqtt::TransportEvent> Poll() override { return std::exchange(news_, {}); }

private:
    int& port_;
    std::vector<mqtt::Message>& sent_;
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
        o.mqttTransport = [this] { return std::make_unique<AcceptingTransport>(port_, sent_); };
        auto w = std::make_unique<TMonitorT>(util_, o);
        w->TimerStartCOMaTimer();
        pty_.Write("Borsk DS3231\n");
        EXPECT_TRUE(WaitUi([&] { return util_.stationFolder == "\\ardu\\DS3231"; }));
        return w;
    }
    std::string Ini(const std::string& key) {
        const std::string ini = test::ReadFile(dir_.path() + "/ardu/DS3231/pomiarnik.ini");
        return IniDocument::Parse(ini).Get("MQTT", key).value_or("<none>");
    }
    bool Sent(const std::string& topicEnd, const std::string& part) {
        return std::ranges::any_of(sent_, [&](const mqtt::Message& m) {
            return m.topic.ends_with(topicEnd) && m.payload.find(part) != std::string::npos;
        });
    }

    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    test::Pty pty_;
    int port_ = 0;
    std::vector<mqtt::Message> sent_;
};

TEST_F(MqttWindow, DialogCancelledChangesNothingRefusesWhatCannotBeUsedThenSavesAndRestarts) {
    auto w = Attached();
    QAction* item = nullptr;  // Edycja > MQTT
    for (QAction* menu : w->menuBar()->actions())
        if (menu->text() == "Edycja")
            for (QAction* a : menu->menu()->actions())
                if (a->text() == "MQTT") item = a;
    ASSERT_NE(item, nullptr);
    TfMqtt& d = w->MqttDialog();
    EXPECT_EQ(d.findChild<QLineEdit*>("edHaslo")->echoMode(), QLineEdit::Password);
    mqtt::MqttSettings s;
    s.enabled = true;
    s.port = 18830;
    s.password = "tajne";

    QTimer::singleShot(0, &d, [&] {
        d.SetForm(mqtt::ToForm(s));
        d.reject();
    });
    item->trigger();
    EXPECT_EQ(Ini("Wlacz"), "<none>");
    EXPECT_FALSE(w->Mqtt().Running());

    // A port out of range keeps the dialog open and says why; the rest is saved.
    std::string said;
    QTimer::singleShot(0, &d, [&] {
        mqtt::MqttForm f = mqtt::ToForm(s);
        f.port = "70000";
        d.SetForm(f);
        d.accept();
        said = d.isVisible() ? d.Problem() : "closed";
        d.SetForm(mqtt::ToForm(s));
        d.accept();
    });
    item->trigger();
    EXPECT_NE(said.find("od 1 do 65535"), std::string::npos) << Cp1250ToUtf8(said);
    EXPECT_EQ(Ini("Wlacz"), "1");
    EXPECT_EQ(Ini("Port"), "18830");
    // Applied at once: connected to the new port, said on "POST", no password.
    ASSERT_TRUE(w->Mqtt().Running());
    ASSERT_TRUE(WaitUi([&] { return w->Mqtt().Publisher()->Connected(); }));
    EXPECT_EQ(port_, 18830);
    const QString post = w->WebMemo().toPlainText();
    EXPECT_TRUE(post.contains(QString::fromStdString("MQTT: połączono z 127.0.0.1:18830")));
    EXPECT_FALSE(post.contains("tajne"));

    // Records reach it with uploads off; a legend renamed: its config follows.
    pty_.Write("I: 1 A | 10T\nR:2023-05-01 12:00:00 21.5 3.3 W4r:0\n");
    ASSERT_TRUE(WaitUi([&] { return Sent("/sonda1/config", "\"name\":\"B1\""); }));
    w->ApplyLegends({{"Woda", "B1", "C1", "D1"}, {Cp("°C"), "mV", "hPa", "%"}});
    EXPECT_TRUE(Sent("/sonda0/config", "\"name\":\"Woda\""));
}

}  // namespace
}  // namespace pom
