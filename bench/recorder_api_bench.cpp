// The dashboard's JSON answers on a year of one-minute readings of 6 channels
// for 3 stations: server time (median of 20) of /api/table for 24 h, 30 d and
// 1 year at 1600 points and of /api/stations, the same once more through HTTP
// against a recorder on 127.0.0.1, and the bytes of each answer; on the SQLite
// file, then on a private mariadbd holding the same rows.
//
// The database is made once and kept in <build>/temp/ (rows written straight
// into the readings tables, then the recorder's own start-up builds the
// summaries, timed). recorder_api_bench [--rows N] [--rebuild]; N per table,
// 525600 by default, small for a quick look.
#include <httplib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/MariaDbServer.h"
#include "tools/recorder/RecorderApi.h"
#include "tools/recorder/RecorderServer.h"
#include "tools/recorder/RecorderStore.h"

namespace {

using namespace pom::recorder;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 20;
constexpr int kStations = 3;
constexpr int kChannelsUsed = 6;
const std::int64_t kLast = *StampSeconds("2026-12-08 18:00:00");

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The machine may be shared: the thread's own CPU time shows the cost
// apart from waiting for a core.
double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::filesystem::path TempFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    // The programs live in <build>/bin.
    const auto dir =
        ec ? std::filesystem::temp_directory_path() : exe.parent_path().parent_path() / "temp";
    std::filesystem::create_directories(dir, ec);
    return dir;
}

bool Exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    std::fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db));
    return false;
}

// One-minute readings up to kLast, with a 30-minute hole every ten days;
// stations send two decimals.
void EachRow(
    long rows,
    const std::function<bool(int station, std::int64_t t, const double (&v)[kChannelsUsed])>& put) {
    unsigned x = 1;
    for (int s = 1; s <= kStations; ++s) {
        for (long i = rows - 1; i >= 0; --i) {
            const std::int64_t t = kLast - 60 * i;
            if ((t / 60) % 14400 < 30) continue;
            x = x * 1103515245 + 12345;
            const double noise = static_cast<double>(x >> 16 & 0xff) / 255.0 - 0.5;
            const double day = static_cast<double>(t % 86400) / 86400.0 * 2 * M_PI;
            const double year = static_cast<double>(t % 31557600) / 31557600.0 * 2 * M_PI;
            double v[kChannelsUsed] = {8 - 10 * std::cos(year) - 4 * std::cos(day) + noise,
                                       1013 + 12 * std::sin(year * 9) + noise,
                                       3.3 + noise / 50,
                                       60 + 25 * std::cos(day) + noise * 4,
                                       21 + noise,
                                       s == 1 && i % 1000 == 0 ? -888 : 5 + noise};
            for (double& d : v) d = std::round(d * 100) / 100;
            if (!put(s, t, v)) return;
        }
    }
}

bool WriteRows(const std::string& path, long rows) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
    bool ok = Exec(db, "PRAGMA journal_mode=WAL") && Exec(db, "BEGIN");
    std::string cols;
    for (int i = 0; i < kChannels; ++i) cols += ", Sonda" + std::to_string(i) + " REAL";
    std::vector<sqlite3_stmt*> ins(kStations + 1, nullptr);
    for (int s = 1; ok && s <= kStations; ++s) {
        const std::string table = "Stacja" + std::to_string(s);
        ok = Exec(db, ("CREATE TABLE " + table + " (Data TEXT PRIMARY KEY NOT NULL" + cols +
                       ", Odebrano TEXT NOT NULL DEFAULT (datetime('now','localtime')))")
                          .c_str());
        const std::string sql = "INSERT INTO " + table +
                                " (Data, Sonda0, Sonda1, Sonda2, Sonda3, Sonda4, Sonda5) VALUES "
                                "(?1, ?2, ?3, ?4, ?5, ?6, ?7)";
        ok = ok && sqlite3_prepare_v2(db, sql.c_str(), -1, &ins[static_cast<std::size_t>(s)],
                                      nullptr) == SQLITE_OK;
    }
    if (ok)
        EachRow(rows, [&](int s, std::int64_t t, const double(&v)[kChannelsUsed]) {
            sqlite3_stmt* st = ins[static_cast<std::size_t>(s)];
            const std::string stamp = StampText(t);
            sqlite3_reset(st);
            sqlite3_bind_text(st, 1, stamp.c_str(), -1, SQLITE_TRANSIENT);
            for (int c = 0; c < kChannelsUsed; ++c) sqlite3_bind_double(st, c + 2, v[c]);
            ok = sqlite3_step(st) == SQLITE_DONE;
            return ok;
        });
    for (sqlite3_stmt* st : ins) sqlite3_finalize(st);
    ok = ok && Exec(db, "COMMIT");
    sqlite3_close(db);
    return ok;
}

