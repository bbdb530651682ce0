// Fills a recorder database for the browser tests and the page benchmark:
// one-minute readings over N days up to --end, with the gaps asked for, in one
// transaction (a year takes about a second). The tables are made as the
// recorder makes them; the recorder then finds them as it would any old file.
//
//   recorder_seed --db FILE --end "YYYY-MM-DD HH:MM:SS" --days N [--channels C]
//                 --table NAME [--table NAME...] [--gap "FROM,TO"...]
//
// A gap drops the readings strictly between FROM and TO. Values of the reading
// at t (its time as seconds since 1970 counted as UTC), n = t / 60, m = its
// minute of the day, d = its day number:
//   sonda0 (°C)  = m < 720 ? 2 + m / 60 : 2 + (1440 - m) / 60, to 2 decimals
//   sonda1 (V)   = 3 + (d % 7) / 10 + (m % 60) / 1000
//   sonda2 (hPa) = 990 + d % 30 + m / 1440, to 1 decimal
//   sonda3...    = the channel's number + n % 11
// (tests/browser/harness.mjs computes the same.)
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace {

bool ParseStamp(const std::string& s, long long& t) {
    std::tm tm{};
    if (std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    t = static_cast<long long>(timegm(&tm));
    return true;
}

std::string Stamp(long long t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

double Round(double v, double scale) {
    return std::round(v * scale) / scale;
}

double Value(int channel, long long t) {
    const long long n = t / 60;
    const long long m = n % 1440;
    const long long d = t / 86400;
    switch (channel) {
        case 0:
            return Round(m < 720 ? 2 + m / 60.0 : 2 + (1440 - m) / 60.0, 100);
        case 1:
            return Round(3 + static_cast<double>(d % 7) / 10 + static_cast<double>(m % 60) / 1000,
                         1000);
        case 2:
            return Round(990 + static_cast<double>(d % 30) + m / 1440.0, 10);
        default:
            return channel + static_cast<double>(n % 11);
    }
}

bool Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK) return true;
    std::fprintf(stderr, "recorder_seed: %s: %s\n", sql.substr(0, 80).c_str(), error);
    sqlite3_free(error);
    return false;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: recorder_seed --db FILE --end \"YYYY-MM-DD HH:MM:SS\" --days N "
                 "[--channels C] --table NAME... [--gap \"FROM,TO\"...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path;
    long long end = 0;
    long long days = 0;
    int channels = 3;
    std::vector<std::string> tables;
    std::vector<std::pair<long long, long long>> gaps;
    for (int k = 1; k + 1 < argc; k += 2) {
        const std::string opt = argv[k], val = argv[k + 1];
        if (opt == "--db") {
            path = val;
        } else if (opt == "--end") {
            if (!ParseStamp(val, end)) return Usage();
        } else if (opt == "--days") {
            days = std::atoll(val.c_str());
        } else if (opt == "--channels") {
            channels = std::atoi(val.c_str());
        } else if (opt == "--table") {
            tables.push_back(val);
        } else if (opt == "--gap") {
            const auto comma = val.find(',');
            long long a = 0, b = 0;
            if (comma == std::string::npos || !ParseStamp(val.substr(0, comma), a) ||
                !ParseStamp(val.substr(comma + 1), b))
                return Usage();
            gaps.emplace_back(a, b);
        } else {
            return Usage();
        }
    }
    if (path.empty() || end == 0 || days <= 0 || tables.empty() || channels < 1 || channels > 11 ||
        argc % 2 == 0)
        return Usage();

    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "recorder_seed: %s: %s\n", path.c_str(), sqlite3_errmsg(db));
        return 1;
    }
    bool ok = Exec(db, "PRAGMA journal_mode=WAL") && Exec(db, "BEGIN");
    // As the recorder keeps them: the legends table and its text per table.
    ok = ok && Exec(db,
                    "CREATE TABLE IF NOT EXISTS \"pomiarnik:opisy\" (tabela TEXT PRIMARY KEY "
                    "COLLATE NOCASE, tekst TEXT NOT NULL, zmieniono TEXT NOT NULL)");
    const long long count = days * 1440;
    const long long first = end - (count - 1) * 60;
    for (const auto& table : tables) {
        std::string create = "CREATE TABLE \"" + table + "\" (Data TEXT PRIMARY KEY NOT NULL";
        for (int c = 0; c <= 10; ++c) create += ", Sonda" + std::to_string(c) + " REAL";
        create += ", Odebrano TEXT NOT NULL DEFAULT (datetime('now','localtime')))";
        ok = ok && Exec(db, create) &&
             Exec(db, "INSERT INTO \"pomiarnik:opisy\" VALUES ('" + table +
                          "', 'pomT0;\xC2\xB0"
                          "C;Tz;Tz)(pomT1;V;U1;U1)(pomT2;hPa;P;P', "
                          "datetime('now','localtime'))");
        std::string insert = "INSERT INTO \"" + table + "\" (Data";
        for (int c = 0; c < channels; ++c) insert += ", Sonda" + std::to_string(c);
        insert += ") VALUES (?1";
        for (int c = 0; c < channels; ++c) insert += ", ?" + std::to_string(c + 2);
        insert += ")";
        sqlite3_stmt* st = nullptr;
        ok = ok && sqlite3_prepare_v2(db, insert.c_str(), -1, &st, nullptr) == SQLITE_OK;
        for (long long i = 0; ok && i < count; ++i) {
            const long long t = first + i * 60;
            bool inGap = false;
            for (const auto& [a, b] : gaps) inGap = inGap || (t > a && t < b);
            if (inGap) continue;
            const std::string stamp = Stamp(t);
            sqlite3_bind_text(st, 1, stamp.c_str(), -1, SQLITE_TRANSIENT);
            for (int c = 0; c < channels; ++c) sqlite3_bind_double(st, c + 2, Value(c, t));
            ok = sqlite3_step(st) == SQLITE_DONE;
            sqlite3_reset(st);
        }
        if (!ok) std::fprintf(stderr, "recorder_seed: %s: %s\n", table.c_str(), sqlite3_errmsg(db));
        sqlite3_finalize(st);
    }
    ok = ok && Exec(db, "COMMIT");
    sqlite3_close(db);
    return ok ? 0 : 1;
}
