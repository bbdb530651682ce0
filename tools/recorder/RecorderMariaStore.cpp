#include "tools/recorder/RecorderMariaStore.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <mutex>

#include "tools/recorder/RecorderWriteQueue.h"

namespace pom::recorder {
namespace {

// Outside the table-name allow-list (a colon), so no post can name them. The
// summary cells of every table share one table: a per-table name would
// outgrow the 64 characters MariaDB allows.
constexpr const char* kLegendsTable = "`pomiarnik:opisy`";
constexpr const char* kSummaryTable = "`pomiarnik:zbiorcze`";
// One row counting the batches every recorder of the database committed,
// so that each one's pages notice the others' readings.
constexpr const char* kChangesTable = "`pomiarnik:zmiany`";
constexpr auto kOthersEvery = std::chrono::seconds(1);
constexpr std::size_t kMaxBatch = 256;
constexpr std::size_t kMaxIdleReaders = 8;
constexpr int kBatchTries = 3;
constexpr unsigned long kTextBuffer = 8192;  // stamps, names, legends (at most 4096 bytes)

struct Param {
    enum Kind { Null, Text, Real, Int } kind = Null;
    std::string text;
    double real = 0;
    long long integer = 0;
};

Param Txt(std::string s) {
    Param p;
    p.kind = Param::Text;
    p.text = std::move(s);
    return p;
}
Param Num(std::optional<double> v) {
    Param p;
    if (v) {
        p.kind = Param::Real;
        p.real = *v;
    }
    return p;
}
Param Int(std::int64_t v) {
    Param p;
    p.kind = Param::Int;
    p.integer = v;
    return p;
}

// A prepared statement: every value reaches the server bound, never in the
// SQL text. `kinds` names the result columns: 's' text, 'd' double, 'i' integer.
class Stmt {
public:
    Stmt(MYSQL* db, const std::string& sql, std::string kinds = {})
        : s_(mysql_stmt_init(db)), kinds_(std::move(kinds)) {
        if (s_ == nullptr) {
            errno_ = mysql_errno(db);
            error_ = mysql_error(db);
        } else if (mysql_stmt_prepare(s_, sql.data(), sql.size()) != 0) {
            Keep();
            mysql_stmt_close(s_);
            s_ = nullptr;
        }
    }
    ~Stmt() {
        if (s_) mysql_stmt_close(s_);
    }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    explicit operator bool() const { return s_ != nullptr; }

    // Executes with these values; a buffered result is read whole first, so
    // the connection is free for the next statement while rows are looked at.
    bool Run(std::vector<Param> params, bool buffered = true) {
        if (!s_) return false;
        mysql_stmt_free_result(s_);
        params_ = std::move(params);
        binds_.assign(params_.size(), MYSQL_BIND{});
        lengths_.assign(params_.size(), 0);
        for (std::size_t i = 0; i < params_.size(); ++i) {
            MYSQL_BIND& b = binds_[i];
            Param& p = params_[i];
            switch (p.kind) {
                case Param::Null:
                    b.buffer_type = MYSQL_TYPE_NULL;
                    break;
                case Param::Text:
                    b.buffer_type = MYSQL_TYPE_STRING;
                    b.buffer = p.text.data();
                    b.buffer_length = p.text.size();
                    lengths_[i] = p.text.size();
                    b.length = &lengths_[i];
                    break;
                case Param::Real:
                    b.buffer_type = MYSQL_TYPE_DOUBLE;
                    b.buffer = &p.real;
                    break;
                case Param::Int:
                    b.buffer_type = MYSQL_TYPE_LONGLONG;
                    b.buffer = &p.integer;
                    break;
            }
        }
        if ((!binds_.empty() && mysql_stmt_bind_param(s_, binds_.data()) != 0) ||
            mysql_stmt_execute(s_) != 0)
            return Keep();
        if (kinds_.empty()) return true;
        const std::size_t n = kinds_.size();
        results_.assign(n, MYSQL_BIND{});
        texts_.assign(n, std::string());
        reals_.assign(n, 0);
        ints_.assign(n, 0);
        resultLengths_.assign(n, 0);
        nulls_.assign(n, 0);
        errors_.assign(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            MYSQL_BIND& b = results_[i];
            b.is_null = &nulls_[i];
            b.error = &errors_[i];
            b.length = &resultLengths_[i];
            if (kinds_[i] == 's') {
                texts_[i].resize(kTextBuffer);
                b.buffer_type = MYSQL_TYPE_STRING;
                b.buffer = texts_[i].data();
                b.buffer_length = kTextBuffer;
            } else if (kinds_[i] == 'd') {
                b.buffer_type = MYSQL_TYPE_DOUBLE;
                b.buffer = &reals_[i];
            } else {
                b.buffer_type = MYSQL_TYPE_LONGLONG;
                b.buffer = &ints_[i];
            }
        }
        if (mysql_stmt_bind_result(s_, results_.data()) != 0) return Keep();
        if (buffered && mysql_stmt_store_result(s_) != 0) return Keep();
        return true;
    }

    // The next row; false at the end or on an error (then Failed()).
    bool Next() {
        const int rc = mysql_stmt_fetch(s_);
        if (rc == 0) return true;
        if (rc != MYSQL_NO_DATA) {
            Keep();
            if (rc == MYSQL_DATA_TRUNCATED) error_ = "a value too long for its buffer";
            failed_ = true;
        }
        return false;
    }
    bool Failed() const { return failed_; }

    std::string Text(std::size_t i) const {
        if (nulls_[i]) return {};
        return texts_[i].substr(0, std::min<unsigned long>(resultLengths_[i], kTextBuffer));
    }
    std::optional<double> Real(std::size_t i) const {
        return nulls_[i] ? std::nullopt : std::optional<double>(reals_[i]);
    }
    std::int64_t Integer(std::size_t i) const { return nulls_[i] ? 0 : ints_[i]; }
    std::uint64_t Affected() const { return mysql_stmt_affected_rows(s_); }
    unsigned Errno() const { return errno_; }
    const std::string& Error() const { return error_; }

private:
    bool Keep() {
        if (s_) {
            errno_ = mysql_stmt_errno(s_);
            error_ = mysql_stmt_error(s_);
        }
        return false;
    }

