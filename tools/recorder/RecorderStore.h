#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/recorder/RecorderInput.h"
#include "tools/recorder/RecorderSeries.h"

struct sqlite3;

namespace pom::recorder {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Outcome {
    Stored,        // a new row
    CreatedTable,  // the table was missing; created and the row stored
    Exists,        // a row with that "Data" was already there; nothing changed
    Failed,        // nothing stored
};

struct TableSummary {
    std::string name;
    std::int64_t rows = 0;
    std::string last;  // the newest "Data", empty when none
};

// The SQLite file. One writer thread owns the only writing connection and
// commits whatever posts are waiting in one transaction (group commit), so
// concurrent posts never meet SQLITE_BUSY among themselves and share the
// cost of the sync. A post returns only after its transaction is on disk
// (WAL, synchronous=FULL). Readers take connections of their own, which WAL
// lets read while the writer writes.
class Store final : public ReadingsView {
public:
    // Opens or creates the file and its folder; StoreError when that fails.
    explicit Store(std::string path);
    ~Store() override;
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& path() const { return path_; }

    // Block until committed (or failed).
    Outcome AddReading(const Reading& reading);
    bool SetLegends(const Legends& legends);
    // Many readings handed to the writer at once (an import, a benchmark):
    // they share its transactions. One outcome per reading, in order.
    std::vector<Outcome> AddReadings(const std::vector<Reading>& readings);

    // The readings tables (names passing IsTableName, holding a Data column).
    std::vector<TableSummary> Tables();
    // The table's name as stored (SQLite names ignore case), or nullopt.
    std::optional<std::string> FindTable(const std::string& name) override;
    std::string LastStamp(const std::string& table);
    // Rows with from <= Data <= to, oldest first.
    std::vector<Row> Rows(const std::string& table, const std::string& from, const std::string& to);
    void EachRow(const std::string& table, const std::string& from, const std::string& to,
                 const std::function<void(const Row&)>& visit) override;
    // The legends text stored for a readings table, empty when none.
    std::string LegendsText(const std::string& table);

    // What the dashboard reads. Every readings table has summary cells per
    // level (kLevels) in a table of its own beside it, kept by the writer in
    // the transaction of each insert and built at start where missing.
    std::uint64_t Version() const override { return version_.load(); }
    std::vector<std::string> TableNames() override;
    std::optional<TableFacts> Facts(const std::string& table) override;
    std::optional<std::vector<Cell>> Cells(const std::string& table, std::int64_t level,
                                           std::int64_t from, std::int64_t to,
                                           const std::array<bool, kChannels>& channels) override;
    std::pair<std::string, std::string> Around(const std::string& table, const std::string& from,
                                               const std::string& to) override;

private:
    struct Job;
    class Reader;
    void WriterLoop();
    bool RunBatch(std::vector<Job*>& batch);
    Outcome Apply(Job& job);
    bool Summarise(const std::string& table, const std::string& key, std::int64_t t,
                   const Values& values);
    void SummariseAtStart();
    sqlite3* TakeReader();
    void GiveBack(sqlite3* db);

    std::string path_;
    sqlite3* writer_ = nullptr;
    // Insert statements per table (lower-case name), kept between batches.
    struct Cache;
    std::unique_ptr<Cache> cache_;

    std::mutex mutex_;
    std::condition_variable wake_;  // the writer: work or stop
    std::condition_variable done_;  // the posters: a batch is finished
    std::deque<Job*> queue_;
    bool stopping_ = false;

    std::mutex readersMutex_;
    std::vector<sqlite3*> readers_;

    std::atomic<std::uint64_t> version_;

    std::thread thread_;
};

}  // namespace pom::recorder
