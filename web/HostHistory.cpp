#include "web/HostHistory.h"

#include <algorithm>

#include "web/Upload.h"

namespace pom {
namespace {

// The lower-case letter of a Windows-1250 byte, so that "ŁÓDŹ" and "łódź"
// are one address. Bytes that are not capital letters stay as they are.
unsigned char Lower(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<unsigned char>(c + 0x20);
    switch (c) {
        case 0x8A:
            return 0x9A;  // Š
        case 0x8C:
            return 0x9C;  // Ś
        case 0x8D:
            return 0x9D;  // Ť
        case 0x8E:
            return 0x9E;  // Ž
        case 0x8F:
            return 0x9F;  // Ź
        case 0xA3:
            return 0xB3;  // Ł
        case 0xA5:
            return 0xB9;  // Ą
        case 0xAA:
            return 0xBA;  // Ş
        case 0xAF:
            return 0xBF;  // Ż
        case 0xBC:
            return 0xBE;  // Ľ
        default:
            return c;
    }
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Lower(static_cast<unsigned char>(x)) == Lower(static_cast<unsigned char>(y));
           });
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
