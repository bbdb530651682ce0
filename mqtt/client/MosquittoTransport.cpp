#include "mqtt/client/MosquittoTransport.h"

#include <mosquitto.h>

#include <utility>

#include "util/Cp1250.h"

namespace pom::mqtt {

namespace {

// The library's process-wide set-up, once; its clean-up is left to the end
// of the process, as other clients may still be alive then.
void InitLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

// The library's reason (English); for a system error, the system's.
std::string LibraryError(int rc) {
    return mosquitto_strerror(rc);
}

}  // namespace

MosquittoTransport::MosquittoTransport() {
    InitLibrary();
}

MosquittoTransport::~MosquittoTransport() {
    Close();
}

std::string MosquittoTransport::RefusalText(int code) {
    switch (code) {
        case 1:
            return Cp("broker nie obsługuje wersji protokołu MQTT 3.1.1");
        // MQTT 5's reason codes for the same refusals.
        case 132:
            return Cp("broker nie obsługuje wersji protokołu MQTT 5");
        case 133:
            return RefusalText(2);
        case 136:
        case 137:
            return RefusalText(3);
        case 134:
            return RefusalText(4);
        case 135:
            return RefusalText(5);
        case 2:
            return Cp("broker odrzucił identyfikator klienta");
        case 3:
            return Cp("usługa brokera jest niedostępna");
        case 4:
            return Cp("broker odrzucił nazwę użytkownika lub hasło");
        case 5:
            return Cp("broker odmówił dostępu: sprawdź użytkownika i hasło");
        default:
            return Cp("broker odrzucił połączenie (kod ") + std::to_string(code) + ")";
    }
}

bool MosquittoTransport::Connect(const Options& o, std::string* error) {
    Close();
    const MqttSettings& s = o.settings;
    client_ = mosquitto_new(Cp1250ToUtf8(o.clientId).c_str(), true, this);
    if (!client_) {
        *error = Cp("nie można utworzyć klienta MQTT");
        return false;
    }
    auto fail = [&](const std::string& what, int rc) {
        *error = what + " (" + LibraryError(rc) + ")";
        mosquitto_destroy(client_);
        client_ = nullptr;
        return false;
    };
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION,
                         s.protocol == kMqtt5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    // Tries again only when the publisher says so.
    mosquitto_reconnect_delay_set(client_, 3600, 3600, false);
    int rc = MOSQ_ERR_SUCCESS;
    if (!s.user.empty()) {
        rc = mosquitto_username_pw_set(
            client_, Cp1250ToUtf8(s.user).c_str(),
            s.password.empty() ? nullptr : Cp1250ToUtf8(s.password).c_str());
        if (rc != MOSQ_ERR_SUCCESS) return fail(Cp("niepoprawna nazwa użytkownika"), rc);
    }
    if (s.tls) {
        const std::string ca = TextToPath(s.caFile);
        rc = mosquitto_tls_set(client_, ca.empty() ? nullptr : ca.c_str(), nullptr, nullptr,
                               nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) return fail(Cp("nie można użyć pliku CA ") + s.caFile, rc);
    }
    rc = mosquitto_will_set(client_, o.will.topic.c_str(), static_cast<int>(o.will.payload.size()),
                            o.will.payload.data(), o.will.qos, o.will.retained);
    if (rc != MOSQ_ERR_SUCCESS) return fail(Cp("niepoprawny temat dostępności"), rc);
    mosquitto_connect_callback_set(client_, &MosquittoTransport::OnConnect);
    mosquitto_disconnect_callback_set(client_, &MosquittoTransport::OnDisconnect);
    // Called for both protocols; under 3.1.1 the reason is always 0.
    mosquitto_publish_v5_callback_set(client_, &MosquittoTransport::OnPublish);
    rc = mosquitto_connect_async(client_, Cp1250ToUtf8(s.host).c_str(), s.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) return fail(Cp("brak połączenia z brokerem"), rc);
    rc = mosquitto_loop_start(client_);
    if (rc != MOSQ_ERR_SUCCESS) return fail(Cp("nie można uruchomić wątku MQTT"), rc);
    looping_ = true;
    return true;
}

void MosquittoTransport::Disconnect() {
    Close();
}

void MosquittoTransport::Close() {
    if (!client_) return;
    // What was published before goes out first: the library sends its
    // packets in order, the disconnect last.
    mosquitto_disconnect(client_);
    if (looping_) mosquitto_loop_stop(client_, false);
    looping_ = false;
    mosquitto_destroy(client_);
    client_ = nullptr;
    // News of the client just ended must not reach the next one.
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

int MosquittoTransport::Publish(const Message& m) {
    if (!client_) return -1;
    int mid = 0;
    const int rc =
        mosquitto_publish(client_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                          m.payload.data(), m.qos, m.retained);
    return rc == MOSQ_ERR_SUCCESS && mid > 0 ? mid : -1;
}

std::string MosquittoTransport::RejectionText(int code) {
    std::string why;
    switch (code) {
        case 135:
            why = Cp("brak uprawnień do tego tematu");
            break;
        case 144:
            why = Cp("niepoprawna nazwa tematu");
            break;
        case 149:
            why = Cp("wiadomość za duża");
            break;
        case 151:
            why = Cp("przekroczony limit brokera");
            break;
        case 153:
            why = Cp("niepoprawny format danych");
            break;
        default:
            why = mosquitto_reason_string(code);
            break;
    }
    return Cp("broker odrzucił wiadomość (kod ") + std::to_string(code) + ": " + why + ")";
}

std::vector<TransportEvent> MosquittoTransport::Poll() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(events_, {});
}

void MosquittoTransport::Push(TransportEvent e) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(e));
}

void MosquittoTransport::OnConnect(mosquitto*, void* self, int rc) {
    auto* t = static_cast<MosquittoTransport*>(self);
    if (rc == 0)
        t->Push({TransportEvent::Type::Connected, 0, {}});
    else
        t->Push({TransportEvent::Type::Refused, 0, RefusalText(rc)});
}

void MosquittoTransport::OnDisconnect(mosquitto*, void* self, int rc) {
    static_cast<MosquittoTransport*>(self)->Push(
        {TransportEvent::Type::Lost, 0, Cp("broker nieosiągalny (") + LibraryError(rc) + ")"});
}

void MosquittoTransport::OnPublish(mosquitto*, void* self, int mid, int reason,
                                   const mosquitto_property*) {
    // Reason codes from 128 on are refusals: the broker did not take it.
    auto* t = static_cast<MosquittoTransport*>(self);
    if (reason >= 128)
        t->Push({TransportEvent::Type::Rejected, mid, RejectionText(reason)});
    else
        t->Push({TransportEvent::Type::Acked, mid, {}});
}

}  // namespace pom::mqtt
