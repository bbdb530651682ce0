#include "serial/PortList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>

namespace pom {

namespace fs = std::filesystem;

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
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

// The path a port name opens ("ttyACM0" lives in the device folder).
fs::path PortPath(const std::string& name, const std::string& devDir) {
    if (name.find('/') != std::string::npos) return name;
    return fs::path(devDir) / name;
}

// The device file a name leads to, links followed; empty when it is absent.
fs::path DeviceOf(const std::string& name, const std::string& devDir) {
    std::error_code ec;
    fs::path p = fs::canonical(PortPath(name, devDir), ec);
    return ec ? fs::path() : p;
}

void AddOnce(std::vector<std::string>& list, const std::string& name, const std::string& devDir) {
    for (const auto& n : list)
        if (SameName(n, name) || SamePortIn(n, name, devDir)) return;
    list.push_back(name);
}

}  // namespace

bool SamePortIn(const std::string& a, const std::string& b, const std::string& devDir) {
    if (a == b) return true;
    const fs::path da = DeviceOf(a, devDir);
    return !da.empty() && da == DeviceOf(b, devDir);
}

bool SamePort(const std::string& a, const std::string& b) {
    return SamePortIn(a, b, "/dev");
}

void EnumComPortsIn(std::vector<std::string>& list, const std::string& ttyClassDir,
                    const std::string& byIdDir, const std::string& devDir) {
    // Stable names by the tty they lead to; the first in order is kept.
    std::map<std::string, std::string> stable;
    for (const auto& p : SortedEntries(byIdDir)) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(p, ec);
        if (!ec) stable.emplace(target.filename().string(), p.string());
    }
    for (const auto& p : SortedEntries(ttyClassDir)) {
        const std::string name = p.filename().string();
        std::error_code ec;
        // Bluetooth serial ports have no device of their own in sysfs.
        const bool rfcomm = name.rfind("rfcomm", 0) == 0;
        if (!rfcomm) {
            // Virtual consoles and pseudo-terminals have no device behind them.
            if (!fs::exists(p / "device", ec)) continue;
            if (name.rfind("ttyS", 0) == 0 && !HasUart(p)) continue;
            if (name.rfind("tty", 0) != 0) continue;
        }
        const auto s = stable.find(name);
        AddOnce(list, s != stable.end() ? s->second : name, devDir);
        if (s != stable.end()) stable.erase(s);
    }
    // A stable name whose tty the class folder did not show still names a device.
    for (const auto& [tty, path] : stable) AddOnce(list, path, devDir);
}

void EnumComPorts(std::vector<std::string>& list) {
    EnumComPortsIn(list, "/sys/class/tty", "/dev/serial/by-id", "/dev");
}

}  // namespace pom
