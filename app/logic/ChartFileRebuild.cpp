#include "app/logic/ChartFileRebuild.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>

#include "app/logic/DataLog.h"
#include "util/Cp1250.h"
#include "util/DateMask.h"
#include "util/FileUtil.h"
#include "util/SystemError.h"

namespace pom {

namespace {

namespace fs = std::filesystem;

// ---- reading a name back through the mask

enum Field { kYear, kMonth, kDay, kHour, kMinute, kSecond, kIgnored, kFields };

struct Token {
    enum Kind { kChar, kNumber, kName } kind = kChar;
    char c = 0;  // kChar
    Field field = kIgnored;
    int minWidth = 0, maxWidth = 0;  // kNumber
    bool twoDigitYear = false;
    std::vector<std::string> names;  // kName: the value is the index + 1
};

Token Char(char c) {
    Token t;
    t.c = c;
    return t;
}

Token Number(Field f, int minWidth, int maxWidth) {
    Token t;
    t.kind = Token::kNumber;
    t.field = f;
    t.minWidth = minWidth;
    t.maxWidth = maxWidth;
    return t;
}

Token Names(Field f, const char* mask, bool months) {
    Token t;
    t.kind = Token::kName;
    t.field = f;
    for (int i = 1; i <= (months ? 12 : 7); ++i)
        t.names.push_back(FormatDateTimeMask(
            mask, months ? LocalDateTime{2000, i, 1} : LocalDateTime{2000, 1, i + 1}));
    return t;
}

// The mask as the formatter reads it (the same tokens, the same runs), with
// the characters of the file name in place of the text: ":" becomes "_".
std::vector<Token> Tokenize(std::string_view mask, bool& subFolders) {
    std::vector<Token> out;
    subFolders = false;
    ForEachMaskPiece(mask, [&](const MaskPiece& p) {
        const std::size_t count = p.count;
        switch (p.field) {
            case 'Y':
                out.push_back(count <= 2 ? Number(kYear, 2, 2) : Number(kYear, 4, 4));
                out.back().twoDigitYear = count <= 2;
                break;
            case 'M':
                if (count <= 2)
                    out.push_back(Number(kMonth, static_cast<int>(count), 2));
                else
                    out.push_back(Names(kMonth, count == 3 ? "mmm" : "mmmm", true));
                break;
            case 'D':
                if (count <= 2) {
                    out.push_back(Number(kDay, static_cast<int>(count), 2));
                } else if (count <= 4) {
                    out.push_back(Names(kIgnored, count == 3 ? "ddd" : "dddd", false));
                } else {
                    out.push_back(Number(kYear, 4, 4));
                    out.push_back(Char('-'));
                    out.push_back(Number(kMonth, 2, 2));
                    out.push_back(Char('-'));
                    out.push_back(Number(kDay, 2, 2));
                }
                break;
            case 'H':
                out.push_back(Number(kHour, count == 1 ? 1 : 2, 2));
                break;
            case 'N':
                out.push_back(Number(kMinute, count == 1 ? 1 : 2, 2));
                break;
            case 'S':
                out.push_back(Number(kSecond, count == 1 ? 1 : 2, 2));
                break;
            case 'Z':
                out.push_back(Number(kIgnored, count <= 2 ? 1 : 3, 3));
                break;
            default:
                // The file name's characters: ":" is "_" there.
                for (char c : p.text) {
                    if (c == ':') c = '_';
                    if (c == '\\') subFolders = true;
                    out.push_back(Char(c));
                }
        }
    });
    if (subFolders)
        for (Token& t : out)
            if (t.kind == Token::kChar && t.c == '\\') t.c = '/';
    return out;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month != 2) return kDays[month - 1];
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
}

class NameMatcher {
public:
    NameMatcher(const std::vector<Token>& tokens, std::string_view stem, bool extension)
        : tokens_(tokens), stem_(stem), extension_(extension), dotAfter_(tokens.size() + 1) {
        // Whether a dot can still come from token t on: the extension takes
        // the place of the last dot of the formed name.
        for (std::size_t t = tokens.size(); t-- > 0;) {
            bool dot = tokens[t].kind == Token::kChar && tokens[t].c == '.';
            for (const std::string& n : tokens[t].names) dot = dot || n.find('.') != n.npos;
            dotAfter_[t] = dot || dotAfter_[t + 1];
        }
    }

