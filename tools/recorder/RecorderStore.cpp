#include "tools/recorder/RecorderStore.h"

#include <sqlite3.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "tools/recorder/RecorderFaults.h"
#include "tools/recorder/RecorderWriteQueue.h"
#include "util/FileUtil.h"

namespace pom::recorder {
namespace {

// Outside the table-name allow-list, so no post can name it.
constexpr const char* kLegendsTable = "\"pomiarnik:opisy\"";
constexpr int kBusyTimeoutMs = 10000;
constexpr std::size_t kMaxBatch = 256;
constexpr std::size_t kMaxCachedTables = 64;
constexpr std::size_t kMaxIdleReaders = 8;
// Every post is a commit of a few pages, so the log grows to many times the
// size of the rows it holds before SQLite folds it into the database file
// (at 1000 pages, 4 MB) and never shrinks by itself. The writer folds it
// and cuts it to nothing once it has been idle this long, so the disk's
// space goes to the rows; under a steady load SQLite's own folding does.
constexpr auto kIdleFold = std::chrono::milliseconds(1000);
constexpr int kFoldWaitMs = 200;
// Less free space than this on the database's disk: the log is folded after
// every write, so it never takes what the rows could have.
constexpr std::uint64_t kLowSpace = 64ULL << 20;

class Stmt {
public:
    Stmt(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &s_, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(s_);
            s_ = nullptr;
        }
    }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    explicit operator bool() const { return s_ != nullptr; }
    sqlite3_stmt* get() const { return s_; }
    void Text(int i, const std::string& t) {
        sqlite3_bind_text(s_, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    }
    int Step() { return sqlite3_step(s_); }
    std::string Column(int i) const {
        const auto* p = sqlite3_column_text(s_, i);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(s_, i)))
                 : std::string();
    }

private:
    sqlite3_stmt* s_ = nullptr;
};

// Names reaching SQL text have passed IsTableName; the quoting is a second fence.
std::string Quote(const std::string& name) {
    std::string q = "\"";
    for (char c : name) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// A failure is printed, or handed to `why` for the caller to report.
bool Exec(sqlite3* db, const char* sql, std::string* why = nullptr) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
    const std::string text = std::string(sql) + ": " + (err ? err : "?");
    sqlite3_free(err);
    if (why == nullptr)
        std::fprintf(stderr, "pomiarnik-recorder: %s\n", text.c_str());
    else if (why->empty())
        *why = text;
    return false;
}

// A write that failed for want of space or on the device, where moving the
// log into the database file may give the space back.
bool DiskFault(sqlite3* db) {
    const int code = sqlite3_errcode(db) & 0xff;
    return code == SQLITE_FULL || code == SQLITE_IOERR;
}

// Copies the log into the database file and cuts the log to nothing; true
// when it did. On a full disk the log holds most of the used space (frames
// of many small commits); the database file needs far less of it. Readers
// holding old frames are waited for briefly only: the writer must not stall.
bool FoldLog(sqlite3* db) {
    sqlite3_busy_timeout(db, kFoldWaitMs);
    const int rc =
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return rc == SQLITE_OK;
}

bool LowOnSpace(const std::string& folder) {
    struct statvfs v {};
    if (::statvfs(folder.c_str(), &v) != 0) return false;
    return static_cast<std::uint64_t>(v.f_bavail) * v.f_frsize < kLowSpace;
}

std::string ChannelColumns(const char* type) {
    std::string s;
    for (int i = 0; i < kChannels; ++i) s += ", Sonda" + std::to_string(i) + type;
    return s;
}

// The summary cells of a readings table, beside it under a name outside the
// allow-list (no post can name it, and the table lists pass it by).
std::string SummaryTable(const std::string& table) {
    return "pomiarnik:zbiorcze:" + Lower(table);
}

