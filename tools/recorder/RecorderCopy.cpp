#include "tools/recorder/RecorderCopy.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "tools/recorder/RecorderDbAddress.h"

namespace pom::recorder {
namespace {

// Rows handed to the target at once: a few of its transactions, and little memory.
constexpr std::size_t kCopyBatch = 1024;

std::string Count(std::int64_t n, const char* what) {
    return std::to_string(n) + " " + what;
}

}  // namespace

std::optional<CopySummary> CopyStore(Store& from, Store& to,
                                     const std::function<void(const std::string&)>& progress,
                                     std::string& error, std::int64_t progressRows) {
    CopySummary sum;
    std::vector<Reading> batch;
    batch.reserve(kCopyBatch);
    std::string failed;  // set on the first refused row; the rest is passed by
    std::int64_t done = 0, told = 0;
    std::optional<std::string> target;  // the table's name in `to`, when it has it
    std::set<std::string> present;
    const auto flush = [&](const TableSummary& t) {
        if (batch.empty() || !failed.empty()) return;
        // The rows the target holds already are found with one range query,
        // not a write each: a second run over a year takes seconds.
        present.clear();
        if (target) {
            const auto [first, last] = std::minmax_element(
                batch.begin(), batch.end(),
                [](const Reading& a, const Reading& b) { return a.stamp < b.stamp; });
            to.EachRow(*target, first->stamp, last->stamp,
                       [&](const Row& row) { present.insert(row.stamp); });
        }
        const std::size_t size = batch.size();
        std::erase_if(batch, [&](const Reading& r) { return present.count(r.stamp) > 0; });
        sum.present += static_cast<std::int64_t>(size - batch.size());
        const std::vector<Outcome> outcomes =
            batch.empty() ? std::vector<Outcome>{} : to.AddReadings(batch);
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            switch (outcomes[i]) {
                case Outcome::Stored:
                case Outcome::CreatedTable:
                    ++sum.copied;
                    break;
                case Outcome::Exists:
                    ++sum.present;
                    break;
                case Outcome::Failed:
                    if (failed.empty())
                        failed = t.name + " " + batch[i].stamp + ": the target refused the row";
                    break;
            }
        }
        done += static_cast<std::int64_t>(size);
        batch.clear();
        if (done - told >= progressRows) {
            told = done;
            progress(t.name + ": " + std::to_string(done) + " / " + std::to_string(t.rows) +
                     " rows");
        }
    };
    for (const TableSummary& t : from.Tables()) {
        ++sum.tables;
        done = told = 0;
        target = to.FindTable(t.name);
        progress(t.name + ": " + Count(t.rows, "rows"));
        // The bounds the CSV answer uses: every row with a time in it.
        from.EachRow(t.name, "", "9999-12-31 23:59:59", [&](const Row& row) {
            if (!failed.empty()) return;
            batch.push_back({t.name, row.stamp, row.values});
            if (batch.size() >= kCopyBatch) flush(t);
        });
        flush(t);
        if (!failed.empty()) {
            error = failed;
            return std::nullopt;
        }
        const std::string text = from.LegendsText(t.name);
        if (text.empty()) continue;
        const std::string present = to.LegendsText(t.name);
        if (present == text) continue;
        if (!present.empty()) {
            ++sum.legendsKept;
            continue;
        }
        if (!to.SetLegends({t.name, text})) {
            error = t.name + ": the target refused its legends";
            return std::nullopt;
        }
        ++sum.legendsCopied;
    }
    return sum;
}

int RunCopy(const std::string& from, const std::string& to, const std::string& passwordFile) {
    const auto say = [](const std::string& line) {
        std::fprintf(stderr, "pomiarnik-recorder: %s\n", line.c_str());
    };
    // Opening a missing file would make an empty store of it and copy
    // nothing; a database address is checked by connecting to it, which
    // fails when the server or the database is not there.
    struct stat st {};
    if (!IsAddress(from) && ::stat(from.c_str(), &st) != 0) {
        say(from + ": no such store");
        return 1;
    }
    try {
        // The source first: when it cannot be opened, no target is made.
        const std::unique_ptr<Store> source = OpenStore(from, passwordFile);
        const std::unique_ptr<Store> target = OpenStore(to, passwordFile);
        std::string error;
        const auto sum = CopyStore(*source, *target, say, error);
        if (!sum) {
            say("copy stopped: " + error + "; the rows copied so far stay, run it again");
            return 1;
        }
        // The addresses stay out of it: one may hold a password.
        std::printf("copied: %s, %s copied, %s already there, %s copied, %s kept\n",
                    Count(sum->tables, "tables").c_str(), Count(sum->copied, "rows").c_str(),
                    Count(sum->present, "rows").c_str(),
                    Count(sum->legendsCopied, "legends").c_str(),
                    Count(sum->legendsKept, "differing legends of the target").c_str());
    } catch (const StoreError& e) {
        say(e.what());
        return 1;
    }
    return 0;
}

}  // namespace pom::recorder
