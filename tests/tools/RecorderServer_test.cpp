// The recorder in this process on a free port, talked to over HTTP.
#include "tools/recorder/RecorderServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tests/tools/RecorderClient.h"
#include "tests/tools/RecorderStores.h"
#include "tools/recorder/RecorderAssets.h"
#include "tools/recorder/RecorderStore.h"

namespace pom::recorder {
namespace {

using test::Fields;
using test::HasSuccessWord;
using test::Reply;

// The cases below run against both stores, through the server alone.
class RecorderServerBase : public ::testing::Test {
protected:
    virtual test::Kind kind() const = 0;

    void SetUp() override {
        maker = std::make_unique<test::StoreMaker>(kind());
        std::string why;
        if (!maker->Ready(&why)) GTEST_SKIP() << why;
        Start("");
    }

    void Start(const std::string& key) {
        server.reset();
        store.reset();
        store = maker->Open();
        server = std::make_unique<Server>(*store, ServerConfig{"127.0.0.1", 0, key, 8});
        std::string error;
        port = server->Start(&error);
        ASSERT_GT(port, 0) << error;
    }

    Reply Post(const Fields& fields, const std::string& path = "/Zapisz2Pomiary.php") {
        return test::PostMultipart(port, path, fields);
    }
    Reply Reading(const std::string& table, const std::string& stamp, const std::string& v0 = "1") {
        return Post({{"Miasto", table}, {"Data", stamp}, {"Sonda0", v0}});
    }

    // Every table and its rows, read behind the recorder's back.
    std::vector<std::string> Schema() { return maker->Schema(); }

    std::unique_ptr<test::StoreMaker> maker;
    std::unique_ptr<Store> store;
    std::unique_ptr<Server> server;
    int port = -1;
};

// The cases both stores must pass.
class RecorderServerStores : public RecorderServerBase,
                             public ::testing::WithParamInterface<test::Kind> {
protected:
    test::Kind kind() const override { return GetParam(); }
};

// Cases about the SQLite file alone.
class RecorderServerTest : public RecorderServerBase {
protected:
    test::Kind kind() const override { return test::Kind::Sqlite; }
};

INSTANTIATE_TEST_SUITE_P(Stores, RecorderServerStores,
                         ::testing::Values(test::Kind::Sqlite, test::Kind::Maria), test::KindName);

TEST_P(RecorderServerStores, EachReplyWordForWhatHappened) {
    struct Step {
        Fields fields;
        std::string path;
        std::string reply;
    };
    const std::vector<Step> steps = {
        {{{"Miasto", "test"},
          {"Data", "2023-01-05 07:04:09"},
          {"Sonda0", "21.5"},
          {"Sonda1", "-888"}},
         "/Zapisz2Pomiary.php",
         "UtworzonoBrakujacaTabele ok\nResult=Ok\n"},
        {{{"Miasto", "test"}, {"Data", "2023-01-05 07:09:09"}, {"Sonda0", "22"}},
         "/cgi/Zapisz2Pomiary.php",
         "Result=Ok\n"},
        // The same reading again, as after a reply lost on the way: stored once.
        {{{"Miasto", "test"}, {"Data", "2023-01-05 07:04:09"}, {"Sonda0", "99"}},
         "/Zapisz2Pomiary.php",
         "istnieje=Ok\n"},
        // SQLite names ignore case: the same table.
        {{{"Miasto", "TEST"}, {"Data", "2023-01-05 07:14:09"}},
         "/Zapisz2Pomiary.php",
         "Result=Ok\n"},
        {{{"Miasto", "testopisy"},
          {"Data",
           "pomT0;\xC2\xB0"
           "C;Tz;Tz"}},
         "/Zapisz2Pomiaryopisy.php",
         "Result=Ok\n"},
    };
    for (const auto& s : steps) {
        const Reply r = Post(s.fields, s.path);
        EXPECT_EQ(r.status, 200) << s.reply;
        EXPECT_EQ(r.body, s.reply);
        // The uploader decodes UTF-8 only for this exact spelling.
        EXPECT_NE(r.contentType.find("charset=utf-8"), std::string::npos) << r.contentType;
    }
    const auto rows = store->Rows("test", "", "9999");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].stamp, "2023-01-05 07:04:09");
    EXPECT_EQ(rows[0].values[0], 21.5);  // the first one stays
    EXPECT_EQ(rows[0].values[1], -888.0);
    EXPECT_FALSE(rows[0].values[2].has_value());
    EXPECT_FALSE(rows[2].values[0].has_value());
    EXPECT_EQ(store->LegendsText("test"),
              "pomT0;\xC2\xB0"
              "C;Tz;Tz");
}