    bool Match() { return Step(0, 0); }
    bool ShapeMatched() const { return shape_; }
    LocalDateTime Latest() const {
        LocalDateTime t{9999, 12, 31, 23, 59, 59, 999};
        if (known_[kYear]) t.year = values_[kYear];
        if (known_[kMonth]) t.month = values_[kMonth];
        if (known_[kDay]) t.day = values_[kDay];
        if (known_[kHour]) t.hour = values_[kHour];
        if (known_[kMinute]) t.minute = values_[kMinute];
        if (known_[kSecond]) t.second = values_[kSecond];
        return t;
    }

private:
    bool Step(std::size_t t, std::size_t p) {
        if (p == stem_.size()) {
            // Without an extension cut, the formed name had no dot at all.
            if (t == tokens_.size())
                return (!extension_ || stem_.find('.') == std::string_view::npos) && Valid();
            // Cut at the formed name's last dot, where the extension went.
            if (extension_ && tokens_[t].kind == Token::kChar && tokens_[t].c == '.' &&
                !dotAfter_[t + 1])
                return Valid();
            return false;
        }
        if (t == tokens_.size()) return false;
        const Token& k = tokens_[t];
        switch (k.kind) {
            case Token::kChar:
                return stem_[p] == k.c && Step(t + 1, p + 1);
            case Token::kNumber:
                for (int w = k.maxWidth; w >= k.minWidth; --w) {
                    if (p + static_cast<std::size_t>(w) > stem_.size()) continue;
                    int v = 0;
                    bool digits = true;
                    for (int j = 0; j < w && digits; ++j) {
                        const char c = stem_[p + static_cast<std::size_t>(j)];
                        digits = c >= '0' && c <= '9';
                        v = v * 10 + (c - '0');
                    }
                    if (!digits) continue;
                    if (Set(k.field, k.twoDigitYear ? 2000 + v : v, t,
                            p + static_cast<std::size_t>(w)))
                        return true;
                }
                return false;
            case Token::kName:
                for (std::size_t n = 0; n < k.names.size(); ++n)
                    if (stem_.substr(p).starts_with(k.names[n]) &&
                        Set(k.field, static_cast<int>(n) + 1, t, p + k.names[n].size()))
                        return true;
                return false;
        }
        return false;
    }

    bool Set(Field f, int v, std::size_t t, std::size_t next) {
        const bool was = known_[f];
        const int old = values_[f];
        known_[f] = true;
        values_[f] = v;
        if (Step(t + 1, next)) return true;
        known_[f] = was;
        values_[f] = old;
        return false;
    }

    // The whole name read: its fields must make a date.
    bool Valid() {
        shape_ = true;
        const int y = known_[kYear] ? values_[kYear] : 2000;
        const int m = known_[kMonth] ? values_[kMonth] : 1;
        if (known_[kMonth] && (m < 1 || m > 12)) return false;
        if (known_[kDay] &&
            (values_[kDay] < 1 || values_[kDay] > (known_[kMonth] ? DaysInMonth(y, m) : 31)))
            return false;
        if (known_[kHour] && values_[kHour] > 23) return false;
        if (known_[kMinute] && values_[kMinute] > 59) return false;
        if (known_[kSecond] && values_[kSecond] > 59) return false;
        return true;
    }

    const std::vector<Token>& tokens_;
    std::string_view stem_;
    bool extension_;
    std::vector<bool> dotAfter_;
    bool known_[kFields] = {};
    int values_[kFields] = {};
    bool shape_ = false;
};

std::string LatestDate(const LocalDateTime& t) {
    return FormatRebuildDate(t);
}

// ---- the lines of the reloaded file

const std::string kReloadedText = Cp("odczytał ostatni zapisany log: ");

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// A reload at start-up puts the last saved file in front of the log and says
// so in the line after it; the next save writes those lines again. When the
// file named there was read in this rebuild and the lines in front are
// exactly its lines, they are passed over: each line is plotted once. Returns
// how many lines of `lines` to pass over.
std::size_t ReloadedLines(const std::vector<std::string_view>& lines,
                          const std::vector<RebuildFile>& read) {
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::size_t at = lines[k].find(kReloadedText);
        if (at == std::string_view::npos) continue;
        const std::string_view named = lines[k].substr(at + kReloadedText.size());
        for (const RebuildFile& f : read) {
            if (named != PathToText(f.path) && !named.ends_with("/" + f.name)) continue;
            const auto bytes = ReadWholeFile(f.path);
            if (!bytes) return 0;
            const std::vector<std::string_view> old = SplitLines(*bytes);
            if (old.size() == k && std::equal(old.begin(), old.end(), lines.begin())) return k;
        }
        return 0;
    }
    return 0;
}

