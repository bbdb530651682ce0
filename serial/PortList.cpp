#include "serial/PortList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace pom {

namespace fs = std::filesystem;

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

void AddOnce(std::vector<std::string>& list, const std::string& name) {
    for (const auto& n : list)
        if (SameName(n, name)) return;
    list.push_back(name);
}

std::vector<fs::path> SortedEntries(const std::string& dir) {
    std::vector<fs::path> r;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        r.push_back(it->path());
    std::sort(r.begin(), r.end());
    return r;
}

// The 8250 driver registers ttyS0..ttyS31 whether or not a UART sits behind
// them; a port without one reads type 0.
bool HasUart(const fs::path& ttyDir) {
    std::ifstream in(ttyDir / "type");
    int type = 0;
    return static_cast<bool>(in >> type) && type != 0;
}

}  // namespace

void EnumComPortsIn(std::vector<std::string>& list, const std::string& ttyClassDir,
                    const std::string& byIdDir) {
    for (const auto& p : SortedEntries(ttyClassDir)) {
        const std::string name = p.filename().string();
        std::error_code ec;
        // Virtual consoles and pseudo-terminals have no device behind them.
        if (!fs::exists(p / "device", ec)) continue;
        if (name.rfind("ttyS", 0) == 0 && !HasUart(p)) continue;
        if (name.rfind("tty", 0) != 0) continue;
        AddOnce(list, name);
    }
    for (const auto& p : SortedEntries(byIdDir)) AddOnce(list, p.string());
}

void EnumComPorts(std::vector<std::string>& list) {
    EnumComPortsIn(list, "/sys/class/tty", "/dev/serial/by-id");
}

}  // namespace pom