TEST_P(RecorderServerStores, UrlEncodedPostsAreTakenToo) {
    httplib::Client c("127.0.0.1", port);
    const auto r =
        c.Post("/Zapisz2Pomiary.php", "Miasto=test&Data=2023-01-05+07%3A04%3A09&Sonda3=1.25",
               "application/x-www-form-urlencoded");
    ASSERT_TRUE(r);
    EXPECT_NE(r->body.find("Result=Ok"), std::string::npos);
    EXPECT_EQ(store->Rows("test", "", "9999").at(0).values[3], 1.25);
    const auto plain = c.Post("/Zapisz2Pomiary.php", "Miasto=test", "text/plain");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->status, 415);
    EXPECT_FALSE(HasSuccessWord(plain->body));
}

TEST_P(RecorderServerStores, LegendsRefusedWithTheWordsTheUploaderKnows) {
    const Reply r =
        Post({{"Miasto", "a'b opisy"}, {"Data", "pomT0;V;x;x"}}, "/Zapisz2Pomiaryopisy.php");
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.body.rfind("Problem ze wstawieniem opisów", 0), 0u) << r.body;
    EXPECT_FALSE(HasSuccessWord(r.body));
}

TEST_P(RecorderServerStores, ALegendsTextReplacesThePreviousOne) {
    const std::string path = "/Zapisz2Pomiaryopisy.php";
    EXPECT_EQ(Post({{"Miasto", "testopisy"}, {"Data", "pomT0;V;A;A"}}, path).body, "Result=Ok\n");
    EXPECT_EQ(Post({{"Miasto", "testopisy"}, {"Data", "pomT0;V;B;B"}}, path).body, "Result=Ok\n");
    EXPECT_EQ(store->LegendsText("test"), "pomT0;V;B;B");
}

// Hostile table names: refused before SQL, nothing in the file changes.
struct HostileName {
    const char* label;
    std::string name;
};

void PrintTo(const HostileName& h, std::ostream* os) {
    *os << h.label;
}

class RecorderInjection
    : public RecorderServerBase,
      public ::testing::WithParamInterface<std::tuple<test::Kind, HostileName>> {
protected:
    test::Kind kind() const override { return std::get<0>(GetParam()); }
    const HostileName& hostile() const { return std::get<1>(GetParam()); }
};