// Per cell: its rows, the first and last row's time, and per channel the count,
// sum, minimum and maximum of the valid values with their times.
std::string SummarySchema(const std::string& table) {
    std::string sql = "CREATE TABLE " + Quote(SummaryTable(table)) +
                      " (level INTEGER NOT NULL, start INTEGER NOT NULL, n INTEGER NOT NULL,"
                      " first INTEGER NOT NULL, last INTEGER NOT NULL";
    for (int i = 0; i < kChannels; ++i) {
        const std::string c = std::to_string(i);
        sql += ", c" + c + " INTEGER NOT NULL, s" + c + " REAL NOT NULL, lo" + c + " REAL, lot" +
               c + " INTEGER, hi" + c + " REAL, hit" + c + " INTEGER";
    }
    return sql + ", PRIMARY KEY (level, start)) WITHOUT ROWID";
}

constexpr int kCellColumns = 5 + 6 * kChannels;

// Adds a cell to the one stored at the same level and start, or stores it.
std::string SummaryUpsert(const std::string& table) {
    std::string sql = "INSERT INTO " + Quote(SummaryTable(table)) + " VALUES (?1";
    for (int i = 2; i <= kCellColumns; ++i) sql += ", ?" + std::to_string(i);
    sql +=
        ") ON CONFLICT (level, start) DO UPDATE SET n = n + excluded.n,"
        " first = MIN(first, excluded.first), last = MAX(last, excluded.last)";
    for (int i = 0; i < kChannels; ++i) {
        const std::string c = std::to_string(i);
        // The earlier time wins a tie, whatever order the rows came in.
        const std::string lower = "excluded.lo" + c + " IS NOT NULL AND (lo" + c +
                                  " IS NULL OR excluded.lo" + c + " < lo" + c + " OR (excluded.lo" +
                                  c + " = lo" + c + " AND excluded.lot" + c + " < lot" + c + "))";
        const std::string higher = "excluded.hi" + c + " IS NOT NULL AND (hi" + c +
                                   " IS NULL OR excluded.hi" + c + " > hi" + c +
                                   " OR (excluded.hi" + c + " = hi" + c + " AND excluded.hit" + c +
                                   " < hit" + c + "))";
        sql += ", c" + c + " = c" + c + " + excluded.c" + c + ", s" + c + " = s" + c +
               " + excluded.s" + c;
        sql += ", lo" + c + " = CASE WHEN " + lower + " THEN excluded.lo" + c + " ELSE lo" + c +
               " END, lot" + c + " = CASE WHEN " + lower + " THEN excluded.lot" + c + " ELSE lot" +
               c + " END";
        sql += ", hi" + c + " = CASE WHEN " + higher + " THEN excluded.hi" + c + " ELSE hi" + c +
               " END, hit" + c + " = CASE WHEN " + higher + " THEN excluded.hit" + c + " ELSE hit" +
               c + " END";
    }
    return sql;
}

bool PutCell(sqlite3_stmt* s, std::int64_t level, const Cell& cell) {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    sqlite3_bind_int64(s, 1, level);
    sqlite3_bind_int64(s, 2, cell.start);
    sqlite3_bind_int64(s, 3, cell.rows);
    sqlite3_bind_int64(s, 4, cell.first);
    sqlite3_bind_int64(s, 5, cell.last);
    for (int i = 0; i < kChannels; ++i) {
        const Aggregate& a = cell.ch[static_cast<std::size_t>(i)];
        const int at = 6 + 6 * i;
        sqlite3_bind_int64(s, at, a.count);
        sqlite3_bind_double(s, at + 1, a.sum);
        if (a.count == 0) continue;  // extremes stay NULL
        sqlite3_bind_double(s, at + 2, a.min);
        sqlite3_bind_int64(s, at + 3, a.minT);
        sqlite3_bind_double(s, at + 4, a.max);
        sqlite3_bind_int64(s, at + 5, a.maxT);
    }
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    return rc == SQLITE_DONE;
}

// The columns of a cell with only the chosen channels: a year's cells are
// many, and reading columns is most of their cost.
std::string CellColumns(const std::array<bool, kChannels>& channels) {
    std::string cols = "start, n, first, last";
    for (int i = 0; i < kChannels; ++i) {
        if (!channels[static_cast<std::size_t>(i)]) continue;
        const std::string c = std::to_string(i);
        cols += ", c" + c + ", s" + c + ", lo" + c + ", lot" + c + ", hi" + c + ", hit" + c;
    }
    return cols;
}

