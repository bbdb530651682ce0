#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/logic/RecordSink.h"
#include "mqtt/logic/MqttMessages.h"
#include "mqtt/logic/MqttSettings.h"
#include "web/UploadQueue.h"

namespace pom::mqtt {

// What happened on the connection since the last Poll.
struct TransportEvent {
    enum class Type {
        Connected,  // the broker accepted the connection
        Refused,    // a connection attempt failed (text: why, Polish, Windows-1250)
        Lost,       // an accepted connection ended
        Acked,      // the broker acknowledged the message `id`
        Rejected,   // the broker refused the message `id` (MQTT 5; text: why)
    };
    Type type = Type::Lost;
    int id = 0;
    std::string text;
};

// How the publisher reaches a broker; the one implementation on libmosquitto
// lives in mqtt/client, tests put a fake in its place.
class MqttTransport {
public:
    struct Options {
        MqttSettings settings;
        std::string clientId;
        Message will;
    };

    virtual ~MqttTransport() = default;
    // Starts a connection attempt; its outcome comes through Poll. False (and
    // `error`, Polish, Windows-1250) when it cannot even start.
    virtual bool Connect(const Options& options, std::string* error) = 0;
    // Ends the connection cleanly: the broker does not send the will.
    virtual void Disconnect() = 0;
    // Hands a message over; its id (> 0) for the acknowledgement, or -1 when
    // it cannot be sent now.
    virtual int Publish(const Message& m) = 0;
    virtual std::vector<TransportEvent> Poll() = 0;
};

// Publishes closed records to a broker with Home Assistant's discovery. Every
// record is first appended, synced, to a queue file of its own and leaves it
// only after the broker acknowledged it, so a broker away or a killed program
// loses none; they go out in order (one may come twice, as QoS 1 allows).
// Owned by one thread, which calls Tick often (a timer).
class MqttPublisher : public RecordSink {
public:
    using Clock = std::chrono::steady_clock;
    using EventSink = std::function<void(const std::string&)>;
    static constexpr std::chrono::seconds kFirstRetry{1};
    static constexpr std::chrono::seconds kMaxRetry{30};
    // An attempt the broker has not answered by then counts as failed (a TLS
    // handshake refused, a listener that never answers).
    static constexpr std::chrono::seconds kConnectTimeout{10};
    // Records handed over and not yet acknowledged at one time.
    static constexpr std::size_t kWindow = 32;

    // `events` gets the Polish lines (Windows-1250) for the "POST" page; the
    // password never appears in them.
    MqttPublisher(MqttTransport& transport, MqttSettings settings, Target target, EventSink events);

    // Takes the records a previous run left in `queuePath` (empty: memory
    // only), and the channels whose configs the broker keeps from
    // `announcedPath` (empty: memory only), so that a channel the station no
    // longer sends is removed after a restart too. False and `error` when the
    // queue file cannot be read.
    bool Open(const std::string& queuePath, std::string* error = nullptr,
              const std::string& announcedPath = {});
    // The station's legends kan1..kan4 / Jed1..Jed4; the discovery configs
    // follow at once when connected.
    void SetLegends(const std::array<Legend, 4>& legends);

    void RecordClosed(const ClosedRecord& record) override;

    // Reads the connection's news, connects when due and hands over what the
    // queue holds.
    void Tick(Clock::time_point now = Clock::now());
    // Says "offline", leaves the broker and writes the queue file level.
    void Stop();

    bool Connected() const { return state_ == State::Connected; }
    std::size_t Pending() const { return queue_.Size(); }
    const UploadQueue& Queue() const { return queue_; }
    // The wait before the next attempt after a failed one.
    std::chrono::seconds RetryDelay() const { return retry_; }

    // "topic<TAB>payload", the queue's entry of a message.
    static std::string Entry(const Message& m);

private:
    enum class State { Idle, Connecting, Connected, Stopped };

    void Event(const std::string& text);
    void StartConnect(Clock::time_point now);
    void Failed(Clock::time_point now, const std::string& why);
    void OnConnected();
    void OnAcked(int id);
    // True when `id` was a removal; the list is saved once a kind's are all in.
    bool RemovalAcked(int id);
    void OnRejected(Clock::time_point now, int id, const std::string& why);
    void SendDiscovery(ClosedRecord::Kind kind, int from, int to);
    // Configs for the channels the records carry now, removals for those
    // the broker keeps beyond them.
    void Announce(ClosedRecord::Kind kind, int from);
    void SaveAnnounced();
    void Drain();
    void Persist(Clock::time_point now);
    std::string Where() const;

    MqttTransport& transport_;
    MqttSettings settings_;
    Target target_;
    EventSink events_;
    UploadQueue queue_;
    std::array<Legend, 4> legends_{};
    // Channels the station's records carry, per kind: their configs go out
    // at each connect. Until a record says otherwise, those announced before.
    std::array<int, 2> channels_{};
    // Channels whose configs went to the broker, per kind, kept in
    // announcedPath_: those beyond channels_ get the empty config that
    // removes them. Lowered only once the broker acknowledged the removals,
    // so a removal lost with the connection goes again.
    std::array<int, 2> announced_{};
    // Ids of removals not yet acknowledged, and their kinds.
    std::vector<std::pair<int, int>> removals_;
    std::string announcedPath_;
    State state_ = State::Idle;
    Clock::time_point nextAttempt_{};
    Clock::time_point attemptStarted_{};
    std::chrono::seconds retry_ = kFirstRetry;
    // Ids of the queue's first entries, handed over in order; 0 once acked.
    std::deque<int> inFlight_;
    // The broker refused a record and none was taken since: a connection
    // that succeeds does not shorten the wait before the next try.
    bool refusing_ = false;
    bool warnedFull_ = false;
};

}  // namespace pom::mqtt