TEST_P(RecorderInjection, RefusedAndNothingChanges) {
    ASSERT_NE(Reading("test", "2023-01-05 07:04:09").body.find("Result=Ok"), std::string::npos);
    const auto before = Schema();
    for (const char* path : {"/Zapisz2Pomiary.php", "/Zapisz2Pomiaryopisy.php"}) {
        const Reply r = Post({{"Miasto", hostile().name}, {"Data", "2023-01-05 08:00:00"}}, path);
        EXPECT_EQ(r.status, 400) << path;
        EXPECT_FALSE(HasSuccessWord(r.body)) << r.body;
        EXPECT_NE(r.body.find("nazwa tabeli"), std::string::npos) << r.body;
    }
    EXPECT_EQ(Schema(), before);
    EXPECT_EQ(store->Rows("test", "", "9999").size(), 1u);
    EXPECT_TRUE(store->LegendsText("test").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Names, RecorderInjection,
    ::testing::Combine(
        ::testing::Values(test::Kind::Sqlite, test::Kind::Maria),
        ::testing::Values(HostileName{"statement", "x; DROP TABLE test"},
                          HostileName{"double_quote", "test\"; DROP TABLE test; --"},
                          HostileName{"single_quote", "test'--"}, HostileName{"quoted", "\"test\""},
                          HostileName{"bracketed", "[test]"}, HostileName{"polish", "Łódź"},
                          HostileName{"polish_tail", "pomiary_zażółć"},
                          HostileName{"long_10000", std::string(10000, 'a')},
                          HostileName{"empty", ""}, HostileName{"sqlite_own", "sqlite_master"},
                          HostileName{"legends_table", "pomiarnik:opisy"},
                          HostileName{"success_word", "Result=Ok"},
                          HostileName{"line_break", "test\nistnieje=Ok"})),
    [](const auto& info) {
        return test::KindName({std::get<0>(info.param), info.index}) + "_" +
               std::get<1>(info.param).label;
    });

TEST_P(RecorderServerStores, SqlInOtherFieldsIsRefusedOrStoredAsText) {
    ASSERT_NE(Reading("test", "2023-01-05 07:04:09").body.find("Result=Ok"), std::string::npos);
    const auto before = Schema();
    for (const Fields& f : std::vector<Fields>{
             {{"Miasto", "test"}, {"Data", "2023-01-05 08:00:00'); DROP TABLE test; --"}},
             {{"Miasto", "test"},
              {"Data", "2023-01-05 08:00:00"},
              {"Sonda0", "1); DROP TABLE test"}},
             {{"Miasto", "test"},
              {"Data", "2023-01-05 08:00:00"},
              {"Sonda0); DROP TABLE test", "1"}}}) {
        const Reply r = Post(f);
        EXPECT_EQ(r.status, 400);
        EXPECT_FALSE(HasSuccessWord(r.body)) << r.body;
    }
    // A legends text is only text.
    const std::string evil = "x'); DROP TABLE test; --";
    EXPECT_EQ(Post({{"Miasto", "testopisy"}, {"Data", evil}}, "/Zapisz2Pomiaryopisy.php").body,
              "Result=Ok\n");
    EXPECT_EQ(store->LegendsText("test"), evil);
    EXPECT_EQ(Schema(), before);
    EXPECT_EQ(store->Rows("test", "", "9999").size(), 1u);
}

TEST_P(RecorderServerStores, OversizedAndPackedBodiesAreRefused) {
    const auto before = Schema();
    const Reply big = Post({{"Miasto", "test"}, {"Data", std::string(70000, '1')}});
    EXPECT_EQ(big.status, 413);
    EXPECT_NE(big.body.find("za duża"), std::string::npos) << big.body;
    EXPECT_FALSE(HasSuccessWord(big.body));

    httplib::Client c("127.0.0.1", port);
    httplib::Headers gz = {{"Content-Encoding", "gzip"}};
    const auto packed = c.Post("/Zapisz2Pomiary.php", gz, std::string(100, 'x'),
                               "application/x-www-form-urlencoded");
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->status, 415);
    EXPECT_FALSE(HasSuccessWord(packed->body));

    const auto garbled =
        c.Post("/Zapisz2Pomiary.php", "--zz\r\nnonsense", "multipart/form-data; boundary=zz");
    ASSERT_TRUE(garbled);
    EXPECT_EQ(garbled->status, 400);
    EXPECT_FALSE(garbled->body.empty());
    EXPECT_FALSE(HasSuccessWord(garbled->body));
    EXPECT_EQ(Schema(), before);
}