// The menu's "odczytaj" puts a file's lines in the log in place of what it
// held; when the rebuild read that file too, they are passed over in the
// memory. Returns how many lines of `memory` to pass over.
std::size_t ReadBackLines(const std::vector<std::string_view>& memory,
                          const std::vector<RebuildFile>& read) {
    if (memory.empty()) return 0;
    for (auto f = read.rbegin(); f != read.rend(); ++f) {
        // The first line tells; only a file that starts alike is read whole.
        std::ifstream in(f->path, std::ios::binary);
        std::string first;
        if (!in || !std::getline(in, first)) continue;
        if (!first.empty() && first.back() == '\r') first.pop_back();
        if (first != memory.front()) continue;
        const auto bytes = ReadWholeFile(f->path);
        if (!bytes) continue;
        const std::vector<std::string_view> lines = SplitLines(*bytes);
        if (lines.size() <= memory.size() && std::equal(lines.begin(), lines.end(), memory.begin()))
            return lines.size();
    }
    return 0;
}

}  // namespace

DataFileMatch MatchDataFileName(std::string_view mask, std::string_view name) {
    // The saves' own rule for a mask without quotes.
    std::string full(mask);
    if (full.find('"') == std::string::npos) full = "\"Ardu\"" + full;
    bool subFolders = false;
    const std::vector<Token> tokens = Tokenize(full, subFolders);
    DataFileMatch out;
    std::string_view stem = name;
    if (!subFolders) {
        if (!stem.ends_with(".txt")) return out;
        stem.remove_suffix(4);
    }
    NameMatcher m(tokens, stem, !subFolders);
    if (m.Match()) {
        out.kind = DataFileKind::Dated;
        out.latest = m.Latest();
        return out;
    }
    // Named like a save (the text in front of the date is there) but no date.
    std::size_t lead = 0;
    while (lead < tokens.size() && tokens[lead].kind == Token::kChar && lead < name.size() &&
           name[lead] == tokens[lead].c)
        ++lead;
    const bool front = lead == tokens.size() || tokens[lead].kind != Token::kChar;
    if (m.ShapeMatched() || (front && !name.substr(lead).empty())) out.kind = DataFileKind::BadDate;
    return out;
}

RebuildFileList ListRebuildFiles(const std::string& folder, std::string_view mask,
                                 std::string_view from) {
    RebuildFileList out;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return out;  // nothing saved yet
    const bool subFolders = mask.find('\\') != std::string_view::npos;
    auto consider = [&](const fs::directory_entry& e) {
        std::error_code fe;
        if (!e.is_regular_file(fe)) return;
        const fs::path rel = e.path().lexically_relative(folder);
        const std::string relPath = rel.generic_string();
        const std::string file = rel.filename().string();
        if (file.starts_with(".") || file == "niewyslane.txt") return;
        const std::string name = PathToText(relPath);
        const DataFileMatch m = MatchDataFileName(mask, name);
        if (m.kind == DataFileKind::Other) return;
        if (m.kind == DataFileKind::BadDate) {
            out.complaints.push_back(Cp("odbudowa wykresu: pominięty plik ") + name +
                                     Cp(": data w nazwie nie pasuje do maski ") +
                                     std::string(mask));
            return;
        }
        if (LatestDate(m.latest) < from) return;
        const std::uintmax_t size = e.file_size(fe);
        out.files.push_back({e.path().string(), name, m.latest, fe ? 0 : size});
    };
    if (subFolders) {
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) consider(*it);
    } else {
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) consider(*it);
    }
    if (ec)
        out.complaints.push_back(Cp("odbudowa wykresu: folder ") + PathToText(folder) + ": " +
                                 SystemErrorText(ec.value()));
    std::sort(out.files.begin(), out.files.end(), [](const RebuildFile& a, const RebuildFile& b) {
        return a.latest != b.latest ? a.latest < b.latest : a.name < b.name;
    });
    return out;
}

std::vector<RebuildFile> ScanRebuildFiles(const std::vector<RebuildFile>& files,
                                          RebuildScanner& scanner, const std::atomic<bool>& cancel,
                                          const std::function<void(std::uintmax_t)>& progress,
                                          std::size_t* unreadable) {
    std::vector<RebuildFile> read;
    for (const RebuildFile& f : files) {
        if (cancel) break;
        std::string error;
        const auto bytes = ReadWholeFile(f.path, &error);
        if (!bytes) {
            scanner.Complain(Cp("odbudowa wykresu: pominięty plik ") + f.name + ": " + error);
            if (unreadable) ++*unreadable;
        } else {
            std::string_view text = *bytes;
            // Only a file that holds the reload line needs its lines split
            // up front.
            if (!read.empty() && text.find(kReloadedText) != std::string_view::npos) {
                const std::vector<std::string_view> lines = SplitLines(text);
                const std::size_t skip = ReloadedLines(lines, read);
                if (skip > 0 && skip < lines.size())
                    text.remove_prefix(static_cast<std::size_t>(lines[skip].data() - text.data()));
            }
            scanner.Text(text, f.name);
            read.push_back(f);
        }
        if (progress) progress(f.size);
    }
    return read;
}

