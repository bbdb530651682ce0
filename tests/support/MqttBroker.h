#pragma once

// Debian's MQTT broker run by a test, and a client that takes what it
// passes on (for the tests that link libmosquitto).
#include <mosquitto.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

namespace pom::test {

inline constexpr const char* kBroker = "/usr/sbin/mosquitto";
inline constexpr const char* kPasswd = "/usr/bin/mosquitto_passwd";

// Debian's broker on 127.0.0.1, with a configuration of the test's own.
class Broker {
public:
    // `extra`: lines after the plain listener's (more listeners, security).
    Broker(const TempDir& dir, int port, const std::string& extra = "allow_anonymous true\n")
        : conf_(dir.file("mosquitto.conf")), port_(port) {
        WriteFile(conf_, "listener " + std::to_string(port) + " 127.0.0.1\n" +
                             // Run by root (a container), it stays root and reads the
                             // test's files; otherwise the line does nothing.
                             "persistence false\nlog_dest none\nuser root\n" + extra);
    }
    bool Start() {
        proc_ = std::make_unique<ChildProcess>(kBroker, std::vector<std::string>{"-c", conf_});
        return proc_->started() && WaitFor([&] { return Accepts(port_); }, std::chrono::seconds(5));
    }
    void Stop() {
        proc_->Signal(SIGTERM);
        proc_->WaitExit(std::chrono::seconds(5));
        proc_.reset();
    }

private:
    std::string conf_;
    int port_;
    std::unique_ptr<ChildProcess> proc_;
};

// A second client that takes everything under a topic filter.
class Subscriber {
public:
    struct Got {
        std::string topic;
        std::string payload;
        bool retained = false;
    };

    Subscriber(int port, const std::string& filter) : filter_(filter) {
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mutex_);
            s->subscribed_ = true;
            s->changed_.notify_all();
        });
        mosquitto_message_callback_set(
            client_, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* s = static_cast<Subscriber*>(self);
                std::lock_guard<std::mutex> lock(s->mutex_);
                s->got_.push_back({m->topic,
                                   std::string(static_cast<const char*>(m->payload),
                                               static_cast<std::size_t>(m->payloadlen)),
                                   m->retain});
                s->changed_.notify_all();
            });
        ok_ = mosquitto_connect(client_, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS &&
              mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS &&
              Wait([&] { return subscribed_; });
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    bool ok() const { return ok_; }
    // Waits until `cond` holds over what came (called under the lock).
    template <class Cond>
    bool Wait(Cond cond, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, deadline, cond);
    }
    std::size_t Count(const std::string& topic) {
        std::size_t n = 0;
        for (const Got& g : got_) n += g.topic == topic;
        return n;
    }
    // What came so far; only inside a Wait condition (it holds the lock).
    const std::vector<Got>& Received() const { return got_; }
    std::vector<Got> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_;
    }
    std::vector<std::string> Payloads(const std::string& topic) {
        std::vector<std::string> r;
        for (const Got& g : Messages())
            if (g.topic == topic) r.push_back(g.payload);
        return r;
    }

private:
    std::string filter_;
    mosquitto* client_ = nullptr;
    bool ok_ = false;
    bool subscribed_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Got> got_;
};

}  // namespace pom::test