TEST_P(RecorderServerStores, WithAKeyOnlyPostsHoldingItAreTaken) {
    Start("s3cret");
    const Fields base = {{"Miasto", "test"}, {"Data", "2023-01-05 07:04:09"}};
    auto with = [&](const std::string& key) {
        Fields f = base;
        f.push_back({"key", key});
        return f;
    };
    for (const Fields& f : {base, with(""), with("s3cres"), with("s3cret ")}) {
        const Reply r = Post(f);
        EXPECT_EQ(r.status, 403);
        EXPECT_FALSE(HasSuccessWord(r.body)) << r.body;
    }
    const Reply legends =
        Post({{"Miasto", "testopisy"}, {"Data", "x"}}, "/Zapisz2Pomiaryopisy.php");
    EXPECT_EQ(legends.status, 403);
    EXPECT_FALSE(HasSuccessWord(legends.body));
    EXPECT_TRUE(store->Rows("test", "", "9999").empty());
    EXPECT_NE(Post(with("s3cret")).body.find("Result=Ok"), std::string::npos);
}

TEST_P(RecorderServerStores, APostThatCannotBeStoredSaysSo) {
    // A table of that name made by something else, without our columns.
    ASSERT_TRUE(maker->Exec("CREATE TABLE obca (x INTEGER)"));
    const Reply r = Reading("obca", "2023-01-05 07:04:09");
    EXPECT_EQ(r.status, 503);
    EXPECT_FALSE(HasSuccessWord(r.body)) << r.body;
    // The writer goes on with the next post.
    EXPECT_NE(Reading("test", "2023-01-05 07:04:09").body.find("Result=Ok"), std::string::npos);
}

TEST_P(RecorderServerStores, ManyStationsAtOnceAllGetStored) {
    constexpr int kClients = 8, kEach = 25;
    std::atomic<int> ok{0};
    std::vector<std::string> failures(kClients);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < kEach; ++i) {
                char stamp[32];
                std::snprintf(stamp, sizeof stamp, "2023-01-05 %02d:%02d:%02d", c, i / 60, i % 60);
                const Reply r = Reading(c % 2 ? "odd" : "even", stamp, std::to_string(i));
                if (r.status == 200 && HasSuccessWord(r.body))
                    ++ok;
                else
                    failures[static_cast<std::size_t>(c)] = std::to_string(r.status) + " " + r.body;
            }
        });
    for (auto& t : clients) t.join();
    EXPECT_EQ(ok.load(), kClients * kEach);
    for (const auto& f : failures) EXPECT_EQ(f, "");
    EXPECT_EQ(store->Rows("odd", "", "9999").size() + store->Rows("even", "", "9999").size(),
              static_cast<std::size_t>(kClients * kEach));
}

TEST_P(RecorderServerStores, ASecondRecorderOnATakenPortIsTold) {
    Server second(*store, ServerConfig{"127.0.0.1", port, "", 2});
    std::string error;
    EXPECT_EQ(second.Start(&error), -1);
    EXPECT_NE(error.find(std::to_string(port)), std::string::npos) << error;
}

TEST_P(RecorderServerStores, PagesAreShellsThatLoadOnlyTheRecordersOwnScripts) {
    Reading("test", "2023-01-05 07:00:00", "20");
    Reading("test", "2023-01-06 00:30:00", "19");

    httplib::Client c("127.0.0.1", port);
    for (const char* path : {"/", "/table/test", "/table/TEST"}) {
        const auto r = c.Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path;
        EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8") << path;
        const std::string csp = r->get_header_value("Content-Security-Policy");
        EXPECT_NE(csp.find("script-src 'self';"), std::string::npos) << csp;
        EXPECT_EQ(csp.find("unsafe"), std::string::npos) << csp;
        // Every script is a file of ours or data; no handler attributes.
        for (auto at = r->body.find("<script"); at != std::string::npos;
             at = r->body.find("<script", at + 1)) {
            const std::string tag = r->body.substr(at, r->body.find('>', at) - at);
            EXPECT_TRUE(tag.starts_with("<script src=\"/assets/") ||
                        tag == "<script type=\"application/json\" id=\"page-data\"")
                << path << ": " << tag;
        }
        EXPECT_FALSE(std::regex_search(r->body, std::regex(R"(\son[a-z]+\s*=)"))) << path;
        EXPECT_NE(r->body.find("uPlot.iife.min.js?v="), std::string::npos) << path;
    }
    const std::string home = c.Get("/")->body;
    EXPECT_NE(home.find("<article class=\"card\" data-table=\"test\"><h3><a href=\"/table/test\">"),
              std::string::npos)
        << home;
    EXPECT_NE(home.find("ostatni: 2023-01-06 00:30:00"), std::string::npos);
    // The name as stored, whatever case the address used.
    EXPECT_NE(c.Get("/table/TEST")->body.find("{\"table\":\"test\"}</script>"), std::string::npos);
}

