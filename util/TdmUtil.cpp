#include "util/TdmUtil.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "util/Cp1250.h"
#include "util/FileUtil.h"
#include "util/SystemError.h"

namespace pom {

namespace {

const char* PasswdHome() {
    const passwd* pw = ::getpwuid(::getuid());
    return pw != nullptr ? pw->pw_dir : nullptr;
}

bool Set(const char* v) {
    return v != nullptr && *v != '\0';
}

// $HOME, else the account's home; empty when there is neither. Never a
// shared folder such as /tmp: settings and data are private.
std::string HomeFolder(const char* home, const char* passwdDir) {
    if (Set(home)) return home;
    if (Set(passwdDir)) return passwdDir;
    return {};
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string SettingsFolderProblem(const char* xdgConfigHome, const char* home,
                                  const char* passwdDir) {
    // The XDG rules ignore a relative value.
    if (Set(xdgConfigHome) && xdgConfigHome[0] == '/') return {};
    const std::string h = HomeFolder(home, passwdDir);
    if (!h.empty() && h[0] == '/' && IsFolder(h)) return {};
    return Cp("brak folderu na ustawienia i dane: ") +
           (h.empty() ? Cp("HOME nie jest ustawione") : PathToText(h) + Cp(" nie jest folderem")) +
           Cp(" i brak XDG_CONFIG_HOME; ustaw HOME na swój folder domowy albo XDG_CONFIG_HOME "
              "na folder ustawień");
}

std::string SettingsFolderProblem() {
    return SettingsFolderProblem(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), PasswdHome());
}

std::string StationFolderToPath(std::string_view stationFolder) {
    std::string p(stationFolder);
    for (char& c : p)
        if (c == '\\') c = '/';
    std::size_t start = 0;
    while (start < p.size() && p[start] == '/') ++start;
    p.erase(0, start);
    const auto end = p.find('/');
    for (std::size_t i = 0; i < p.size() && i < end; ++i)
        if (p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<char>(p[i] + 32);
    return p;
}

TdmUtil::TdmUtil(const Clock& clock, std::string programName)
    : clock_(clock), programName_(std::move(programName)) {}

std::string TdmUtil::AppDataFolder() const {
    std::string folder;
    // The XDG rules ignore a relative value.
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && x[0] == '/')
        folder = x;
    else
        folder = HomeFolder(std::getenv("HOME"), PasswdHome()) + "/.config";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    MakeFolders(folder);
    return folder;
}

std::string TdmUtil::StationFolderPath() const {
    const std::string sub = StationFolderToPath(stationFolder);
    const std::string base = AppDataFolder();
    return sub.empty() ? base : base + "/" + sub;
}

std::string TdmUtil::IniFileName() const {
    const std::string folder = StationFolderPath();
    MakeFolders(folder);
    return folder + "/" + programName_ + ".ini";
}

std::string TdmUtil::ReadIniString(std::string_view section, std::string_view key,
                                   std::string_view def) const {
    return IniReadString(IniFileName(), section, key, def);
}

int TdmUtil::ReadIniInteger(std::string_view section, std::string_view key, int def) const {
    const auto v = IniLoad(IniFileName()).Get(section, key);
    return v ? ParseIniInteger(*v, def) : def;
}

bool TdmUtil::ReadIniBool(std::string_view section, std::string_view key, bool def) const {
    return ReadIniInteger(section, key, def ? 1 : 0) != 0;
}

void TdmUtil::WriteIniString(std::string_view section, std::string_view key,
                             std::string_view value) {
    const std::string folder = StationFolderPath();
    // Without its folder the write cannot succeed; say why the folder is not there.
    if (const int err = CreateFolders(folder))
        throw IniWriteError(folder + "/" + programName_ + ".ini", SystemErrorText(err));
    IniWriteString(IniFileName(), section, key, value);
}

void TdmUtil::WriteIniInteger(std::string_view section, std::string_view key, int value) {
    WriteIniString(section, key, std::to_string(value));
}

void TdmUtil::WriteIniBool(std::string_view section, std::string_view key, bool value) {
    WriteIniString(section, key, value ? "1" : "0");
}

std::string TdmUtil::Read(const settings::StringKey& k) const {
    return ReadIniString(k.section, k.key, k.def);
}
int TdmUtil::Read(const settings::IntKey& k) const {
    return ReadIniInteger(k.section, k.key, k.def);
}
bool TdmUtil::Read(const settings::BoolKey& k) const {
    return ReadIniBool(k.section, k.key, k.def);
}
void TdmUtil::Write(const settings::StringKey& k, std::string_view value) {
    WriteIniString(k.section, k.key, value);
}
void TdmUtil::Write(const settings::IntKey& k, int value) {
    WriteIniInteger(k.section, k.key, value);
}
void TdmUtil::Write(const settings::BoolKey& k, bool value) {
    WriteIniBool(k.section, k.key, value);
}

std::string TdmUtil::DataFolder() const {
    return StationFolderPath() + "/data";
}

std::string TdmUtil::DataFileName() {
    if (stationFolder == kBaseStationFolder) return {};
    if (FileNameMask.find('"') == std::string::npos) FileNameMask = "\"Ardu\"" + FileNameMask;

    std::string name = FormatDateTimeMask(FileNameMask, clock_.now());
    for (char& c : name)
        if (c == ':') c = '_';
    if (name.find('\\') == std::string::npos) {
        const auto dot = name.rfind('.');
        if (dot == std::string::npos)
            name += ".txt";
        else
            name.replace(dot, std::string::npos, ".txt");
    } else {
        for (char& c : name)
            if (c == '\\') c = '/';
    }

    // The mask's letters are Windows-1250; a file name is UTF-8.
    const std::string text = name;
    name = TextToPath(text);
    // A mask may name sub-folders of the data folder (they are made too), but
    // not lead out of it.
    std::size_t start = 0;
    for (std::size_t end; start <= name.size(); start = end + 1) {
        end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0)
            throw std::runtime_error(Cp("nazwa pliku wychodzi poza folder danych: ") + text);
    }
    const std::string path = DataFolder() + "/" + name;
    // A folder that cannot be made is reported with its real cause here;
    // the write would only say the file's folder is missing.
    if (const int err = CreateFolders(path.substr(0, path.rfind('/'))))
        throw FileError(PathToText(path) + ": " + SystemErrorText(err), err);
    return path;
}

std::string TdmUtil::StationDataFolder() const {
    return stationFolder == kBaseStationFolder ? std::string() : DataFolder();
}

std::string TdmUtil::UnsentFileName(std::string* folderError) const {
    if (stationFolder == kBaseStationFolder) return {};
    const std::string folder = DataFolder();
    const int err = CreateFolders(folder);
    if (folderError != nullptr)
        *folderError = err == 0 ? std::string() : PathToText(folder) + ": " + SystemErrorText(err);
    return folder + "/niewyslane.txt";
}

std::string TdmUtil::TimeStampPrefix() const {
    return FormatStamp(clock_.now());
}

}  // namespace pom
