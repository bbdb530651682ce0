#pragma once

// The stores the same recorder cases run against: the SQLite file and a
// database in the program's own mariadbd.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/MariaDbServer.h"
#include "tests/support/TestSupport.h"
#include "tools/recorder/RecorderStore.h"

namespace pom::test {

enum class Kind { Sqlite, Maria };

inline void PrintTo(Kind k, std::ostream* os) {
    *os << (k == Kind::Sqlite ? "SQLite" : "MariaDB");
}

inline std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
    return info.param == Kind::Sqlite ? "Sqlite" : "MariaDb";
}

// One empty database of a kind, opened as often as a case wants.
class StoreMaker {
public:
    explicit StoreMaker(Kind kind) : kind_(kind) {}

    // False and the reason when the kind cannot run here (the case skips).
    bool Ready(std::string* why) {
        if (kind_ == Kind::Sqlite) {
            db_ = dir_.file("pomiary.sqlite");
            return true;
        }
        server_ = MariaDbServer::Shared(why);
        if (!server_) return false;
        db_ = server_->NewDatabase();
        database_ = db_.substr(db_.rfind('/') + 1);
        return true;
    }

    Kind kind() const { return kind_; }
    // The --db value.
    const std::string& db() const { return db_; }
    std::unique_ptr<recorder::Store> Open() const { return recorder::OpenStore(db_); }
    MariaDbServer* server() const { return server_; }
    const std::string& database() const { return database_; }

    // SQL behind the recorder's back.
    bool Exec(const std::string& sql) const {
        if (kind_ == Kind::Maria) return server_->Exec(database_, sql);
        sqlite3* db = nullptr;
        const bool ok = sqlite3_open(db_.c_str(), &db) == SQLITE_OK &&
                        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return ok;
    }

    // Every table, read behind the recorder's back; with its row count
    // when `rows`.
    std::vector<std::string> Schema(bool rows = false) const {
        std::vector<std::string> out;
        if (kind_ == Kind::Maria) {
            for (const auto& t :
                 server_->Query(database_,
                                "SELECT TABLE_NAME FROM information_schema.TABLES WHERE"
                                " TABLE_SCHEMA = DATABASE() ORDER BY TABLE_NAME"))
                for (const auto& n :
                     server_->Query(database_, "SELECT COUNT(*) FROM `" + t[0] + "`"))
                    out.push_back(rows ? t[0] + " " + n[0] : t[0]);
            return out;
        }
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(db_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            std::vector<std::string> names;
            sqlite3_exec(
                db, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name",
                [](void* o, int, char** v, char**) {
                    static_cast<std::vector<std::string>*>(o)->push_back(v[0]);
                    return 0;
                },
                &names, nullptr);
            for (const std::string& n : names) {
                sqlite3_stmt* s = nullptr;
                const std::string sql = "SELECT COUNT(*) FROM \"" + n + "\"";
                if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
                    sqlite3_step(s) == SQLITE_ROW)
                    out.push_back(rows ? n + " " + std::to_string(sqlite3_column_int64(s, 0)) : n);
                sqlite3_finalize(s);
            }
        }
        sqlite3_close(db);
        return out;
    }

private:
    Kind kind_;
    TempDir dir_;
    std::string db_;
    std::string database_;
    MariaDbServer* server_ = nullptr;
};

}  // namespace pom::test