TEST_P(RecorderServerStores, AssetsServedWithTheirTypeAndALongCache) {
    httplib::Client c("127.0.0.1", port);
    const std::string page = c.Get("/table/nope")->body;  // a message page links the style too
    for (const std::string name : {"common.js", "dashboard.js", "station.js", "style.css",
                                   "uPlot.iife.min.js", "uPlot.min.css"}) {
        const Asset* a = FindAsset(name);
        ASSERT_NE(a, nullptr) << name;
        const auto r = c.Get(("/assets/" + name + "?v=" + std::string(a->hash)).c_str());
        ASSERT_TRUE(r) << name;
        EXPECT_EQ(r->status, 200) << name;
        EXPECT_EQ(r->body, a->body) << name;
        EXPECT_EQ(r->get_header_value("Content-Type"), a->type) << name;
        EXPECT_NE(r->get_header_value("Cache-Control").find("immutable"), std::string::npos);
        EXPECT_EQ(r->get_header_value("X-Content-Type-Options"), "nosniff");
    }
    EXPECT_NE(page.find("/assets/style.css?v=" + std::string(FindAsset("style.css")->hash)),
              std::string::npos);
    for (const char* bad : {"/assets/nothing.js", "/assets/..%2fRecorderPages.cpp", "/assets/"})
        EXPECT_EQ(c.Get(bad)->status, 404) << bad;
}

TEST_P(RecorderServerStores, CsvBetweenBoundsAndBadRequestsToPages) {
    Reading("test", "2023-01-05 07:00:00", "20");
    Reading("test", "2023-01-06 07:00:00", "21");
    Reading("test", "2023-01-07 07:00:00", "22");
    const Reply csv = test::Get(port, "/table/test.csv?from=2023-01-06&to=2023-01-07");
    EXPECT_EQ(csv.status, 200);
    EXPECT_EQ(
        csv.body,
        "Data,Sonda0,Sonda1,Sonda2,Sonda3,Sonda4,Sonda5,Sonda6,Sonda7,Sonda8,Sonda9,Sonda10\r\n"
        "2023-01-06 07:00:00,21,,,,,,,,,,\r\n"
        "2023-01-07 07:00:00,22,,,,,,,,,,\r\n");
    const std::vector<std::pair<std::string, int>> bad = {
        {"/table/test.csv?from=yesterday", 400},
        {"/table/nope.csv", 404},
        {"/table/x%22%3B%20DROP%20TABLE%20test.csv", 400},
        {"/table/nope", 404},
        {"/table/te'st", 400},
        {"/nothing", 404}};
    for (const auto& [path, status] : bad) {
        const Reply r = test::Get(port, path);
        EXPECT_EQ(r.status, status) << path;
        EXPECT_FALSE(r.body.empty()) << path;
        EXPECT_EQ(r.body.find("'st"), std::string::npos) << path;
    }
    EXPECT_EQ(store->Rows("test", "", "9999").size(), 3u);
}

}  // namespace
}  // namespace pom::recorder
