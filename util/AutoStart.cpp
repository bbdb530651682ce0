#include "util/AutoStart.h"

#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "util/FileUtil.h"
#include "util/IniFile.h"
#include "util/TdmUtil.h"

namespace pom {

namespace {

constexpr std::string_view kGroup = "Desktop Entry";

std::string EntryPath(const TdmUtil& util, std::string_view name) {
    return util.AppDataFolder() + "/autostart/" + std::string(name) + ".desktop";
}

// Exec quoting: the program as one quoted argument, with the characters that
// are special inside quotes escaped and "%" doubled (field codes).
std::string QuoteExec(const std::string& program) {
    std::string q = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') q += '\\';
        if (c == '%') q += '%';
        q += c;
    }
    q += '"';
    // The value-level escape of a desktop file applies on top of the quoting.
    std::string v;
    for (char c : q) {
        if (c == '\\')
            v += "\\\\";
        else if (c == '\n')
            v += "\\n";
        else if (c == '\t')
            v += "\\t";
        else if (c == '\r')
            v += "\\r";
        else
            v += c;
    }
    return v;
}

std::string UnescapeValue(std::string_view v) {
    std::string r;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            r += v[i];
            continue;
        }
        switch (v[++i]) {
            case 's':
                r += ' ';
                break;
            case 'n':
                r += '\n';
                break;
            case 't':
                r += '\t';
                break;
            case 'r':
                r += '\r';
                break;
            case '\\':
                r += '\\';
                break;
            default:
                r += '\\';
                r += v[i];
                break;
        }
    }
    return r;
}

// The first argument of an Exec line: the program.
std::string FirstArgument(const std::string& exec) {
    std::string arg;
    std::size_t i = 0;
    if (!exec.empty() && exec[0] == '"') {
        for (i = 1; i < exec.size() && exec[i] != '"'; ++i) {
            if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
            arg += exec[i];
        }
    } else {
        for (; i < exec.size() && exec[i] != ' ' && exec[i] != '\t'; ++i) arg += exec[i];
    }
    std::string out;
    for (std::size_t k = 0; k < arg.size(); ++k) {
        if (arg[k] == '%' && k + 1 < arg.size() && arg[k + 1] == '%') ++k;
        out += arg[k];
    }
    return out;
}

}  // namespace

bool SetAutoStart(const TdmUtil& util, std::string_view name, const std::string& command,
                  bool enabled) {
    const std::string path = EntryPath(util, name);
    if (!MakeFolders(path.substr(0, path.rfind('/')))) return false;
    if (!enabled) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw std::runtime_error("Unable to write to " + path);
        return true;
    }
    const std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=" +
        std::string(name) +
        "\n"
        "Exec=" +
        QuoteExec(command) +
        "\n"
        "X-GNOME-Autostart-enabled=true\n";
    try {
        WriteFileAtomic(path, text);
    } catch (const std::runtime_error&) {
        throw std::runtime_error("Unable to write to " + path);
    }
    return true;
}

bool GetAutoStart(const TdmUtil& util, std::string_view name, std::string& command) {
    command = "???";
    const auto bytes = ReadWholeFile(EntryPath(util, name));
    if (!bytes) return false;
    const IniDocument doc = IniDocument::Parse(*bytes);
    // An entry switched off by the desktop counts as absent.
    if (doc.GetString(kGroup, "Hidden", "") == "true") return false;
    if (doc.GetString(kGroup, "X-GNOME-Autostart-enabled", "true") == "false") return false;
    const auto exec = doc.GetRaw(kGroup, "Exec");
    command = exec ? FirstArgument(UnescapeValue(*exec)) : std::string();
    return true;
}

}  // namespace pom
