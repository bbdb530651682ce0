#include "mqtt/logic/MqttPublisher.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "util/Cp1250.h"
#include "util/FileUtil.h"

namespace pom::mqtt {

namespace {

int KindIndex(ClosedRecord::Kind kind) {
    return kind == ClosedRecord::Kind::Barometer ? 1 : 0;
}

ClosedRecord::Kind KindOf(int index) {
    return index == 1 ? ClosedRecord::Kind::Barometer : ClosedRecord::Kind::Readings;
}

}  // namespace

MqttPublisher::MqttPublisher(MqttTransport& transport, MqttSettings settings, Target target,
                             EventSink events)
    : transport_(transport),
      settings_(std::move(settings)),
      target_(std::move(target)),
      events_(std::move(events)) {}

std::string MqttPublisher::Entry(const Message& m) {
    return m.topic + '\t' + m.payload;
}

bool MqttPublisher::Open(const std::string& queuePath, std::string* error,
                         const std::string& announcedPath) {
    announcedPath_ = announcedPath;
    if (!announcedPath_.empty()) {
        // "<readings> <barometer>"; a file missing or unreadable announces
        // nothing (no removal can be lost by that: the configs go again).
        if (const auto text = ReadWholeFile(announcedPath_)) {
            std::size_t at = 0;
            for (int& n : announced_) {
                const std::size_t end = std::min(text->find(' ', at), text->size());
                int v = 0;
                const char* first = text->data() + at;
                if (std::from_chars(first, text->data() + end, v).ec != std::errc()) v = 0;
                n = std::clamp(v, 0, ClosedRecord::kSlots);
                at = std::min(end + 1, text->size());
            }
            channels_ = announced_;
        }
    }
    std::string why;
    const bool ok = queue_.Load(queuePath, &why);
    if (!ok) Event(Cp("MQTT: nie można odczytać kolejki ") + queuePath + ": " + why);
    if (!queue_.CutLine().empty())
        Event(Cp("MQTT: pominięto urwany ostatni wiersz kolejki ") + queuePath);
    if (error) *error = why;
    return ok;
}

void MqttPublisher::SetLegends(const std::array<Legend, 4>& legends) {
    if (legends == legends_) return;
    legends_ = legends;
    if (state_ == State::Connected) SendDiscovery(ClosedRecord::Kind::Readings, 0, channels_[0]);
}

void MqttPublisher::RecordClosed(const ClosedRecord& record) {
    const Message m = StateMessage(target_, record, LocalUtcOffset(record.time));
    try {
        queue_.Append(Entry(m));
        warnedFull_ = false;
    } catch (const std::exception& e) {
        // The record stays queued in memory and reaches the file with the
        // next write that succeeds.
        if (!warnedFull_)
            Event(Cp("MQTT: kolejka nie przyjęła rekordu (") + e.what() +
                  Cp("); rekordy czekają w pamięci"));
        warnedFull_ = true;
    }
    int& seen = channels_[KindIndex(record.kind)];
    const int count = std::clamp(record.count, 0, ClosedRecord::kSlots);
    if (count != seen) {
        const int before = seen;
        seen = count;
        // A barometer channel's name follows from its place counted from the
        // record's end: all of them again.
        if (state_ == State::Connected)
            Announce(record.kind, record.kind == ClosedRecord::Kind::Barometer
                                      ? 0
                                      : std::min(before, announced_[KindIndex(record.kind)]));
    }
    if (state_ == State::Connected) Drain();
}

void MqttPublisher::Tick(Clock::time_point now) {
    if (state_ == State::Stopped) return;
    for (const TransportEvent& e : transport_.Poll()) {
        switch (e.type) {
            case TransportEvent::Type::Connected:
                if (state_ == State::Connecting || state_ == State::Idle) OnConnected();
                break;
            case TransportEvent::Type::Refused:
                if (state_ == State::Connecting) Failed(now, e.text);
                break;
            case TransportEvent::Type::Lost:
                if (state_ == State::Connected || state_ == State::Connecting)
                    Failed(now, state_ == State::Connected ? Cp("połączenie utracone") : e.text);
                break;
            case TransportEvent::Type::Acked:
                OnAcked(e.id);
                break;
            case TransportEvent::Type::Rejected:
                OnRejected(now, e.id, e.text);
                break;
        }
    }
    if (state_ == State::Connecting && now - attemptStarted_ >= kConnectTimeout)
        Failed(now, Cp("broker nie odpowiedział w ciągu ") +
                        std::to_string(kConnectTimeout.count()) +
                        Cp(" s (sprawdź port, TLS i plik CA)"));
    if (state_ == State::Idle && now >= nextAttempt_) StartConnect(now);
    if (state_ == State::Connected) Drain();
    Persist(now);
}

void MqttPublisher::Stop() {
    if (state_ == State::Connected) transport_.Publish(Availability(target_, false));
    if (state_ == State::Connected || state_ == State::Connecting) transport_.Disconnect();
    state_ = State::Stopped;
    inFlight_.clear();
    removals_.clear();
    try {
        queue_.Save();
    } catch (const std::exception& e) {
        Event(Cp("MQTT: nie zapisano kolejki: ") + e.what());
    }
}

void MqttPublisher::Event(const std::string& text) {
    if (!events_) return;
    std::string line = text;
    // Whatever a lower layer put into a reason, the password stays out.
    if (!settings_.password.empty()) {
        for (std::size_t at = line.find(settings_.password); at != std::string::npos;
             at = line.find(settings_.password, at + 3))
            line.replace(at, settings_.password.size(), "***");
    }
    events_(line);
}

std::string MqttPublisher::Where() const {
    return settings_.host + ":" + std::to_string(settings_.port);
}

void MqttPublisher::StartConnect(Clock::time_point now) {
    MqttTransport::Options o;
    o.settings = settings_;
    o.clientId = "pomiarnik_" + target_.table;
    o.will = Availability(target_, false);
    std::string why;
    state_ = State::Connecting;
    attemptStarted_ = now;
    if (!transport_.Connect(o, &why)) Failed(now, why);
}

void MqttPublisher::Failed(Clock::time_point now, const std::string& why) {
    const bool wasConnected = state_ == State::Connected;
    state_ = State::Idle;
    inFlight_.clear();
    removals_.clear();
    if (wasConnected && !refusing_) retry_ = kFirstRetry;
    nextAttempt_ = now + retry_;
    Event(Cp("MQTT: ") + Where() + ": " + why + Cp("; następna próba za ") +
          std::to_string(retry_.count()) + " s" +
          (queue_.Empty() ? std::string()
                          : Cp(", w kolejce ") + std::to_string(queue_.Size()) + Cp(" rekordów")));
    retry_ = std::min(retry_ * 2, std::chrono::seconds(kMaxRetry));
}

void MqttPublisher::OnConnected() {
    state_ = State::Connected;
    if (!refusing_) retry_ = kFirstRetry;
    inFlight_.clear();
    removals_.clear();
    Event(Cp("MQTT: połączono z ") + Where() +
          (settings_.user.empty() ? std::string() : Cp(" jako ") + settings_.user));
    transport_.Publish(Availability(target_, true));
    for (int k = 0; k < 2; ++k) Announce(KindOf(k), 0);
}

void MqttPublisher::Announce(ClosedRecord::Kind kind, int from) {
    const int k = KindIndex(kind);
    SendDiscovery(kind, from, channels_[k]);
    for (int i = channels_[k]; i < announced_[k]; ++i) {
        const int id = transport_.Publish(DiscoveryRemoval(target_, kind, i));
        if (id > 0) removals_.emplace_back(id, k);
    }
    if (announced_[k] >= channels_[k]) return;
    announced_[k] = channels_[k];
    SaveAnnounced();
}

bool MqttPublisher::RemovalAcked(int id) {
    const auto it = std::find_if(removals_.begin(), removals_.end(),
                                 [id](const std::pair<int, int>& r) { return r.first == id; });
    if (it == removals_.end()) return false;
    const int k = it->second;
    removals_.erase(it);
    const bool more = std::any_of(removals_.begin(), removals_.end(),
                                  [k](const std::pair<int, int>& r) { return r.second == k; });
    if (!more && announced_[k] > channels_[k]) {
        announced_[k] = channels_[k];
        SaveAnnounced();
    }
    return true;
}

void MqttPublisher::SaveAnnounced() {
    if (announcedPath_.empty()) return;
    try {
        WriteFileAtomic(announcedPath_,
                        std::to_string(announced_[0]) + ' ' + std::to_string(announced_[1]) + '\n');
    } catch (const std::exception& e) {
        Event(Cp("MQTT: nie zapisano listy ogłoszonych kanałów: ") + e.what());
    }
}

void MqttPublisher::OnAcked(int id) {
    if (RemovalAcked(id)) return;
    const auto it = std::find(inFlight_.begin(), inFlight_.end(), id);
    if (it == inFlight_.end() || id <= 0) return;
    *it = 0;
    // Removals keep to the queue's order: an entry leaves once it and all
    // before it are acknowledged.
    while (!inFlight_.empty() && inFlight_.front() == 0) {
        inFlight_.pop_front();
        queue_.PopFront();
        refusing_ = false;
    }
}

void MqttPublisher::OnRejected(Clock::time_point now, int id, const std::string& why) {
    if (id <= 0 || state_ != State::Connected) return;
    if (std::find(inFlight_.begin(), inFlight_.end(), id) == inFlight_.end()) {
        // A config or the availability: the records still go.
        Event(Cp("MQTT: ") + Where() + ": " + why);
        return;
    }
    // A record the broker did not take stays first in the queue. Whatever
    // follows it is sent again in order after a new connection, tried later
    // and later while the broker keeps refusing.
    refusing_ = true;
    transport_.Disconnect();
    Failed(now, why);
}

void MqttPublisher::SendDiscovery(ClosedRecord::Kind kind, int from, int to) {
    for (int i = from; i < to; ++i) {
        Legend legend;
        if (kind == ClosedRecord::Kind::Barometer)
            legend = BarometerLegend(i, channels_[1]);
        else if (i < 4)
            legend = legends_[static_cast<std::size_t>(i)];
        transport_.Publish(DiscoveryConfig(target_, kind, i, legend));
    }
}

void MqttPublisher::Drain() {
    while (inFlight_.size() < kWindow && inFlight_.size() < queue_.Size()) {
        const std::string& entry = queue_.Entries()[inFlight_.size()];
        const std::size_t tab = entry.find('\t');
        Message m;
        if (tab == std::string::npos) {
            // Not an entry this publisher wrote: it goes where the readings go.
            m = Message{StateTopic(target_, ClosedRecord::Kind::Readings), entry, false, 1};
        } else {
            m = Message{entry.substr(0, tab), entry.substr(tab + 1), false, 1};
        }
        const int id = transport_.Publish(m);
        if (id <= 0) return;  // tried again with the next Tick
        inFlight_.push_back(id);
    }
}

void MqttPublisher::Persist(Clock::time_point now) {
    try {
        queue_.FlushIfDue(now);
    } catch (const std::exception& e) {
        if (!warnedFull_) Event(Cp("MQTT: nie zapisano kolejki: ") + e.what());
        warnedFull_ = true;
    }
}

}  // namespace pom::mqtt
