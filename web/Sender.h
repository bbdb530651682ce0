#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "serial/CancellableDispatcher.h"
#include "web/Upload.h"

namespace pom {

// What one post gave: the reply text (lines each ended by CR LF; the whole
// decoded text when it had more lines than the client keeps), why it cannot
// count whatever it says, and what the client noted about it.
struct PostOutcome {
    std::string response;
    // Empty when the script answered: else no request was made, it was
    // given up, or the answer was no 2xx reply (its status line).
    std::string failure;
    // What the client knows went wrong with the request or its reply (a bad
    // query pair, a refused gzip body, a cut reply); empty when nothing did.
    std::string reason;
};

// The sender thread: takes one job at a time from the main thread, posts it
// and reports one line back to the main thread, waiting until the report has
// been handled; only then is it idle again. Runs until destroyed (joined).
class WWyslac {
public:
    enum class Kind { Reading, Legends };
    // Posts a job (on the sender thread); `cancel` turns true when the
    // sender is being destroyed, and a long request should then give up.
    using Poster = std::function<PostOutcome(const UploadRecord&, const std::atomic<bool>& cancel)>;
    // Handles a report on the main thread: the stamped line, whether the
    // job was accepted, and which kind of job it closes.
    using Report = std::function<void(const std::string& line, bool success, Kind kind)>;
    // "yyyy-mm-dd hh:mm:ss " of now.
    using Stamp = std::function<std::string()>;

    WWyslac(CancellableDispatcher& main, Poster poster, Report report, Stamp stamp);
    // Stops the thread: a post in progress is told to give up and a report
    // waiting for the main thread is dropped. Main thread.
    ~WWyslac();
    WWyslac(const WWyslac&) = delete;
    WWyslac& operator=(const WWyslac&) = delete;

    // Copies the job into the slot and wakes the sender; false (nothing
    // taken) while it is busy. Main thread.
    bool HandOver(const UploadRecord& record, Kind kind = Kind::Reading);
    bool Idle() const { return !busy_.load(); }
    // The last job the script accepted ("Data" of it).
    std::string LastSent() const;

    // Posts a job and classifies the reply: 0, 1, 2 or -1. For -1,
    // `response` gets what the report shows: the failure, the client's
    // reason and the start of the reply with its size.
    int PostRecord(const UploadRecord& record, std::string& response);

private:
    void Run();

    CancellableDispatcher& main_;
    Poster poster_;
    Report report_;
    Stamp stamp_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> busy_{false};
    bool stop_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    bool hasJob_ = false;
    UploadRecord job_;
    Kind kind_ = Kind::Reading;
    std::string lastSent_;
    std::thread thread_;
};

}  // namespace pom