    MYSQL_STMT* s_;
    std::string kinds_;
    std::vector<Param> params_;
    std::vector<MYSQL_BIND> binds_;
    std::vector<unsigned long> lengths_;
    std::vector<MYSQL_BIND> results_;
    std::vector<std::string> texts_;
    std::vector<double> reals_;
    std::vector<long long> ints_;
    std::vector<unsigned long> resultLengths_;
    std::vector<my_bool> nulls_;
    std::vector<my_bool> errors_;
    unsigned errno_ = 0;
    std::string error_;
    bool failed_ = false;
};

// Transaction control: fixed words, no values.
bool Control(MYSQL* db, const char* sql) {
    return mysql_real_query(db, sql, std::char_traits<char>::length(sql)) == 0;
}

// Errors after which the connection is of no further use.
bool Lost(unsigned e) {
    return e == CR_SERVER_GONE_ERROR || e == CR_SERVER_LOST || e == CR_CONNECTION_ERROR ||
           e == CR_CONN_HOST_ERROR || e == CR_SERVER_LOST_EXTENDED || e == ER_CONNECTION_KILLED ||
           e == ER_SERVER_SHUTDOWN || e == CR_COMMANDS_OUT_OF_SYNC || e == 4031;
}

// The whole transaction was (or must be) rolled back; the batch is tried again.
bool Retry(unsigned e) {
    return e == ER_LOCK_DEADLOCK || e == ER_LOCK_WAIT_TIMEOUT;
}

// Names reaching SQL text have passed IsTableName; the quoting is a second fence.
std::string Quote(const std::string& name) {
    std::string q = "`";
    for (char c : name) {
        if (c == '`') q += '`';
        q += c;
    }
    return q + "`";
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

std::string ChannelColumns() {
    std::string s;
    for (int i = 0; i < kChannels; ++i) s += ", Sonda" + std::to_string(i);
    return s;
}

std::string RowKinds() {
    return "s" + std::string(kChannels, 'd');
}

// A bound shorter than a stamp ("", "2024", "9999") completed to one, the
// earliest or the latest it stands for, so the time index serves it.
std::string FromBound(const std::string& b) {
    static const std::string kFirst = "0000-01-01 00:00:00";
    return b.size() >= kFirst.size() ? b : b + kFirst.substr(b.size());
}
std::string ToBound(const std::string& b) {
    static const std::string kLast = "9999-12-31 23:59:59";
    return b.size() >= kLast.size() ? b : b + kLast.substr(b.size());
}

Values GetValues(const Stmt& s, std::size_t at) {
    Values v;
    for (std::size_t i = 0; i < kChannels; ++i) v[i] = s.Real(at + i);
    return v;
}

std::string ReadingsSchema(const std::string& table) {
    std::string sql = "CREATE TABLE IF NOT EXISTS " + Quote(table) + " (Data DATETIME NOT NULL";
    for (int i = 0; i < kChannels; ++i) sql += ", Sonda" + std::to_string(i) + " DOUBLE NULL";
    return sql +
           ", Odebrano DATETIME NOT NULL DEFAULT CURRENT_TIMESTAMP, PRIMARY KEY (Data))"
           " ENGINE=InnoDB";
}

std::string SummarySchema() {
    std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") + kSummaryTable +
                      " (tabela VARCHAR(64) CHARACTER SET ascii COLLATE ascii_bin NOT NULL,"
                      " `level` INT NOT NULL, `start` BIGINT NOT NULL, n BIGINT NOT NULL,"
                      " `first` BIGINT NOT NULL, `last` BIGINT NOT NULL";
    for (int i = 0; i < kChannels; ++i) {
        const std::string c = std::to_string(i);
        sql += ", c" + c + " BIGINT NOT NULL, s" + c + " DOUBLE NOT NULL, lo" + c +
               " DOUBLE NULL, lot" + c + " BIGINT NULL, hi" + c + " DOUBLE NULL, hit" + c +
               " BIGINT NULL";
    }
    return sql + ", PRIMARY KEY (tabela, `level`, `start`)) ENGINE=InnoDB";
}

// The assignments of an upsert run left to right on the values already assigned, so each
// extreme's time is set before the extreme its test reads.
constexpr std::size_t kCellsAtOnce = 200;

std::string CellsInsert(std::size_t cells) {
    std::string one = "(?";
    for (int i = 1; i < 6 + 6 * kChannels; ++i) one += ", ?";
    one += ")";
    std::string sql = std::string("INSERT INTO ") + kSummaryTable + " VALUES " + one;
    for (std::size_t i = 1; i < cells; ++i) sql += ", " + one;
    return sql;
}

// Adds `cells` cells each to the one stored at the same level and start, or
// stores it.
std::string SummaryUpsert(std::size_t cells) {
    std::string sql = CellsInsert(cells);
    sql +=
        " ON DUPLICATE KEY UPDATE n = n + VALUES(n), `first` = LEAST(`first`, VALUES(`first`)),"
        " `last` = GREATEST(`last`, VALUES(`last`))";
    for (int i = 0; i < kChannels; ++i) {
        const std::string c = std::to_string(i);
        // The earlier time wins a tie, whatever order the rows came in.
        const std::string lower = "VALUES(lo" + c + ") IS NOT NULL AND (lo" + c +
                                  " IS NULL OR VALUES(lo" + c + ") < lo" + c + " OR (VALUES(lo" +
                                  c + ") = lo" + c + " AND VALUES(lot" + c + ") < lot" + c + "))";
        const std::string higher = "VALUES(hi" + c + ") IS NOT NULL AND (hi" + c +
                                   " IS NULL OR VALUES(hi" + c + ") > hi" + c + " OR (VALUES(hi" +
                                   c + ") = hi" + c + " AND VALUES(hit" + c + ") < hit" + c + "))";
        sql += ", c" + c + " = c" + c + " + VALUES(c" + c + "), s" + c + " = s" + c +
               " + VALUES(s" + c + ")";
        sql += ", lot" + c + " = IF(" + lower + ", VALUES(lot" + c + "), lot" + c + ")";
        sql += ", lo" + c + " = IF(" + lower + ", VALUES(lo" + c + "), lo" + c + ")";
        sql += ", hit" + c + " = IF(" + higher + ", VALUES(hit" + c + "), hit" + c + ")";
        sql += ", hi" + c + " = IF(" + higher + ", VALUES(hi" + c + "), hi" + c + ")";
    }
    return sql;
}

std::vector<Param> CellParams(const std::string& table, std::int64_t level, const Cell& cell) {
    std::vector<Param> p = {Txt(table),     Int(level),      Int(cell.start),
                            Int(cell.rows), Int(cell.first), Int(cell.last)};
    for (const Aggregate& a : cell.ch) {
        p.push_back(Int(a.count));
        p.push_back(Num(a.sum));
        const bool any = a.count > 0;  // extremes stay NULL
        p.push_back(any ? Num(a.min) : Param{});
        p.push_back(any ? Int(a.minT) : Param{});
        p.push_back(any ? Num(a.max) : Param{});
        p.push_back(any ? Int(a.maxT) : Param{});
    }
    return p;
}

std::string CellColumns(const std::array<bool, kChannels>& channels, std::string& kinds) {
    std::string cols = "`start`, n, `first`, `last`";
    kinds = "iiii";
    for (int i = 0; i < kChannels; ++i) {
        if (!channels[static_cast<std::size_t>(i)]) continue;
        const std::string c = std::to_string(i);
        cols += ", c" + c + ", s" + c + ", lo" + c + ", lot" + c + ", hi" + c + ", hit" + c;
        kinds += "iddidi";  // c, s, lo, lot, hi, hit
    }
    return cols;
}

Cell GetCell(const Stmt& s, const std::array<bool, kChannels>& channels) {
    Cell cell;
    cell.start = s.Integer(0);
    cell.rows = s.Integer(1);
    cell.first = s.Integer(2);
    cell.last = s.Integer(3);
    std::size_t at = 4;
    for (std::size_t i = 0; i < kChannels; ++i) {
        if (!channels[i]) continue;
        Aggregate& a = cell.ch[i];
        const std::size_t k = at;
        at += 6;
        a.count = s.Integer(k);
        a.sum = s.Real(k + 1).value_or(0);
        if (a.count == 0) continue;
        a.min = s.Real(k + 2).value_or(0);
        a.minT = s.Integer(k + 3);
        a.max = s.Real(k + 4).value_or(0);
        a.maxT = s.Integer(k + 5);
    }
    return cell;
}

void Report(const std::string& what, const std::string& why) {
    std::fprintf(stderr, "pomiarnik-recorder: %s: %s\n", what.c_str(), why.c_str());
}

}  // namespace

// The writer's prepared statements, made again on a new connection.
struct MariaStore::Cache {
    std::map<std::string, std::unique_ptr<Stmt>> inserts;    // by lower-case name
    std::map<std::size_t, std::unique_ptr<Stmt>> summaries;  // by cells a statement
    std::unique_ptr<Stmt> legends;
};

// What the pages know of the other recorders' writes.
struct MariaStore::Changes {
    std::mutex mutex;  // one page asks the database; the others go on with what is known
    std::chrono::steady_clock::time_point checked{};
    MYSQL* db = nullptr;  // its own connection: a page's question never waits for a reader
    std::atomic<std::uint64_t> seen{0};  // the counter as last read, or as this recorder left it
    ~Changes() {
        if (db) mysql_close(db);
    }
};

MYSQL* MariaStore::Connect(std::string* error) const {
    static std::once_flag init;
    std::call_once(init, [] { mysql_library_init(0, nullptr, nullptr); });
    MYSQL* db = mysql_init(nullptr);
    if (db == nullptr) {
        if (error) *error = "out of memory";
        return nullptr;
    }
    // Short waits: a post held while the server is away is a post the
    // uploader could be sending again elsewhere.
    const unsigned connectTimeout = 3, ioTimeout = 30;
    mysql_options(db, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_options(db, MYSQL_OPT_READ_TIMEOUT, &ioTimeout);
    mysql_options(db, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
    mysql_options(db, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // Strict: a value the column cannot hold is an error, never a changed value.
    mysql_options(db, MYSQL_INIT_COMMAND,
                  "SET SESSION sql_mode='STRICT_ALL_TABLES,NO_ENGINE_SUBSTITUTION',"
                  " innodb_lock_wait_timeout=10");
    const bool socket = !address_.socket.empty();
    if (!socket) {
        // "localhost" would otherwise mean the default socket, not the port.
        const unsigned tcp = MYSQL_PROTOCOL_TCP;
        mysql_options(db, MYSQL_OPT_PROTOCOL, &tcp);
    }
    if (mysql_real_connect(db, socket ? "localhost" : address_.host.c_str(),
                           address_.user.empty() ? nullptr : address_.user.c_str(),
                           address_.hasPassword ? address_.password.c_str() : nullptr,
                           address_.database.c_str(),
                           socket ? 0 : static_cast<unsigned>(address_.port),
                           socket ? address_.socket.c_str() : nullptr, 0) == nullptr) {
        if (error) *error = mysql_error(db);
        mysql_close(db);
        return nullptr;
    }
    return db;
}

MariaStore::MariaStore(DbAddress address)
    : address_(std::move(address)),
      cache_(std::make_unique<Cache>()),
      queue_(std::make_unique<WriteQueue>()),
      version_(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count())),
      changes_(std::make_unique<Changes>()) {
    std::string error;
    writer_ = Connect(&error);
    if (writer_ == nullptr) throw StoreError(Where() + ": cannot connect: " + error);
    const std::string legends =
        std::string("CREATE TABLE IF NOT EXISTS ") + kLegendsTable +
        " (tabela VARCHAR(64) CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci NOT NULL"
        " PRIMARY KEY, tekst TEXT CHARACTER SET utf8mb4 NOT NULL, zmieniono DATETIME NOT NULL)"
        " ENGINE=InnoDB";
    const std::string changes =
        std::string("CREATE TABLE IF NOT EXISTS ") + kChangesTable +
        " (id TINYINT UNSIGNED NOT NULL PRIMARY KEY, licznik BIGINT UNSIGNED NOT NULL)"
        " ENGINE=InnoDB";
    const std::string counter =
        std::string("INSERT IGNORE INTO ") + kChangesTable + " (id, licznik) VALUES (1, 0)";
    for (const std::string& sql : {legends, SummarySchema(), changes, counter}) {
        Stmt s(writer_, sql);
        if (!s.Run({})) {
            mysql_close(writer_);
            throw StoreError(Where() + ": " + s.Error());
        }
    }
    // Each post's rows and summary cells commit together, or not at all.
    mysql_autocommit(writer_, 0);
    SummariseAtStart();
    thread_ = std::thread([this] { WriterLoop(); });
}

MariaStore::~MariaStore() {
    queue_->Stop();
    thread_.join();
    cache_.reset();
    for (MYSQL* db : readers_) mysql_close(db);
    if (writer_) mysql_close(writer_);
    changes_.reset();
}

Outcome MariaStore::AddReading(const Reading& reading) {
    return queue_->AddReading(reading);
}

std::vector<Outcome> MariaStore::AddReadings(const std::vector<Reading>& readings) {
    return queue_->AddReadings(readings);
}

bool MariaStore::SetLegends(const Legends& legends) {
    return queue_->SetLegends(legends);
}

void MariaStore::WriterLoop() {
    std::vector<Job*> batch;
    // Posts already waiting are still written on the way out.
    while (queue_->Take(batch, kMaxBatch) == WriteQueue::Took::Batch) {
        why_.clear();
        counted_ = 0;
        RunBatch(batch);
        // The counter as this recorder left it: a page need not fetch again
        // for a change its own version tells already.
        if (counted_ != 0) changes_->seen = counted_;
        if (std::any_of(batch.begin(), batch.end(), [](const Job* j) {
                return j->outcome == Outcome::Stored || j->outcome == Outcome::CreatedTable;
            }))
            ++version_;
        const auto failed = std::count_if(
            batch.begin(), batch.end(), [](const Job* j) { return j->outcome == Outcome::Failed; });
        if (failed > 0)
            faults_.Failed(why_.empty() ? "a write failed" : why_, failed);
        else
            faults_.Succeeded();
        queue_->Finish(batch);
    }
}

void MariaStore::Fail(const std::string& what, const std::string& why) {
    if (why_.empty()) why_ = what + ": " + why;
}

void MariaStore::WriterLost(const std::string& why) {
    // Every post of an outage fails the same way, and the uploader sends
    // them again; the fault report tells it once a minute.
    why_ = Where() + ": database unreachable, posts refused until it is back: " + why;
    *cache_ = Cache{};
    stored_.clear();
    summarised_.clear();
    pending_.clear();
    if (writer_) mysql_close(writer_);
    writer_ = nullptr;
}

void MariaStore::RunBatch(std::vector<Job*>& batch) {
    for (int attempt = 0; attempt < kBatchTries; ++attempt) {
        for (Job* j : batch) j->outcome = Outcome::Failed;
        if (writer_ == nullptr) {
            std::string error;
            writer_ = Connect(&error);
            if (writer_ == nullptr) return WriterLost(error);
            mysql_autocommit(writer_, 0);
        }
        lastErrno_ = 0;
        createdNow_.clear();
        pending_.clear();
        if (!PrepareTables(batch)) {
            if (Lost(lastErrno_)) return WriterLost(mysql_error(writer_));
            // A table that cannot be made fails its posts in Apply.
        }
        bool again = false;
        for (Job* j : batch) {
            lastErrno_ = 0;
            // A post that fails leaves nothing behind and does not sink the
            // others. One statement is undone alone when it fails; a post
            // that may build a table's summary takes more, within a savepoint.
            const bool several = j->reading && !summarised_.count(Named(j->reading->table));
            if (several && !Control(writer_, "SAVEPOINT post")) {
                lastErrno_ = mysql_errno(writer_);
                break;
            }
            j->outcome = Apply(*j);
            if (j->outcome != Outcome::Failed) continue;
            if (Retry(lastErrno_)) {
                again = true;
                break;
            }
            if (Lost(lastErrno_) || (several && !Control(writer_, "ROLLBACK TO SAVEPOINT post")))
                break;
        }
        if (!again && !Lost(lastErrno_) && !(WriteCells() && CountChange(batch))) {
            // Without their cells the rows would be summed wrong: none stay.
            if (Retry(lastErrno_)) {
                again = true;
            } else if (!Lost(lastErrno_)) {
                Rollback();
                for (Job* j : batch) j->outcome = Outcome::Failed;
                return;
            }
        }
        if (Lost(lastErrno_) || Lost(mysql_errno(writer_))) {
            for (Job* j : batch) j->outcome = Outcome::Failed;
            return WriterLost(mysql_error(writer_));
        }
        if (again) {
            // A deadlock with another recorder writing the same tables: the
            // whole transaction is gone, so every post of it goes again.
            Rollback();
            *cache_ = Cache{};
            continue;
        }
        if (mysql_commit(writer_) != 0) {
            counted_ = 0;
            const unsigned e = mysql_errno(writer_);
            const std::string why = mysql_error(writer_);
            for (Job* j : batch) j->outcome = Outcome::Failed;
            if (Retry(e)) {
                Rollback();
                continue;
            }
            // Whether an interrupted COMMIT landed is unknown: the posts are
            // refused, and the ones that did land are "istnieje" next time.
            return WriterLost("COMMIT: " + why);
        }
        return;
    }
    Rollback();
    for (Job* j : batch) j->outcome = Outcome::Failed;
}

// The shared counter goes up in the transaction of every batch that stored
// something, last, so its row is locked only for the COMMIT (and a deadlock
// cannot start at it). What it became is what this recorder's own version
// change already covers.
bool MariaStore::CountChange(const std::vector<Job*>& batch) {
    counted_ = 0;
    const bool stored = std::any_of(batch.begin(), batch.end(), [](const Job* j) {
        return j->outcome == Outcome::Stored || j->outcome == Outcome::CreatedTable;
    });
    if (!stored) return true;
    const std::string sql = std::string("UPDATE ") + kChangesTable +
                            " SET licznik = LAST_INSERT_ID(licznik + 1) WHERE id = 1";
    if (!Control(writer_, sql.c_str())) {
        lastErrno_ = mysql_errno(writer_);
        if (Lost(lastErrno_) || Retry(lastErrno_)) return false;
        // A counter a tool dropped costs the other recorders' pages their
        // news, not the readings: the batch is committed without it, and
        // that is told once.
        if (!countFailedTold_) Report(kChangesTable, mysql_error(writer_));
        countFailedTold_ = true;
        lastErrno_ = 0;
        return true;
    }
    countFailedTold_ = false;
    counted_ = mysql_insert_id(writer_);
    return true;
}

std::uint64_t MariaStore::Version() const {
    Changes& c = *changes_;
    std::unique_lock lock(c.mutex, std::try_to_lock);
    const auto now = std::chrono::steady_clock::now();
    if (!lock.owns_lock() || now - c.checked < kOthersEvery) return version_.load();
    c.checked = now;
    if (c.db == nullptr) c.db = Connect(nullptr);
    if (c.db == nullptr) return version_.load();
    const std::string sql = std::string("SELECT licznik FROM ") + kChangesTable + " WHERE id = 1";
    MYSQL_RES* res = Control(c.db, sql.c_str()) ? mysql_store_result(c.db) : nullptr;
    if (res == nullptr) {
        // Made again at the next look, after a restart of the server too.
        mysql_close(c.db);
        c.db = nullptr;
        return version_.load();
    }
    const MYSQL_ROW row = mysql_fetch_row(res);
    const std::uint64_t counter = row && row[0] ? std::strtoull(row[0], nullptr, 10) : 0;
    mysql_free_result(res);
    // The counter's row is committed with the readings it counts, so the
    // version changes only once they can be read.
    if (c.seen.exchange(counter) != counter) ++version_;
    return version_.load();
}

// Summaries built in the transaction are gone with it: each table's cells are
// looked for again.
void MariaStore::Rollback() {
    mysql_rollback(writer_);
    counted_ = 0;
    summarised_.clear();
    pending_.clear();
}

// Tables are made before the transaction: CREATE TABLE would commit it.
bool MariaStore::PrepareTables(std::vector<Job*>& batch) {
    const bool unknown = std::any_of(batch.begin(), batch.end(), [&](const Job* j) {
        return j->reading && !stored_.count(Lower(j->reading->table));
    });
    if (!unknown) return true;
    // Another recorder making "Krakow" while this one makes "krakow" would
    // leave two tables where the SQLite file has one: the look-up and the
    // making are one step among all recorders of the database.
    Stmt lock(writer_, "SELECT GET_LOCK('pomiarnik:tabele', 10)", "i");
    if (!lock.Run({}) || !lock.Next() || lock.Integer(0) != 1) {
        lastErrno_ = lock.Errno();
        Fail("tables", "no lock for making tables: " + lock.Error());
        return false;
    }
    struct Unlock {
        MYSQL* db;
        ~Unlock() {
            Stmt s(db, "SELECT RELEASE_LOCK('pomiarnik:tabele')", "i");
            if (s.Run({})) s.Next();
        }
    } unlock{writer_};
    bool ok = true;
    for (Job* j : batch) {
        if (!j->reading) continue;
        const std::string& table = j->reading->table;
        const std::string key = Lower(table);
        if (stored_.count(key) || !IsTableName(table)) continue;
        Stmt find(writer_,
                  "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()"
                  " AND LOWER(TABLE_NAME) = ?",
                  "s");
        if (!find.Run({Txt(key)})) {
            lastErrno_ = find.Errno();
            Fail("table " + table, find.Error());
            ok = false;
            if (Lost(lastErrno_)) return false;
            continue;
        }
        if (find.Next()) {
            const std::string name = find.Text(0);
            // Used as it is, if "Data" alone is a unique key: without one a
            // record sent twice would be stored twice.
            Stmt keys(writer_,
                      "SELECT INDEX_NAME, MAX(NON_UNIQUE), COUNT(*), MAX(COLUMN_NAME = 'Data')"
                      " FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = DATABASE()"
                      " AND TABLE_NAME = ? GROUP BY INDEX_NAME",
                      "siii");
            bool unique = false;
            if (keys.Run({Txt(name)}))
                while (keys.Next())
                    unique = unique ||
                             (keys.Integer(1) == 0 && keys.Integer(2) == 1 && keys.Integer(3) == 1);
            if (!unique && !badShape_.count(key)) {
                Report("table " + name, "no unique key on Data alone; posts to it are refused");
                badShape_.insert(key);
            } else if (unique) {
                badShape_.erase(key);
            }
            stored_[key] = name;
            continue;
        }
        Stmt create(writer_, ReadingsSchema(table));
        if (!create.Run({})) {
            lastErrno_ = create.Errno();
            Fail("table " + table, create.Error());
            ok = false;
            if (Lost(lastErrno_)) return false;
            continue;
        }
        // A warning: another recorder made it a moment ago.
        if (mysql_warning_count(writer_) == 0) createdNow_.insert(key);
        stored_[key] = table;
    }
    return ok;
}

Outcome MariaStore::Apply(Job& job) {
    if (job.legends) {
        if (!cache_->legends)
            cache_->legends = std::make_unique<Stmt>(
                writer_, std::string("INSERT INTO ") + kLegendsTable +
                             " (tabela, tekst, zmieniono) VALUES (?, ?, NOW()) ON DUPLICATE KEY"
                             " UPDATE tekst = VALUES(tekst), zmieniono = VALUES(zmieniono)");
        Stmt& s = *cache_->legends;
        if (!s.Run({Txt(job.legends->table), Txt(job.legends->text)})) {
            lastErrno_ = s.Errno();
            Fail("legends", s.Error());
            cache_->legends.reset();
            return Outcome::Failed;
        }
        return Outcome::Stored;
    }
    const Reading& r = *job.reading;
    const std::string key = Lower(r.table);
    const auto named = stored_.find(key);
    if (named == stored_.end()) return Outcome::Failed;
    if (badShape_.count(key)) {
        Fail("table " + named->second, "no unique key on Data alone");
        return Outcome::Failed;
    }
    // A copy: a failed insert below forgets the table's entry.
    const std::string table = named->second;
    auto it = cache_->inserts.find(key);
    if (it == cache_->inserts.end()) {
        // A record already there is left as it is and reported as such; with
        // the unique key this holds when two recorders insert it at once (the
        // second waits for the first's COMMIT). Unlike INSERT IGNORE, this
        // keeps every other error an error.
        std::string sql =
            "INSERT INTO " + Quote(table) + " (Data" + ChannelColumns() + ") VALUES (?";
        for (int i = 0; i < kChannels; ++i) sql += ", ?";
        sql += ") ON DUPLICATE KEY UPDATE Data = Data";
        it = cache_->inserts.emplace(key, std::make_unique<Stmt>(writer_, sql)).first;
    }
    Stmt& ins = *it->second;
    std::vector<Param> params = {Txt(r.stamp)};
    for (const auto& v : r.values) params.push_back(Num(v));
    if (!ins.Run(std::move(params))) {
        lastErrno_ = ins.Errno();
        if (!Retry(lastErrno_)) Fail("table " + table, ins.Error());
        // A table changed or dropped behind our back is looked up afresh.
        cache_->inserts.erase(key);
        stored_.erase(key);
        summarised_.erase(table);
        return Outcome::Failed;
    }
    if (ins.Affected() == 0) return Outcome::Exists;
    if (const auto t = StampSeconds(r.stamp); t && !Summarise(table, *t, r.values)) {
        // A deadlock is tried again with the whole batch; no need to say so.
        if (!Retry(lastErrno_)) Fail("table " + table + ": summary", mysql_error(writer_));
        summarised_.erase(table);
        return Outcome::Failed;
    }
    if (createdNow_.erase(key) > 0) return Outcome::CreatedTable;
    return Outcome::Stored;
}

std::string MariaStore::Named(const std::string& table) const {
    const auto it = stored_.find(Lower(table));
    return it == stored_.end() ? std::string() : it->second;
}

// Adds the row just inserted to its cell at every level; a table without
// cells yet (new, or filled by something else) gets them built, row included.
bool MariaStore::Summarise(const std::string& table, std::int64_t t, const Values& values) {
    if (!summarised_.count(table)) {
        Stmt any(writer_,
                 std::string("SELECT 1 FROM ") + kSummaryTable + " WHERE tabela = ? LIMIT 1", "i");
        if (!any.Run({Txt(table)})) {
            lastErrno_ = any.Errno();
            return false;
        }
        if (!any.Next()) return BuildSummary(table);
        summarised_.insert(table);
    }
    for (std::int64_t level : kLevels) {
        const std::int64_t start = t - ((t % level) + level) % level;
        Cell& cell = pending_[{table, level, start}];
        cell.start = start;
        cell.Add(t, values);
    }
    return true;
}

// A batch of a station's minutes shares a few cells: one write per cell
// instead of five per row.
bool MariaStore::WriteCells() {
    std::vector<Param> params;
    std::size_t n = 0;
    auto it = pending_.begin();
    while (it != pending_.end()) {
        auto one = CellParams(std::get<0>(it->first), std::get<1>(it->first), it->second);
        std::move(one.begin(), one.end(), std::back_inserter(params));
        ++n;
        if (++it != pending_.end() && n < kCellsAtOnce) continue;
        auto& stmt = cache_->summaries[n];
        if (!stmt) {
            if (cache_->summaries.size() > 32) cache_->summaries.clear();
            stmt = std::make_unique<Stmt>(writer_, SummaryUpsert(n));
        }
        if (!stmt->Run(std::move(params))) {
            lastErrno_ = stmt->Errno();
            if (!Retry(lastErrno_)) Fail("summaries", stmt->Error());
            cache_->summaries.erase(n);
            return false;
        }
        params.clear();
        n = 0;
    }
    pending_.clear();
    return true;
}

// (Re)builds a table's cells from its rows, within the caller's transaction.
// The rows are read locked, so another recorder's insert waits until the
// cells are in and then adds its own.
bool MariaStore::BuildSummary(const std::string& table) {
    Stmt drop(writer_, std::string("DELETE FROM ") + kSummaryTable + " WHERE tabela = ?");
    if (!drop.Run({Txt(table)})) {
        lastErrno_ = drop.Errno();
        return false;
    }
    std::vector<std::pair<std::int64_t, Cell>> cells;
    {
        Stmt rows(writer_,
                  "SELECT Data" + ChannelColumns() + " FROM " + Quote(table) +
                      " ORDER BY Data LOCK IN SHARE MODE",
                  RowKinds());
        if (!rows.Run({}, false)) {
            lastErrno_ = rows.Errno();
            return false;
        }
        std::array<Cell, kLevels.size()> open{};
        bool any = false;
        while (rows.Next()) {
            const auto t = StampSeconds(rows.Text(0));
            if (!t) continue;
            const Values values = GetValues(rows, 1);
            for (std::size_t l = 0; l < kLevels.size(); ++l) {
                const std::int64_t start = *t - ((*t % kLevels[l]) + kLevels[l]) % kLevels[l];
                if (any && open[l].start != start) {
                    cells.emplace_back(kLevels[l], open[l]);
                    open[l] = Cell{};
                }
                open[l].start = start;
                open[l].Add(*t, values);
            }
            any = true;
        }
        if (rows.Failed()) {
            lastErrno_ = rows.Errno();
            return false;
        }
        if (any)
            for (std::size_t l = 0; l < kLevels.size(); ++l)
                cells.emplace_back(kLevels[l], open[l]);
    }
    // The table's cells are gone: plain inserts, many cells a statement
    // (a year of minutes makes some 90 000).
    std::unique_ptr<Stmt> many;
    for (std::size_t at = 0; at < cells.size(); at += kCellsAtOnce) {
        const std::size_t n = std::min(kCellsAtOnce, cells.size() - at);
        if (!many || n != kCellsAtOnce) many = std::make_unique<Stmt>(writer_, CellsInsert(n));
        std::vector<Param> params;
        for (std::size_t i = at; i < at + n; ++i) {
            auto one = CellParams(table, cells[i].first, cells[i].second);
            std::move(one.begin(), one.end(), std::back_inserter(params));
        }
        if (!many->Run(std::move(params))) {
            lastErrno_ = many->Errno();
            return false;
        }
    }
    summarised_.insert(table);
    // The rows read include the batch's earlier ones: their cells are in.
    for (auto it = pending_.begin(); it != pending_.end();)
        it = std::get<0>(it->first) == table ? pending_.erase(it) : std::next(it);
    return true;
}

// A table filled by another tool, or by a recorder before it kept cells,
// gets them (re)built: its cells at some level do not count its rows.
void MariaStore::SummariseAtStart() {
    std::vector<std::string> stale;
    for (const std::string& name : TableNames()) {
        Stmt count(writer_, "SELECT COUNT(*) FROM " + Quote(name), "i");
        Stmt sums(writer_,
                  std::string("SELECT `level`, CAST(SUM(n) AS SIGNED) FROM ") + kSummaryTable +
                      " WHERE tabela = ? GROUP BY `level`",
                  "ii");
        if (!count.Run({}) || !count.Next()) continue;
        const std::int64_t rows = count.Integer(0);
        std::map<std::int64_t, std::int64_t> summed;
        for (std::int64_t level : kLevels) summed[level] = 0;
        if (sums.Run({Txt(name)}))
            while (sums.Next()) summed[sums.Integer(0)] = sums.Integer(1);
        if (summed.size() != kLevels.size() ||
            std::any_of(summed.begin(), summed.end(),
                        [&](const auto& s) { return s.second != rows; }))
            stale.push_back(name);
    }
    mysql_commit(writer_);
    for (const std::string& name : stale) {
        if (BuildSummary(name) && mysql_commit(writer_) == 0) {
            Report("table " + name, "summaries built");
            continue;
        }
        Report("table " + name, std::string("summaries not built: ") + mysql_error(writer_));
        mysql_rollback(writer_);
        summarised_.erase(name);
    }
}

MYSQL* MariaStore::TakeReader() {
    for (;;) {
        MYSQL* db = nullptr;
        {
            std::lock_guard lock(readersMutex_);
            if (readers_.empty()) break;
            db = readers_.back();
            readers_.pop_back();
        }
        // An idle connection may have outlived a restart of the server.
        if (mysql_ping(db) == 0) return db;
        mysql_close(db);
    }
    return Connect(nullptr);
}

void MariaStore::GiveBack(MYSQL* db, bool healthy) {
    if (db == nullptr) return;
    std::lock_guard lock(readersMutex_);
    if (healthy && readers_.size() < kMaxIdleReaders)
        readers_.push_back(db);
    else
        mysql_close(db);
}

// One borrowed read connection for the life of a query; one that saw an
// error is closed rather than lent again.
class MariaStore::Reader {
public:
    explicit Reader(MariaStore& s) : s_(s), db_(s.TakeReader()) {}
    ~Reader() { s_.GiveBack(db_, healthy_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    MYSQL* db() const { return db_; }
    // Runs `s`; false (and the connection marked) on an error.
    bool Run(Stmt& s, std::vector<Param> params, bool buffered = true) {
        if (s.Run(std::move(params), buffered)) return true;
        healthy_ = false;
        return false;
    }
    void Broken() { healthy_ = false; }

private:
    MariaStore& s_;
    MYSQL* db_;
    bool healthy_ = true;
};

std::vector<std::string> MariaStore::TableNames() {
    std::vector<std::string> out;
    Reader r(*this);
    if (!r.db()) return out;
    Stmt names(r.db(),
               "SELECT TABLE_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE()"
               " AND COLUMN_NAME = 'Data'",
               "s");
    if (!r.Run(names, {})) return out;
    while (names.Next()) {
        std::string name = names.Text(0);
        if (IsTableName(name)) out.push_back(std::move(name));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<TableSummary> MariaStore::Tables() {
    std::vector<TableSummary> out;
    const auto names = TableNames();
    Reader r(*this);
    if (!r.db()) return out;
    for (const std::string& name : names) {
        Stmt q(r.db(), "SELECT COUNT(*), MAX(Data) FROM " + Quote(name), "is");
        if (!r.Run(q, {}) || !q.Next()) continue;
        out.push_back({name, q.Integer(0), q.Text(1)});
    }
    return out;
}

std::optional<std::string> MariaStore::FindTable(const std::string& name) {
    if (!IsTableName(name)) return std::nullopt;
    Reader r(*this);
    if (!r.db()) return std::nullopt;
    Stmt q(r.db(),
           "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()"
           " AND LOWER(TABLE_NAME) = ? ORDER BY TABLE_NAME LIMIT 1",
           "s");
    if (!r.Run(q, {Txt(Lower(name))}) || !q.Next()) return std::nullopt;
    return q.Text(0);
}

std::string MariaStore::LastStamp(const std::string& table) {
    if (!IsTableName(table)) return {};
    Reader r(*this);
    if (!r.db()) return {};
    Stmt q(r.db(), "SELECT MAX(Data) FROM " + Quote(table), "s");
    if (!r.Run(q, {}) || !q.Next()) return {};
    return q.Text(0);
}

void MariaStore::EachRow(const std::string& table, const std::string& from, const std::string& to,
                         const std::function<void(const Row&)>& visit) {
    if (!IsTableName(table)) return;
    Reader r(*this);
    if (!r.db()) return;
    Stmt q(r.db(),
           "SELECT Data" + ChannelColumns() + " FROM " + Quote(table) +
               " WHERE Data >= ? AND Data <= ? ORDER BY Data",
           RowKinds());
    // Row by row from the server: a year's export never sits here whole.
    if (!r.Run(q, {Txt(FromBound(from)), Txt(ToBound(to))}, false)) return;
    Row row;
    while (q.Next()) {
        row.stamp = q.Text(0);
        row.values = GetValues(q, 1);
        visit(row);
    }
    if (q.Failed()) r.Broken();
}

std::string MariaStore::LegendsText(const std::string& table) {
    Reader r(*this);
    if (!r.db()) return {};
    Stmt q(r.db(), std::string("SELECT tekst FROM ") + kLegendsTable + " WHERE tabela = ?", "s");
    if (!r.Run(q, {Txt(table)}) || !q.Next()) return {};
    return q.Text(0);
}

std::optional<TableFacts> MariaStore::Facts(const std::string& table) {
    if (!IsTableName(table)) return std::nullopt;
    Reader r(*this);
    if (!r.db()) return std::nullopt;
    // One snapshot for all the statements below.
    if (!Control(r.db(), "START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY")) {
        r.Broken();
        return std::nullopt;
    }
    struct End {
        MYSQL* db;
        ~End() { Control(db, "COMMIT"); }
    } end{r.db()};
    TableFacts f;
    f.name = table;
    {
        Stmt q(r.db(), "SELECT MIN(Data), MAX(Data) FROM " + Quote(table), "ss");
        if (!r.Run(q, {}) || !q.Next()) return std::nullopt;
        f.first = q.Text(0);
        f.last = q.Text(1);
    }
    Stmt newest(r.db(),
                "SELECT Data" + ChannelColumns() + " FROM " + Quote(table) +
                    " ORDER BY Data DESC LIMIT " + std::to_string(kNewestRows),
                RowKinds());
    if (!r.Run(newest, {})) return std::nullopt;
    while (newest.Next()) f.newest.push_back({newest.Text(0), GetValues(newest, 1)});

    // SUM gives DECIMAL, which the client does not turn into an integer.
    std::string sums = "SELECT COUNT(*), CAST(COALESCE(SUM(n), 0) AS SIGNED)";
    for (int i = 0; i < kChannels; ++i)
        sums += ", CAST(COALESCE(SUM(c" + std::to_string(i) + "), 0) AS SIGNED)";
    Stmt q(r.db(),
           sums + " FROM " + kSummaryTable +
               " WHERE tabela = ? AND `level` = " + std::to_string(kLevels.back()),
           std::string(2 + kChannels, 'i'));
    if (r.Run(q, {Txt(table)}) && q.Next() && q.Integer(0) > 0) {
        f.summarised = true;
        f.rows = q.Integer(1);
        for (std::size_t i = 0; i < kChannels; ++i) f.hasData[i] = q.Integer(i + 2) > 0;
    } else {
        Stmt count(r.db(), "SELECT COUNT(*) FROM " + Quote(table), "i");
        if (r.Run(count, {}) && count.Next()) f.rows = count.Integer(0);
        for (const Row& row : f.newest)
            for (std::size_t c = 0; c < kChannels; ++c)
                f.hasData[c] = f.hasData[c] || (row.values[c] && IsReading(*row.values[c]));
    }
    Stmt legends(r.db(), std::string("SELECT tekst FROM ") + kLegendsTable + " WHERE tabela = ?",
                 "s");
    if (r.Run(legends, {Txt(table)}) && legends.Next()) f.legendsText = legends.Text(0);
    return f;
}

std::optional<std::vector<Cell>> MariaStore::Cells(const std::string& table, std::int64_t level,
                                                   std::int64_t from, std::int64_t to,
                                                   const std::array<bool, kChannels>& channels) {
    if (!IsTableName(table)) return std::nullopt;
    Reader r(*this);
    if (!r.db()) return std::nullopt;
    std::string kinds;
    const std::string cols = CellColumns(channels, kinds);
    {
        Stmt any(r.db(),
                 std::string("SELECT 1 FROM ") + kSummaryTable + " WHERE tabela = ? LIMIT 1", "i");
        if (!r.Run(any, {Txt(table)}) || !any.Next()) return std::nullopt;
    }
    Stmt q(
        r.db(),
        "SELECT " + cols + " FROM " + kSummaryTable +
            " WHERE tabela = ? AND `level` = ? AND `start` >= ? AND `start` < ? ORDER BY `start`",
        kinds);
    if (!r.Run(q, {Txt(table), Int(level), Int(from), Int(to)}, false)) return std::nullopt;
    std::vector<Cell> out;
    if (to > from) out.reserve(static_cast<std::size_t>((to - from) / level + 1));
    while (q.Next()) out.push_back(GetCell(q, channels));
    if (q.Failed()) {
        r.Broken();
        return std::nullopt;
    }
    return out;
}

std::pair<std::string, std::string> MariaStore::Around(const std::string& table,
                                                       const std::string& from,
                                                       const std::string& to) {
    std::pair<std::string, std::string> out;
    if (!IsTableName(table)) return out;
    Reader r(*this);
    if (!r.db()) return out;
    Stmt before(r.db(), "SELECT MAX(Data) FROM " + Quote(table) + " WHERE Data < ?", "s");
    if (r.Run(before, {Txt(from)}) && before.Next()) out.first = before.Text(0);
    Stmt after(r.db(), "SELECT MIN(Data) FROM " + Quote(table) + " WHERE Data > ?", "s");
    if (r.Run(after, {Txt(to)}) && after.Next()) out.second = after.Text(0);
    return out;
}

}  // namespace pom::recorder