std::size_t ReloadedLineCount(const std::vector<std::string_view>& memory,
                              const std::vector<RebuildFile>& read) {
    if (read.empty()) return 0;
    const std::size_t reloaded = ReloadedLines(memory, read);
    return reloaded > 0 ? reloaded : ReadBackLines(memory, read);
}

ChartFileRebuild::ChartFileRebuild(ChartRebuildHost& host, Readings& readings,
                                   CancellableDispatcher& main)
    : host_(host), main_(main), plotter_(host, readings) {}

ChartFileRebuild::~ChartFileRebuild() {
    Cancel();
}

void ChartFileRebuild::Start(const std::string& folder, const std::string& mask,
                             const DataLog& log) {
    if (applying_) return;
    Cancel();
    Job job;
    job.folder = folder;
    job.mask = mask;
    job.from = plotter_.Begin();
    // What the log holds now, its "Active 1<" included; the lines the rebuild
    // itself appends are not read again.
    job.memory.assign(log.Lines().begin(), log.Lines().end());
    running_ = true;
    finished_ = false;
    thread_ = std::thread([this, job = std::move(job)] {
        Run(job);
        finished_ = true;
    });
}

void ChartFileRebuild::Cancel() {
    if (!thread_.joinable()) return;
    cancel_ = true;
    JoinDroppingCalls(thread_, finished_, main_);
    cancel_ = false;
    if (running_) {
        running_ = false;
        plotter_.Abort();
    }
}

void ChartFileRebuild::Run(const Job& job) {
    RebuildScanner scanner(job.from, [this](RebuildBatch&& b) { Hand(std::move(b)); });
    try {
        Read(job, scanner);
    } catch (const std::exception& e) {
        // Whatever stopped the reading, the chart shows what was read and the
        // port is let go.
        scanner.Complain(Cp("odbudowa wykresu przerwana: ") + e.what());
    }
    scanner.Flush();
    if (cancel_) return;
    const std::function<void()> finish = [this] {
        if (cancel_ || !running_) return;
        running_ = false;
        plotter_.Finish();
    };
    main_.SyncCall(finish);
}

void ChartFileRebuild::Read(const Job& job, RebuildScanner& scanner) {
    RebuildFileList list;
    if (!job.folder.empty()) list = ListRebuildFiles(job.folder, job.mask, job.from);
    // A badly named file is said once, not at every rebuild.
    for (std::string& c : list.complaints)
        if (said_.insert(c).second) scanner.Complain(std::move(c));
    std::uintmax_t total = 0;
    for (const RebuildFile& f : list.files) total += f.size;
    for (const std::string& l : job.memory) total += l.size() + 2;
    std::uintmax_t done = 0;
    int shown = -1;
    auto progress = [&](std::uintmax_t bytes) {
        done += bytes;
        const int percent =
            total == 0 ? 100 : static_cast<int>(std::min<std::uintmax_t>(100, done * 100 / total));
        if (percent != shown) scanner.Progress(shown = percent);
    };
    const std::vector<RebuildFile> read = ScanRebuildFiles(list.files, scanner, cancel_, progress);
    if (cancel_) return;
    std::vector<std::string_view> memory(job.memory.begin(), job.memory.end());
    for (std::size_t i = ReloadedLineCount(memory, read); i < memory.size(); ++i)
        scanner.Line(memory[i]);
    progress(total - done);
}

void ChartFileRebuild::Hand(RebuildBatch&& batch) {
    if (cancel_) return;
    const std::function<void()> apply = [this, &batch] {
        if (cancel_ || !running_) return;
        applying_ = true;
        try {
            plotter_.Apply(batch);
        } catch (const std::exception& e) {
            // Given up, said in the log; the port is let go.
            cancel_ = true;
            running_ = false;
            plotter_.Abort();
            host_.AppendLog(host_.Stamp() + Cp("odbudowa wykresu przerwana: ") + e.what());
        }
        applying_ = false;
    };
    main_.SyncCall(apply);
}

}  // namespace pom
