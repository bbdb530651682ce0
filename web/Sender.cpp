#include "web/Sender.h"

#include <chrono>
#include <exception>

namespace pom {

WWyslac::WWyslac(CancellableDispatcher& main, Poster poster, Report report, Stamp stamp)
    : main_(main),
      poster_(std::move(poster)),
      report_(std::move(report)),
      stamp_(std::move(stamp)),
      thread_([this] { Run(); }) {}

WWyslac::~WWyslac() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    cancel_ = true;
    wake_.notify_all();
    // The main thread is here and cannot run a report.
    JoinDroppingCalls(thread_, finished_, main_, std::chrono::milliseconds(5));
}

bool WWyslac::HandOver(const UploadRecord& record, Kind kind) {
    {
        // The idle test and the hand-over are one step against the sender
        // going idle: a job is never lost nor taken twice.
        std::lock_guard<std::mutex> lock(mutex_);
        if (busy_.load() || stop_) return false;
        job_ = record;
        kind_ = kind;
        hasJob_ = true;
        busy_ = true;
    }
    wake_.notify_all();
    return true;
}

std::string WWyslac::LastSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastSent_;
}

int WWyslac::PostRecord(const UploadRecord& record, std::string& response) {
    const PostOutcome outcome = poster_(record, cancel_);
    const int code = outcome.failure.empty() ? ClassifyReply(outcome.response) : -1;
    if (code >= 0) {
        response.clear();
        return code;
    }
    response = outcome.failure;
    if (!outcome.reason.empty()) response += (response.empty() ? "" : "; ") + outcome.reason;
    if (!outcome.response.empty())
        response += (response.empty() ? "" : "\r\n") + ShortenReply(outcome.response);
    return code;
}

void WWyslac::Run() {
    while (true) {
        UploadRecord job;
        Kind kind;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || hasJob_; });
            if (stop_) {
                finished_ = true;
                return;
            }
            job = job_;  // the slot is the sender's while it is busy
            kind = kind_;
            hasJob_ = false;
        }
        std::string response;
        int code = -1;
        try {
            code = PostRecord(job, response);
        } catch (const std::exception& e) {
            // A post that fails instead of answering still reports, so the
            // sender becomes idle and later jobs are not refused.
            response = e.what();
        } catch (...) {
            response = "?";
        }
        const bool success = code >= 0;
        if (success) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (kind == Kind::Reading) lastSent_ = job.Stamp;
        }
        const std::string line = stamp_() + ReportText(code, job, response);
        main_.SyncCall([&] { report_(line, success, kind); });
        busy_ = false;
    }
}

}  // namespace pom
