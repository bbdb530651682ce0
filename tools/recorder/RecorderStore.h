#pragma once

#include <atomic>
#include <cstdint>
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

struct WriteJob;
class WriteQueue;

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

// What the server, the pages and the API need from a store of readings. The
// SQLite file and a MariaDB database answer alike; callers never ask which.
class Store : public ReadingsView {
public:
    // Where the readings are, for messages: a path, or an address without
    // its password.
    virtual std::string Where() const = 0;

    // Block until committed (or failed).
    virtual Outcome AddReading(const Reading& reading) = 0;
    virtual bool SetLegends(const Legends& legends) = 0;
    // Many readings handed to the writer at once (an import, a benchmark):
    // they share its transactions. One outcome per reading, in order.
    virtual std::vector<Outcome> AddReadings(const std::vector<Reading>& readings) = 0;

    // The readings tables (names passing IsTableName, holding a Data column).
    virtual std::vector<TableSummary> Tables() = 0;
    virtual std::string LastStamp(const std::string& table) = 0;
    // Rows with from <= Data <= to, oldest first.
    std::vector<Row> Rows(const std::string& table, const std::string& from, const std::string& to);
    // The legends text stored for a readings table, empty when none.
    virtual std::string LegendsText(const std::string& table) = 0;
};

// A store chosen by the --db value: a path is an SQLite file, a
// mariadb:// or mysql:// address a MariaDB database (its password, when the
// address holds none, read from `passwordFile` or $POMIARNIK_DB_PASSWORD).
// StoreError when it cannot be opened or the address is not understood.
std::unique_ptr<Store> OpenStore(const std::string& db, const std::string& passwordFile = {});

// The SQLite file. One writer thread owns the only writing connection and
// commits whatever posts are waiting in one transaction (group commit), so
// concurrent posts never meet SQLITE_BUSY among themselves and share the
// cost of the sync. A post returns only after its transaction is on disk
// (WAL, synchronous=FULL). Readers take connections of their own, which WAL
// lets read while the writer writes.
class SqliteStore final : public Store {
public:
    // Opens or creates the file and its folder; StoreError when that fails.
    explicit SqliteStore(std::string path);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    const std::string& path() const { return path_; }
    std::string Where() const override { return path_; }

    Outcome AddReading(const Reading& reading) override;
    bool SetLegends(const Legends& legends) override;
    std::vector<Outcome> AddReadings(const std::vector<Reading>& readings) override;

    std::vector<TableSummary> Tables() override;
    // The table's name as stored (SQLite names ignore case), or nullopt.
    std::optional<std::string> FindTable(const std::string& name) override;
    std::string LastStamp(const std::string& table) override;
    void EachRow(const std::string& table, const std::string& from, const std::string& to,
                 const std::function<void(const Row&)>& visit) override;
    std::string LegendsText(const std::string& table) override;

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
    using Job = WriteJob;
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

    std::unique_ptr<WriteQueue> queue_;

    std::mutex readersMutex_;
    std::vector<sqlite3*> readers_;

    std::atomic<std::uint64_t> version_;

    std::thread thread_;
};

}  // namespace pom::recorder
