#include "tools/recorder/RecorderFaults.h"

#include <utility>

namespace pom::recorder {

FaultReport::FaultReport(Print print, Now now, std::chrono::seconds period)
    : print_(std::move(print)), now_(std::move(now)), period_(period) {}

bool FaultReport::Due() const {
    return !last_ || now_() - *last_ >= period_;
}

void FaultReport::Line(const std::string& text) {
    print_(text);
    last_ = now_();
    untold_ = 0;
    latest_.clear();
}

void FaultReport::Failed(const std::string& what, std::int64_t count) {
    untold_ += count;
    latest_ = what;
    if (!Due()) return;
    const std::int64_t n = untold_;
    Line(n == 1 ? what : what + " (" + std::to_string(n) + " failed writes since the last report)");
    failing_ = true;
}

void FaultReport::Succeeded() {
    if (untold_ == 0 && !failing_) return;
    // After a told failure at once; quiet failures in between wait for their period.
    if (!failing_ && !Due()) return;
    const std::int64_t n = untold_;
    const std::string latest = latest_;
    Line(n == 0 ? "writes succeed again"
                : "writes succeed again; " + std::to_string(n) +
                      " failed since the last report, the latest: " + latest);
    failing_ = false;
}

}  // namespace pom::recorder