// The same rows into a MariaDB database, in the recorder's table shape, many
// rows a statement (our own numbers, so plain SQL text is safe here).
bool WriteRowsMaria(pom::test::MariaDbServer& server, const std::string& database, long rows) {
    for (int s = 1; s <= kStations; ++s) {
        std::string sql = "CREATE TABLE Stacja" + std::to_string(s) + " (Data DATETIME NOT NULL";
        for (int i = 0; i < kChannels; ++i) sql += ", Sonda" + std::to_string(i) + " DOUBLE NULL";
        sql += ", Odebrano DATETIME NOT NULL DEFAULT CURRENT_TIMESTAMP, PRIMARY KEY (Data))";
        std::string error;
        if (!server.Exec(database, sql, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
    }
    bool ok = true;
    std::string values;
    int pending = 0, table = 0;
    const auto flush = [&] {
        if (pending == 0) return true;
        std::string error;
        ok = server.Exec(database,
                         "INSERT INTO Stacja" + std::to_string(table) +
                             " (Data, Sonda0, Sonda1, Sonda2, Sonda3, Sonda4, Sonda5) VALUES " +
                             values,
                         &error);
        if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
        values.clear();
        pending = 0;
        return ok;
    };
    EachRow(rows, [&](int s, std::int64_t t, const double(&v)[kChannelsUsed]) {
        if ((s != table && !flush()) || (pending >= 5000 && !flush())) return false;
        table = s;
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s('%s',%.2f,%.2f,%.2f,%.2f,%.2f,%.2f)", pending ? "," : "",
                      StampText(t).c_str(), v[0], v[1], v[2], v[3], v[4], v[5]);
        values += buf;
        ++pending;
        return true;
    });
    return ok && flush();
}

std::string Path(const std::string& table, std::int64_t span) {
    return "/api/table/" + table + "?from=" + IsoText(kLast - span + 1) + "&to=" + IsoText(kLast) +
           "&points=1600";
}

bool Answers(Store& store, const char* label) {
    Server server(store, {"127.0.0.1", 0, "", 4});
    std::string error;
    const int port = server.Start(&error);
    if (port < 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    const std::int64_t now = kLast + 60;
    struct Case {
        const char* name;
        std::string path;
        std::function<ApiReply()> answer;
    };
    std::vector<Case> cases;
    for (const auto& [name, span] :
         {std::pair{"24 h", 86400L}, std::pair{"7 d", 7 * 86400L}, std::pair{"30 d", 30 * 86400L},
          std::pair{"1 year", 365 * 86400L}}) {
        const std::string path = Path("Stacja1", span);
        const Params params = {
            {"from", IsoText(kLast - span + 1)}, {"to", IsoText(kLast)}, {"points", "1600"}};
        cases.push_back(
            {name, path, [&store, params] { return TableReply(store, "Stacja1", params, ""); }});
    }
    cases.push_back(
        {"stations", "/api/stations", [&store, now] { return StationsReply(store, "", now); }});

    std::printf("\n%s\n%-9s %10s %8s %9s %9s %7s %6s %7s\n", label, "answer", "server ms", "cpu ms",
                "http ms", "bytes", "t", "level", "status");
    httplib::Client client("127.0.0.1", port);
    for (const Case& c : cases) {
        std::vector<double> server_ms, cpu_ms, http_ms;
        ApiReply reply;
        for (int i = 0; i < kRuns; ++i) {
            const auto t0 = Clock::now();
            const double c0 = CpuMs();
            reply = c.answer();
            cpu_ms.push_back(CpuMs() - c0);
            server_ms.push_back(Ms(Clock::now() - t0));
        }
        for (int i = 0; i < kRuns; ++i) {
            const auto t0 = Clock::now();
            const auto r = client.Get(c.path);
            http_ms.push_back(Ms(Clock::now() - t0));
            if (!r || r->status != 200) {
                std::fprintf(stderr, "%s: no answer\n", c.path.c_str());
                return false;
            }
        }
        // The count of times sent and the level read, from the answer itself.
        const auto count = [&](const char* key) -> std::string {
            const auto at = reply.body.find(key);
            if (at == std::string::npos) return "-";
            if (std::string(key) == "\"t\":[") {
                const auto end = reply.body.find(']', at);
                return std::to_string(std::count(reply.body.begin() + static_cast<long>(at),
                                                 reply.body.begin() + static_cast<long>(end), ',') +
                                      1);
            }
            const auto begin = at + std::strlen(key);
            return reply.body.substr(begin, reply.body.find(',', begin) - begin);
        };
        std::printf("%-9s %10.2f %8.2f %9.2f %9zu %7s %6s %7d\n", c.name, Median(server_ms),
                    Median(cpu_ms), Median(http_ms), reply.body.size(), count("\"t\":[").c_str(),
                    count("\"level\":").c_str(), reply.status);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long rows = 525600;
    bool rebuild = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rows") == 0 && i + 1 < argc)
            rows = std::max(2L, std::atol(argv[++i]));
        else if (std::strcmp(argv[i], "--rebuild") == 0)
            rebuild = true;
        else if (std::strncmp(argv[i], "--benchmark", 11) != 0) {
            std::fprintf(stderr, "usage: recorder_api_bench [--rows N] [--rebuild]\n");
            return 2;
        }
    }
    const auto dir = TempFolder();
    const std::string db =
        (dir / ("recorder_api_bench-" + std::to_string(rows) + ".sqlite")).string();
    if (rebuild || !std::filesystem::exists(db)) {
        const std::string part = db + ".part";
        for (const char* tail : {"", "-wal", "-shm"}) std::filesystem::remove(part + tail);
        std::printf("making %s: %d tables x %ld one-minute rows\n", db.c_str(), kStations, rows);
        auto t0 = Clock::now();
        if (!WriteRows(part, rows)) return 1;
        std::printf("  rows written            %8.0f ms\n", Ms(Clock::now() - t0));
        t0 = Clock::now();
        { SqliteStore summarise(part); }
        std::printf("  summaries built at start %7.0f ms (all tables)\n", Ms(Clock::now() - t0));
        // An earlier file's log beside the new file would be read into it.
        for (const char* tail : {"", "-wal", "-shm"}) std::filesystem::remove(db + tail);
        std::filesystem::rename(part, db);
    }

    {
        SqliteStore store(db);
        if (!Answers(store, "SQLite")) return 1;
    }
    // The same rows in a private mariadbd (from the tests' support).
    std::string why;
    auto* maria = pom::test::MariaDbServer::Shared(&why);
    if (!maria) {
        std::printf("\nMariaDB skipped: %s\n", why.c_str());
    } else {
        const std::string address = maria->NewDatabase();
        auto t0 = Clock::now();
        if (!WriteRowsMaria(*maria, address.substr(address.rfind('/') + 1), rows)) return 1;
        std::printf("\nMariaDB: rows written %8.0f ms\n", Ms(Clock::now() - t0));
        t0 = Clock::now();
        const auto store = OpenStore(address);
        std::printf("MariaDB: summaries built at start %7.0f ms (all tables)\n",
                    Ms(Clock::now() - t0));
        if (!Answers(*store, "MariaDB")) return 1;
    }
    std::printf("\n(median of %d; http: a fresh connection per request, loopback)\n", kRuns);
    return 0;
}
