#include "web/HostHistory.h"

#include <algorithm>

#include "web/Upload.h"

namespace pom {
namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace

void HostHistory::Load(const std::string& text) {
    items_ = SplitFields(text, ',');
}

std::string HostHistory::Text() const {
    return JoinDelimited(items_);
}

bool HostHistory::Add(const std::string& address) {
    for (const std::string& item : items_)
        if (SameText(item, address)) return false;
    items_.push_back(address);
    return true;
}

}  // namespace pom