Cell GetCell(sqlite3_stmt* s, const std::array<bool, kChannels>& channels) {
    Cell cell;
    cell.start = sqlite3_column_int64(s, 0);
    cell.rows = sqlite3_column_int64(s, 1);
    cell.first = sqlite3_column_int64(s, 2);
    cell.last = sqlite3_column_int64(s, 3);
    int at = 4;
    for (int i = 0; i < kChannels; ++i) {
        if (!channels[static_cast<std::size_t>(i)]) continue;
        Aggregate& a = cell.ch[static_cast<std::size_t>(i)];
        const int k = at;
        at += 6;
        a.count = sqlite3_column_int64(s, k);
        a.sum = sqlite3_column_double(s, k + 1);
        if (a.count == 0) continue;
        a.min = sqlite3_column_double(s, k + 2);
        a.minT = sqlite3_column_int64(s, k + 3);
        a.max = sqlite3_column_double(s, k + 4);
        a.maxT = sqlite3_column_int64(s, k + 5);
    }
    return cell;
}

Values GetValues(sqlite3_stmt* s, int at) {
    Values v;
    for (int i = 0; i < kChannels; ++i)
        if (sqlite3_column_type(s, at + i) != SQLITE_NULL)
            v[static_cast<std::size_t>(i)] = sqlite3_column_double(s, at + i);
    return v;
}

// (Re)builds a table's summary cells from its rows, oldest first so each
// level's cells are finished one after another. Within the caller's
// transaction; false leaves it to be rolled back.
bool BuildSummary(sqlite3* db, const std::string& table) {
    const std::string drop = "DROP TABLE IF EXISTS " + Quote(SummaryTable(table));
    if (!Exec(db, drop.c_str()) || !Exec(db, SummarySchema(table).c_str())) return false;
    Stmt put(db, SummaryUpsert(table));
    Stmt rows(db, "SELECT Data" + ChannelColumns("") + " FROM " + Quote(table) + " ORDER BY Data");
    if (!put || !rows) return false;
    std::array<Cell, kLevels.size()> open{};
    bool any = false;
    const auto flush = [&] {
        for (std::size_t l = 0; l < kLevels.size(); ++l)
            if (!PutCell(put.get(), kLevels[l], open[l])) return false;
        return true;
    };
    int rc;
    while ((rc = rows.Step()) == SQLITE_ROW) {
        const auto t = StampSeconds(rows.Column(0));
        if (!t) continue;  // not a stamp of ours: no place in time
        const Values values = GetValues(rows.get(), 1);
        for (std::size_t l = 0; l < kLevels.size(); ++l) {
            const std::int64_t start = *t - ((*t % kLevels[l]) + kLevels[l]) % kLevels[l];
            if (any && open[l].start != start) {
                if (!PutCell(put.get(), kLevels[l], open[l])) return false;
                open[l] = Cell{};
            }
            open[l].start = start;
            open[l].Add(*t, values);
        }
        any = true;
    }
    if (rc != SQLITE_DONE) return false;
    return !any || flush();
}

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

struct SqliteStore::Cache {
    std::map<std::string, std::unique_ptr<Stmt>> inserts;
    std::map<std::string, std::unique_ptr<Stmt>> summaries;  // upserts of present summaries
    std::unique_ptr<Stmt> exists;
    std::unique_ptr<Stmt> legends;
    // The writer's failures, told at most once a minute.
    FaultReport faults{[](const std::string& line) {
        std::fprintf(stderr, "pomiarnik-recorder: %s\n", line.c_str());
    }};
    std::string why;  // the current post's failure
    // A write failed for want of space: the log is folded after every batch
    // until that works, so it gives back its space as soon as some is freed.
    bool foldPending = false;
};

