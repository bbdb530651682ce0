#include "tools/recorder/RecorderStore.h"

#include <sqlite3.h>

#include <cstdio>
#include <map>

#include "util/FileUtil.h"

namespace pom::recorder {
namespace {

// Outside the table-name allow-list, so no post can name it.
constexpr const char* kLegendsTable = "\"pomiarnik:opisy\"";
constexpr int kBusyTimeoutMs = 10000;
constexpr std::size_t kMaxBatch = 256;
constexpr std::size_t kMaxCachedTables = 64;
constexpr std::size_t kMaxIdleReaders = 8;

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

bool Exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
    std::fprintf(stderr, "pomiarnik-recorder: %s: %s\n", sql, err ? err : "?");
    sqlite3_free(err);
    return false;
}

std::string ChannelColumns(const char* type) {
    std::string s;
    for (int i = 0; i < kChannels; ++i) s += ", Sonda" + std::to_string(i) + type;
    return s;
}

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

struct Store::Job {
    const Reading* reading = nullptr;
    const Legends* legends = nullptr;
    Outcome outcome = Outcome::Failed;
    bool done = false;
};

struct Store::Cache {
    std::map<std::string, std::unique_ptr<Stmt>> inserts;
    std::unique_ptr<Stmt> exists;
    std::unique_ptr<Stmt> legends;
};

Store::Store(std::string path) : path_(std::move(path)), cache_(std::make_unique<Cache>()) {
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
    thread_ = std::thread([this] { WriterLoop(); });
}

Store::~Store() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    cache_.reset();
    sqlite3_close(writer_);
    for (sqlite3* db : readers_) sqlite3_close(db);
}

Outcome Store::AddReading(const Reading& reading) {
    Job job;
    job.reading = &reading;
    std::unique_lock lock(mutex_);
    if (stopping_) return Outcome::Failed;
    queue_.push_back(&job);
    wake_.notify_one();
    done_.wait(lock, [&] { return job.done; });
    return job.outcome;
}

bool Store::SetLegends(const Legends& legends) {
    Job job;
    job.legends = &legends;
    std::unique_lock lock(mutex_);
    if (stopping_) return false;
    queue_.push_back(&job);
    wake_.notify_one();
    done_.wait(lock, [&] { return job.done; });
    return job.outcome == Outcome::Stored;
}

void Store::WriterLoop() {
    std::vector<Job*> batch;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            // Posts already waiting are still written on the way out.
            if (queue_.empty()) return;
            while (!queue_.empty() && batch.size() < kMaxBatch) {
                batch.push_back(queue_.front());
                queue_.pop_front();
            }
        }
        RunBatch(batch);
        {
            std::lock_guard lock(mutex_);
            for (Job* j : batch) j->done = true;
        }
        done_.notify_all();
        batch.clear();
    }
}

void Store::RunBatch(std::vector<Job*>& batch) {
    for (Job* j : batch) j->outcome = Outcome::Failed;
    if (!Exec(writer_, "BEGIN IMMEDIATE")) return;
    for (Job* j : batch) {
        // A post that fails leaves nothing behind and does not sink the others.
        Exec(writer_, "SAVEPOINT post");
        j->outcome = Apply(*j);
        if (j->outcome == Outcome::Failed) Exec(writer_, "ROLLBACK TO post");
        Exec(writer_, "RELEASE post");
    }
    if (!Exec(writer_, "COMMIT")) {
        Exec(writer_, "ROLLBACK");
        for (Job* j : batch) j->outcome = Outcome::Failed;
        cache_->inserts.clear();
    }
}

Outcome Store::Apply(Job& job) {
    if (job.legends) {
        Stmt& s = *cache_->legends;
        if (!s) return Outcome::Failed;
        sqlite3_reset(s.get());
        s.Text(1, job.legends->table);
        s.Text(2, job.legends->text);
        const int rc = s.Step();
        sqlite3_reset(s.get());
        if (rc != SQLITE_DONE) {
            std::fprintf(stderr, "pomiarnik-recorder: legends: %s\n", sqlite3_errmsg(writer_));
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
        if (!Exec(writer_, create.c_str())) return Outcome::Failed;
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
            std::fprintf(stderr, "pomiarnik-recorder: table %s: %s\n", r.table.c_str(),
                         sqlite3_errmsg(writer_));
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
        std::fprintf(stderr, "pomiarnik-recorder: table %s: %s\n", r.table.c_str(),
                     sqlite3_errmsg(writer_));
        // A statement of a table changed behind our back is prepared afresh next time.
        cache_->inserts.erase(key);
        return Outcome::Failed;
    }
    if (created) return Outcome::CreatedTable;
    return sqlite3_changes(writer_) == 0 ? Outcome::Exists : Outcome::Stored;
}

sqlite3* Store::TakeReader() {
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

void Store::GiveBack(sqlite3* db) {
    if (db == nullptr) return;
    std::lock_guard lock(readersMutex_);
    if (readers_.size() < kMaxIdleReaders)
        readers_.push_back(db);
    else
        sqlite3_close(db);
}

// One borrowed read connection for the life of a query.
class Store::Reader {
public:
    explicit Reader(Store& s) : s_(s), db_(s.TakeReader()) {}
    ~Reader() { s_.GiveBack(db_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    sqlite3* db() const { return db_; }

private:
    Store& s_;
    sqlite3* db_;
};

std::vector<TableSummary> Store::Tables() {
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

std::optional<std::string> Store::FindTable(const std::string& name) {
    if (!IsTableName(name)) return std::nullopt;
    Reader r(*this);
    if (!r.db()) return std::nullopt;
    Stmt q(r.db(), "SELECT name FROM sqlite_schema WHERE type='table' AND name=?1 COLLATE NOCASE");
    if (!q) return std::nullopt;
    q.Text(1, name);
    if (q.Step() != SQLITE_ROW) return std::nullopt;
    return q.Column(0);
}

std::string Store::LastStamp(const std::string& table) {
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
    if (!IsTableName(table)) return out;
    Reader r(*this);
    if (!r.db()) return out;
    Stmt q(r.db(), "SELECT Data" + ChannelColumns("") + " FROM " + Quote(table) +
                       " WHERE Data >= ?1 AND Data <= ?2 ORDER BY Data");
    if (!q) return out;
    q.Text(1, from);
    q.Text(2, to);
    while (q.Step() == SQLITE_ROW) {
        Row row;
        row.stamp = q.Column(0);
        for (int i = 0; i < kChannels; ++i)
            if (sqlite3_column_type(q.get(), i + 1) != SQLITE_NULL)
                row.values[static_cast<std::size_t>(i)] = sqlite3_column_double(q.get(), i + 1);
        out.push_back(std::move(row));
    }
    return out;
}

std::string Store::LegendsText(const std::string& table) {
    Reader r(*this);
    if (!r.db()) return {};
    Stmt q(r.db(), std::string("SELECT tekst FROM ") + kLegendsTable + " WHERE tabela=?1");
    if (!q) return {};
    q.Text(1, table);
    return q.Step() == SQLITE_ROW ? q.Column(0) : std::string();
}

}  // namespace pom::recorder
