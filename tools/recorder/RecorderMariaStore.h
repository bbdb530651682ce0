#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tools/recorder/RecorderDbAddress.h"
#include "tools/recorder/RecorderFaults.h"
#include "tools/recorder/RecorderStore.h"

struct st_mysql;

namespace pom::recorder {

// The readings in a MariaDB (or MySQL) database, shared with other recorders
// and read by other tools: one table per station as in the SQLite file, the
// legends in "pomiarnik:opisy", the dashboard's summary cells of every table
// in "pomiarnik:zbiorcze". Like the SQLite store, one writer thread commits
// the waiting posts in one transaction and a post returns only after its
// COMMIT; the readers take connections of their own. A lost connection fails
// the posts of that moment (they are sent again) and is made anew on the next
// use, so the recorder is back within a post of the database's return.
class MariaStore final : public Store {
public:
    // Connects, creates the legends and summary tables where missing;
    // StoreError when the database cannot be reached.
    explicit MariaStore(DbAddress address);
    ~MariaStore() override;
    MariaStore(const MariaStore&) = delete;
    MariaStore& operator=(const MariaStore&) = delete;

    std::string Where() const override { return ShownAddress(address_); }

    Outcome AddReading(const Reading& reading) override;
    bool SetLegends(const Legends& legends) override;
    std::vector<Outcome> AddReadings(const std::vector<Reading>& readings) override;
    std::vector<TableSummary> Tables() override;
    std::string LastStamp(const std::string& table) override;
    std::string LegendsText(const std::string& table) override;

    // Changes with every write of this recorder, and within a second of a
    // page asking after another recorder's write to the same database (a
    // counter in "pomiarnik:zmiany", read at most once a second).
    std::uint64_t Version() const override;
    std::vector<std::string> TableNames() override;
    // The table's name as stored; a name differing only in case finds it, as
    // in the SQLite file.
    std::optional<std::string> FindTable(const std::string& name) override;
    std::optional<TableFacts> Facts(const std::string& table) override;
    void EachRow(const std::string& table, const std::string& from, const std::string& to,
                 const std::function<void(const Row&)>& visit) override;
    std::optional<std::vector<Cell>> Cells(const std::string& table, std::int64_t level,
                                           std::int64_t from, std::int64_t to,
                                           const std::array<bool, kChannels>& channels) override;
    std::pair<std::string, std::string> Around(const std::string& table, const std::string& from,
                                               const std::string& to) override;

private:
    using Job = WriteJob;
    class Reader;
    st_mysql* Connect(std::string* error) const;
    void WriterLoop();
    void RunBatch(std::vector<Job*>& batch);
    bool PrepareTables(std::vector<Job*>& batch);
    Outcome Apply(Job& job);
    bool Summarise(const std::string& table, std::int64_t t, const Values& values);
    bool BuildSummary(const std::string& table);
    bool WriteCells();
    void Rollback();
    std::string Named(const std::string& table) const;  // as stored, empty when unknown
    void SummariseAtStart();
    bool CountChange(const std::vector<Job*>& batch);
    void Fail(const std::string& what, const std::string& why);
    void WriterLost(const std::string& why);
    st_mysql* TakeReader();
    void GiveBack(st_mysql* db, bool healthy);

    DbAddress address_;
    st_mysql* writer_ = nullptr;
    // The writer's failures, told at most once a minute with their count
    // (a database away for an hour fails every post of it); the running
    // batch's first failure in `why_`.
    FaultReport faults_{[](const std::string& line) {
        std::fprintf(stderr, "pomiarnik-recorder: %s\n", line.c_str());
    }};
    std::string why_;
    // Per table (lower-case name): its name as stored, whether this
    // recorder created it in the running batch, and whether its summary
    // cells exist.
    std::map<std::string, std::string> stored_;
    std::set<std::string> createdNow_;
    std::set<std::string> summarised_;
    std::set<std::string> badShape_;  // reported once
    // The batch's rows added up per summary cell (table, level, start),
    // written once per cell just before the COMMIT.
    std::map<std::tuple<std::string, std::int64_t, std::int64_t>, Cell> pending_;
    struct Cache;
    std::unique_ptr<Cache> cache_;
    unsigned lastErrno_ = 0;  // of the last failed statement of the writer

    std::unique_ptr<WriteQueue> queue_;

    std::mutex readersMutex_;
    std::vector<st_mysql*> readers_;

    mutable std::atomic<std::uint64_t> version_;  // Version() counts the others' writes in
    struct Changes;
    std::unique_ptr<Changes> changes_;
    std::uint64_t counted_ = 0;  // the shared counter after the running batch, 0: not counted
    bool countFailedTold_ = false;
    std::thread thread_;
};

}  // namespace pom::recorder
