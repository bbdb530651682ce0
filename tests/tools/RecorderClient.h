#pragma once

// Posting to a recorder from the tests, the way the uploader does.
#include <httplib.h>

#include <string>
#include <utility>
#include <vector>

namespace pom::test {

struct Reply {
    int status = -1;  // -1: no reply at all
    std::string body;
    std::string contentType;
};

inline Reply ToReply(const httplib::Result& r) {
    if (!r) return {};
    return {r->status, r->body, r->get_header_value("Content-Type")};
}

using Fields = std::vector<std::pair<std::string, std::string>>;

inline Reply PostMultipart(int port, const std::string& path, const Fields& fields) {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30);
    httplib::MultipartFormDataItems items;
    for (const auto& [name, value] : fields) items.push_back({name, value, "", ""});
    return ToReply(c.Post(path.c_str(), items));
}

inline Reply Get(int port, const std::string& path) {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30);
    return ToReply(c.Get(path.c_str()));
}

inline bool HasSuccessWord(const std::string& body) {
    for (const char* word : {"Result=Ok", "istnieje=Ok", "UtworzonoBrakujacaTabele ok"})
        if (body.find(word) != std::string::npos) return true;
    return false;
}

}  // namespace pom::test
