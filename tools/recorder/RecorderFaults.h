#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace pom::recorder {

// A store failure that persists (a full disk under a flood of posts) fails
// every post; one line per post would fill the log faster than the disk. The
// first failure is told at once, then at most one line a period with the
// count of failures since the last line, and one line when writes succeed
// again after a told failure.
class FaultReport {
public:
    using Now = std::function<std::chrono::steady_clock::time_point()>;
    using Print = std::function<void(const std::string&)>;

    explicit FaultReport(Print print, Now now = std::chrono::steady_clock::now,
                         std::chrono::seconds period = std::chrono::minutes(1));

    // `count` failures at once (a batch of posts), `what` the first one's reason.
    void Failed(const std::string& what, std::int64_t count = 1);
    void Succeeded();

private:
    bool Due() const;
    void Line(const std::string& text);

    Print print_;
    Now now_;
    std::chrono::seconds period_;
    std::optional<std::chrono::steady_clock::time_point> last_;  // the last line told
    std::int64_t untold_ = 0;                                    // failures since the last line
    std::string latest_;                                         // the newest of them
    bool failing_ = false;                                       // the last line told of a failure
};

}  // namespace pom::recorder