// The version starts from the clock in milliseconds, so a tag a browser kept
// from an earlier run of the recorder does not match this run's answers.
SqliteStore::SqliteStore(std::string path)
    : path_(std::move(path)),
      cache_(std::make_unique<Cache>()),
      queue_(std::make_unique<WriteQueue>()),
      version_(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count())) {
    if (!MakeFolders(Folder(path_))) throw StoreError(path_ + ": cannot create its folder");
    if (sqlite3_open_v2(path_.c_str(), &writer_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = writer_ ? sqlite3_errmsg(writer_) : "out of memory";
        sqlite3_close(writer_);
        throw StoreError(path_ + ": " + why);
    }
    sqlite3_busy_timeout(writer_, kBusyTimeoutMs);
    // WAL lets the pages read while posts are written. synchronous=FULL syncs
    // the log at every commit, so a reply sent after the commit survives a
    // crash of this process and of the machine; NORMAL would only survive
    // the former.
    Stmt wal(writer_, "PRAGMA journal_mode=WAL");
    const bool walOk = wal && wal.Step() == SQLITE_ROW && Lower(wal.Column(0)) == "wal";
    sqlite3_reset(wal.get());  // an unfinished statement would keep tables from being dropped
    if (!walOk) {
        const std::string why = sqlite3_errmsg(writer_);
        sqlite3_close(writer_);
        throw StoreError(path_ + ": not an SQLite database in WAL mode (" + why + ")");
    }
    const std::string schema = std::string("CREATE TABLE IF NOT EXISTS ") + kLegendsTable +
                               " (tabela TEXT PRIMARY KEY COLLATE NOCASE, tekst TEXT NOT NULL,"
                               " zmieniono TEXT NOT NULL)";
    if (!Exec(writer_, "PRAGMA synchronous=FULL") || !Exec(writer_, schema.c_str())) {
        const std::string why = sqlite3_errmsg(writer_);
        sqlite3_close(writer_);
        throw StoreError(path_ + ": " + why);
    }
    cache_->exists = std::make_unique<Stmt>(
        writer_, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name=?1 COLLATE NOCASE");
    cache_->legends = std::make_unique<Stmt>(
        writer_, std::string("INSERT INTO ") + kLegendsTable +
                     " (tabela, tekst, zmieniono) VALUES (?1, ?2, datetime('now','localtime'))"
                     " ON CONFLICT(tabela) DO UPDATE SET tekst=excluded.tekst,"
                     " zmieniono=excluded.zmieniono");
    SummariseAtStart();
    thread_ = std::thread([this] { WriterLoop(); });
}

SqliteStore::~SqliteStore() {
    queue_->Stop();
    thread_.join();
    cache_.reset();
    // The last connection to close moves the log into the database file and
    // removes it, but only one that may write can: the readers go first, so
    // a copy of the file alone holds every reading once the recorder stopped.
    for (sqlite3* db : readers_) sqlite3_close(db);
    sqlite3_close(writer_);
}

Outcome SqliteStore::AddReading(const Reading& reading) {
    return queue_->AddReading(reading);
}

std::vector<Outcome> SqliteStore::AddReadings(const std::vector<Reading>& readings) {
    return queue_->AddReadings(readings);
}

bool SqliteStore::SetLegends(const Legends& legends) {
    return queue_->SetLegends(legends);
}

void SqliteStore::WriterLoop() {
    std::vector<Job*> batch;
    bool written = false;  // since the log was last folded
    for (;;) {
        const auto took =
            queue_->Take(batch, kMaxBatch, written ? std::optional(kIdleFold) : std::nullopt);
        if (took == WriteQueue::Took::Stop) return;
        if (took == WriteQueue::Took::Idle) {
            FoldLog(writer_);
            written = false;
            continue;
        }
        // Pages waiting on a change see it only once it is committed.
        if (RunBatch(batch)) {
            ++version_;
            written = true;
        }
        queue_->Finish(batch);
    }
}

bool SqliteStore::RunBatch(std::vector<Job*>& batch) {
    for (Job* j : batch) j->outcome = Outcome::Failed;
    std::string why;
    bool disk = false;
    bool committed = false;
    if (Exec(writer_, "BEGIN IMMEDIATE", &why)) {
        for (Job* j : batch) {
            // A post that fails leaves nothing behind and does not sink the others.
            Exec(writer_, "SAVEPOINT post", &why);
            cache_->why.clear();
            j->outcome = Apply(*j);
            if (j->outcome == Outcome::Failed) {
                if (why.empty()) why = cache_->why;
                disk = disk || DiskFault(writer_);
                // A full disk may have ended the whole transaction: the rest
                // must not be written one statement at a time.
                if (sqlite3_get_autocommit(writer_)) break;
                Exec(writer_, "ROLLBACK TO post", &why);
            }
            Exec(writer_, "RELEASE post", &why);
        }
        committed = !sqlite3_get_autocommit(writer_) && Exec(writer_, "COMMIT", &why);
    }
    if (!committed) {
        disk = disk || DiskFault(writer_);
        if (!sqlite3_get_autocommit(writer_)) Exec(writer_, "ROLLBACK", &why);
        for (Job* j : batch) j->outcome = Outcome::Failed;
        cache_->inserts.clear();
        cache_->summaries.clear();
    }
    const auto failed = std::count_if(batch.begin(), batch.end(),
                                      [](const Job* j) { return j->outcome == Outcome::Failed; });
    if (failed > 0)
        cache_->faults.Failed(why.empty() ? "a write failed" : why, failed);
    else
        cache_->faults.Succeeded();
    if (disk || cache_->foldPending || LowOnSpace(Folder(path_)))
        cache_->foldPending = !FoldLog(writer_) && (disk || cache_->foldPending);
    return std::any_of(batch.begin(), batch.end(), [](const Job* j) {
        return j->outcome == Outcome::Stored || j->outcome == Outcome::CreatedTable;
    });
}

Outcome SqliteStore::Apply(Job& job) {
    if (job.legends) {
        Stmt& s = *cache_->legends;
        if (!s) return Outcome::Failed;
        sqlite3_reset(s.get());
        s.Text(1, job.legends->table);
        s.Text(2, job.legends->text);
        const int rc = s.Step();
        sqlite3_reset(s.get());
        if (rc != SQLITE_DONE) {
            cache_->why = std::string("legends: ") + sqlite3_errmsg(writer_);
            return Outcome::Failed;
        }
        return Outcome::Stored;
    }
    const Reading& r = *job.reading;
    Stmt& exists = *cache_->exists;
    if (!exists) return Outcome::Failed;
    sqlite3_reset(exists.get());
    exists.Text(1, r.table);
    const bool present = exists.Step() == SQLITE_ROW;
    sqlite3_reset(exists.get());
    bool created = false;
    if (!present) {
        const std::string create =
            "CREATE TABLE " + Quote(r.table) + " (Data TEXT PRIMARY KEY NOT NULL" +
            ChannelColumns(" REAL") +
            ", Odebrano TEXT NOT NULL DEFAULT (datetime('now','localtime')))";
        if (!Exec(writer_, create.c_str(), &cache_->why)) return Outcome::Failed;
        created = true;
    }
    const std::string key = Lower(r.table);
    auto it = cache_->inserts.find(key);
    if (it == cache_->inserts.end()) {
        if (cache_->inserts.size() >= kMaxCachedTables) cache_->inserts.clear();
        std::string sql =
            "INSERT INTO " + Quote(r.table) + " (Data" + ChannelColumns("") + ") VALUES (?1";
        for (int i = 0; i < kChannels; ++i) sql += ", ?" + std::to_string(i + 2);
        sql += ") ON CONFLICT(Data) DO NOTHING";
        auto s = std::make_unique<Stmt>(writer_, sql);
        if (!*s) {
            cache_->why = "table " + r.table + ": " + sqlite3_errmsg(writer_);
            return Outcome::Failed;
        }
        it = cache_->inserts.emplace(key, std::move(s)).first;
    }
    Stmt& ins = *it->second;
    sqlite3_reset(ins.get());
    sqlite3_clear_bindings(ins.get());
    ins.Text(1, r.stamp);
    for (int i = 0; i < kChannels; ++i) {
        const auto& v = r.values[static_cast<std::size_t>(i)];
        if (v) sqlite3_bind_double(ins.get(), i + 2, *v);
    }
    const int rc = ins.Step();
    sqlite3_reset(ins.get());
    if (rc != SQLITE_DONE) {
        cache_->why = "table " + r.table + ": " + sqlite3_errmsg(writer_);
        // A statement of a table changed behind our back is prepared afresh next time.
        cache_->inserts.erase(key);
        return Outcome::Failed;
    }
    if (sqlite3_changes(writer_) == 0) return Outcome::Exists;
    if (const auto t = StampSeconds(r.stamp); t && !Summarise(r.table, key, *t, r.values)) {
        cache_->why = "table " + r.table + ": summary: " + sqlite3_errmsg(writer_);
        // The savepoint is rolled back, which may undo a summary table made here.
        cache_->summaries.erase(key);
        return Outcome::Failed;
    }
    return created ? Outcome::CreatedTable : Outcome::Stored;
}

// Adds the row just inserted to its cell at every level; a table without
// summaries yet (new, or made by something else) gets them built, row included.
bool SqliteStore::Summarise(const std::string& table, const std::string& key, std::int64_t t,
                            const Values& values) {
    auto it = cache_->summaries.find(key);
    if (it == cache_->summaries.end()) {
        Stmt& exists = *cache_->exists;
        sqlite3_reset(exists.get());
        exists.Text(1, SummaryTable(table));
        const bool present = exists.Step() == SQLITE_ROW;
        sqlite3_reset(exists.get());
        if (!present) return BuildSummary(writer_, table);
        if (cache_->summaries.size() >= kMaxCachedTables) cache_->summaries.clear();
        auto s = std::make_unique<Stmt>(writer_, SummaryUpsert(table));
        if (!*s) return false;
        it = cache_->summaries.emplace(key, std::move(s)).first;
    }
    for (std::int64_t level : kLevels) {
        Cell cell;
        cell.start = t - ((t % level) + level) % level;
        cell.Add(t, values);
        if (!PutCell(it->second->get(), level, cell)) return false;
    }
    return true;
}

// Tables written before summaries existed, or by a recorder that did not keep
// them, get them (re)built: a summary whose row count differs from the table's.
void SqliteStore::SummariseAtStart() {
    std::vector<std::string> stale;
    {
        Stmt names(writer_, "SELECT name FROM sqlite_schema WHERE type='table' ORDER BY name");
        while (names && names.Step() == SQLITE_ROW) {
            const std::string name = names.Column(0);
            if (!IsTableName(name)) continue;
            Stmt count(writer_, "SELECT COUNT(*) FROM " + Quote(name));
            Stmt data(writer_, "SELECT Data FROM " + Quote(name) + " LIMIT 0");
            if (!count || !data || count.Step() != SQLITE_ROW) continue;
            // Every level must hold every row once.
            std::map<std::int64_t, std::int64_t> sums;
            for (std::int64_t level : kLevels) sums[level] = 0;
            Stmt summed(writer_, "SELECT level, SUM(n) FROM " + Quote(SummaryTable(name)) +
                                     " GROUP BY level");
            while (summed && summed.Step() == SQLITE_ROW)
                sums[sqlite3_column_int64(summed.get(), 0)] = sqlite3_column_int64(summed.get(), 1);
            const std::int64_t rows = sqlite3_column_int64(count.get(), 0);
            if (!summed || sums.size() != kLevels.size() ||
                std::any_of(sums.begin(), sums.end(),
                            [&](const auto& s) { return s.second != rows; }))
                stale.push_back(name);
        }
    }
    for (const std::string& name : stale) {
        // Readings stay readable without them (the answers then read rows),
        // so a failure here is reported and the recorder goes on.
        if (Exec(writer_, "BEGIN IMMEDIATE") && BuildSummary(writer_, name) &&
            Exec(writer_, "COMMIT")) {
            std::fprintf(stderr, "pomiarnik-recorder: table %s: summaries built\n", name.c_str());
            continue;
        }
        std::fprintf(stderr, "pomiarnik-recorder: table %s: summaries not built: %s\n",
                     name.c_str(), sqlite3_errmsg(writer_));
        Exec(writer_, "ROLLBACK");
    }
}

sqlite3* SqliteStore::TakeReader() {
    {
        std::lock_guard lock(readersMutex_);
        if (!readers_.empty()) {
            sqlite3* db = readers_.back();
            readers_.pop_back();
            return db;
        }
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return db;
}

void SqliteStore::GiveBack(sqlite3* db) {
    if (db == nullptr) return;
    std::lock_guard lock(readersMutex_);
    if (readers_.size() < kMaxIdleReaders)
        readers_.push_back(db);
    else
        sqlite3_close(db);
}

// One borrowed read connection for the life of a query.
class SqliteStore::Reader {
public:
    explicit Reader(SqliteStore& s) : s_(s), db_(s.TakeReader()) {}
    ~Reader() { s_.GiveBack(db_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    sqlite3* db() const { return db_; }

private:
    SqliteStore& s_;
    sqlite3* db_;
};

std::vector<TableSummary> SqliteStore::Tables() {
    std::vector<TableSummary> out;
    Reader r(*this);
    if (!r.db()) return out;
    Stmt names(r.db(), "SELECT name FROM sqlite_schema WHERE type='table' ORDER BY name");
    if (!names) return out;
    while (names.Step() == SQLITE_ROW) {
        const std::string name = names.Column(0);
        if (!IsTableName(name)) continue;
        Stmt q(r.db(), "SELECT COUNT(*), MAX(Data) FROM " + Quote(name));
        if (!q || q.Step() != SQLITE_ROW) continue;  // not one of ours: no Data column
        out.push_back({name, sqlite3_column_int64(q.get(), 0), q.Column(1)});
    }
    return out;
}

std::optional<std::string> SqliteStore::FindTable(const std::string& name) {
    if (!IsTableName(name)) return std::nullopt;
    Reader r(*this);
    if (!r.db()) return std::nullopt;
    Stmt q(r.db(), "SELECT name FROM sqlite_schema WHERE type='table' AND name=?1 COLLATE NOCASE");
    if (!q) return std::nullopt;
    q.Text(1, name);
    if (q.Step() != SQLITE_ROW) return std::nullopt;
    return q.Column(0);
}

std::string SqliteStore::LastStamp(const std::string& table) {
    if (!IsTableName(table)) return {};
    Reader r(*this);
    if (!r.db()) return {};
    Stmt q(r.db(), "SELECT MAX(Data) FROM " + Quote(table));
    if (!q || q.Step() != SQLITE_ROW) return {};
    return q.Column(0);
}

std::vector<Row> Store::Rows(const std::string& table, const std::string& from,
                             const std::string& to) {
    std::vector<Row> out;
    EachRow(table, from, to, [&](const Row& r) { out.push_back(r); });
    return out;
}

void SqliteStore::EachRow(const std::string& table, const std::string& from, const std::string& to,
                          const std::function<void(const Row&)>& visit) {
    if (!IsTableName(table)) return;
    Reader r(*this);
    if (!r.db()) return;
    Stmt q(r.db(), "SELECT Data" + ChannelColumns("") + " FROM " + Quote(table) +
                       " WHERE Data >= ?1 AND Data <= ?2 ORDER BY Data");
    if (!q) return;
    q.Text(1, from);
    q.Text(2, to);
    Row row;
    while (q.Step() == SQLITE_ROW) {
        row.stamp = q.Column(0);
        row.values = GetValues(q.get(), 1);
        visit(row);
    }
}

std::string SqliteStore::LegendsText(const std::string& table) {
    Reader r(*this);
    if (!r.db()) return {};
    Stmt q(r.db(), std::string("SELECT tekst FROM ") + kLegendsTable + " WHERE tabela=?1");
    if (!q) return {};
    q.Text(1, table);
    return q.Step() == SQLITE_ROW ? q.Column(0) : std::string();
}

std::vector<std::string> SqliteStore::TableNames() {
    std::vector<std::string> out;
    Reader r(*this);
    if (!r.db()) return out;
    Stmt names(r.db(), "SELECT name FROM sqlite_schema WHERE type='table' ORDER BY name");
    while (names && names.Step() == SQLITE_ROW) {
        std::string name = names.Column(0);
        // Preparing fails for a table without a Data column: not one of ours.
        if (IsTableName(name) && Stmt(r.db(), "SELECT Data FROM " + Quote(name) + " LIMIT 0"))
            out.push_back(std::move(name));
    }
    return out;
}

std::optional<TableFacts> SqliteStore::Facts(const std::string& table) {
    if (!IsTableName(table)) return std::nullopt;
    Reader r(*this);
    if (!r.db()) return std::nullopt;
    // One snapshot for all the statements below.
    if (!Exec(r.db(), "BEGIN")) return std::nullopt;
    struct End {
        sqlite3* db;
        ~End() { Exec(db, "COMMIT"); }
    } end{r.db()};
    TableFacts f;
    f.name = table;
    // One MIN or MAX alone is a single index step; both in one statement scan.
    for (auto [sql, out] : {std::pair{"MIN", &f.first}, std::pair{"MAX", &f.last}}) {
        Stmt q(r.db(), std::string("SELECT ") + sql + "(Data) FROM " + Quote(table));
        if (!q || q.Step() != SQLITE_ROW) return std::nullopt;
        *out = q.Column(0);
    }
    Stmt newest(r.db(), "SELECT Data" + ChannelColumns("") + " FROM " + Quote(table) +
                            " ORDER BY Data DESC LIMIT " + std::to_string(kNewestRows));
    if (!newest) return std::nullopt;
    while (newest.Step() == SQLITE_ROW)
        f.newest.push_back({newest.Column(0), GetValues(newest.get(), 1)});

    std::string sums = "SELECT COALESCE(SUM(n), 0)";
    for (int i = 0; i < kChannels; ++i) sums += ", COALESCE(SUM(c" + std::to_string(i) + "), 0)";
    Stmt q(r.db(), sums + " FROM " + Quote(SummaryTable(table)) +
                       " WHERE level = " + std::to_string(kLevels.back()));
    if (q && q.Step() == SQLITE_ROW) {
        f.summarised = true;
        f.rows = sqlite3_column_int64(q.get(), 0);
        for (int i = 0; i < kChannels; ++i)
            f.hasData[static_cast<std::size_t>(i)] = sqlite3_column_int64(q.get(), i + 1) > 0;
    } else {
        Stmt count(r.db(), "SELECT COUNT(*) FROM " + Quote(table));
        if (count && count.Step() == SQLITE_ROW) f.rows = sqlite3_column_int64(count.get(), 0);
        for (const Row& row : f.newest)
            for (std::size_t c = 0; c < kChannels; ++c)
                f.hasData[c] = f.hasData[c] || (row.values[c] && IsReading(*row.values[c]));
    }
    Stmt legends(r.db(), std::string("SELECT tekst FROM ") + kLegendsTable + " WHERE tabela=?1");
    if (legends) {
        legends.Text(1, table);
        if (legends.Step() == SQLITE_ROW) f.legendsText = legends.Column(0);
    }
    return f;
}

std::optional<std::vector<Cell>> SqliteStore::Cells(const std::string& table, std::int64_t level,
                                                    std::int64_t from, std::int64_t to,
                                                    const std::array<bool, kChannels>& channels) {
    if (!IsTableName(table)) return std::nullopt;
    Reader r(*this);
    if (!r.db()) return std::nullopt;
    Stmt q(r.db(), "SELECT " + CellColumns(channels) + " FROM " + Quote(SummaryTable(table)) +
                       " WHERE level = ?1 AND start >= ?2 AND start < ?3 ORDER BY start");
    if (!q) return std::nullopt;
    sqlite3_bind_int64(q.get(), 1, level);
    sqlite3_bind_int64(q.get(), 2, from);
    sqlite3_bind_int64(q.get(), 3, to);
    std::vector<Cell> out;
    if (to > from) out.reserve(static_cast<std::size_t>((to - from) / level + 1));
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) out.push_back(GetCell(q.get(), channels));
    if (rc != SQLITE_DONE) return std::nullopt;
    return out;
}

std::pair<std::string, std::string> SqliteStore::Around(const std::string& table,
                                                        const std::string& from,
                                                        const std::string& to) {
    std::pair<std::string, std::string> out;
    if (!IsTableName(table)) return out;
    Reader r(*this);
    if (!r.db()) return out;
    Stmt before(r.db(), "SELECT MAX(Data) FROM " + Quote(table) + " WHERE Data < ?1");
    Stmt after(r.db(), "SELECT MIN(Data) FROM " + Quote(table) + " WHERE Data > ?1");
    if (!before || !after) return out;
    before.Text(1, from);
    after.Text(1, to);
    if (before.Step() == SQLITE_ROW) out.first = before.Column(0);
    if (after.Step() == SQLITE_ROW) out.second = after.Column(0);
    return out;
}

}  // namespace pom::recorder
