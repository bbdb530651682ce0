// Arbitrary bytes as a settings file: reading must not crash, and a write
// must change only the value written, which then reads back as written.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "util/FileUtil.h"
#include "util/IniFile.h"

namespace {

// A scratch folder, removed when the run ends.
struct Scratch {
    Scratch() {
        char tmpl[] = "/tmp/ini-fuzz-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) abort();
        path = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

const std::string& Folder() {
    static const Scratch scratch;
    return scratch.path;
}

struct Probe {
    const char* section;
    const char* key;
};

const Probe kProbes[] = {{"CONFIG", "nrCOMport"},
                         {"CONFIG", "nrCOMportBaud"},
                         {"config", "MASKADATY"},
                         {"Komunikacja", "OstatniLog"},
                         {"Legendy", "Jed1"},
                         {"MonitorT", "Form_X"},
                         {"S", ""},
                         {"", "k"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = Folder() + "/pomiarnik.ini";
    std::remove(path.c_str());
    pom::WriteFileAtomic(path, bytes);

    std::string before[std::size(kProbes)];
    for (std::size_t i = 0; i < std::size(kProbes); ++i) {
        before[i] = pom::IniReadString(path, kProbes[i].section, kProbes[i].key, "\x01");
        (void)pom::ParseIniInteger(before[i], 7);
    }

    // The value to write: the input's last bytes, without line breaks.
    std::string value = bytes.substr(bytes.size() > 40 ? bytes.size() - 40 : 0);
    for (char& c : value)
        if (c == '\r' || c == '\n') c = '_';
    pom::IniWriteString(path, "CONFIG", "nrCOMport", value);

    if (pom::IniReadString(path, "CONFIG", "nrCOMport", "\x01") != value) abort();
    for (std::size_t i = 0; i < std::size(kProbes); ++i) {
        if (pom::IniNamesEqual(kProbes[i].section, "CONFIG") &&
            pom::IniNamesEqual(kProbes[i].key, "nrCOMport"))
            continue;
        if (pom::IniReadString(path, kProbes[i].section, kProbes[i].key, "\x01") != before[i])
            abort();
    }
    return 0;
}
