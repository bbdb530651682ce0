#include "web/Upload.h"

#include "util/Cp1250.h"

namespace pom {
namespace {

constexpr std::size_t kMaxText = 255;

bool IsSpace(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

}  // namespace

void UploadRecord::Clip() {
    for (std::string* s : {&Table, &Address, &Stamp})
        if (s->size() > kMaxText) s->resize(kMaxText);
    for (std::string& v : Values)
        if (v.size() > kMaxText) v.resize(kMaxText);
}

std::vector<std::string> SplitFields(std::string_view text, char separator) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    const std::size_t n = text.size();
    const auto skipSpace = [&] {
        while (i < n && IsSpace(text[i])) ++i;
    };
    skipSpace();
    while (i < n) {
        std::string field;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
        } else {
            const std::size_t start = i;
            while (i < n && !IsSpace(text[i]) && text[i] != separator) ++i;
            field.assign(text.substr(start, i - start));
        }
        fields.push_back(std::move(field));
        skipSpace();
        if (i < n && text[i] == separator) {
            ++i;
            if (i == n) fields.emplace_back();
            skipSpace();
        }
    }
    return fields;
}

std::string JoinDelimited(const std::vector<std::string>& items) {
    if (items.size() == 1 && items[0].empty()) return "\"\"";
    std::string out;
    for (std::size_t k = 0; k < items.size(); ++k) {
        if (k > 0) out += ',';
        const std::string& item = items[k];
        bool quote = false;
        for (char c : item)
            if (static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',') quote = true;
        if (!quote) {
            out += item;
            continue;
        }
        out += '"';
        for (char c : item) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

std::optional<UploadRecord> BuildReadingRecord(std::string_view entry, const std::string& table,
                                               const std::string& address, int* extra) {
    if (!entry.empty() && entry.back() == ';') entry.remove_suffix(1);
    const std::vector<std::string> fields = SplitFields(entry, ';');
    if (extra) *extra = 0;
    if (fields.size() < 2) return std::nullopt;
    UploadRecord r;
    r.Table = table;
    r.Address = address;
    r.Stamp = fields[0] + " " + fields[1];
    r.Values.fill("-999.0");
    for (std::size_t k = 2; k < fields.size(); ++k) {
        if (k - 2 < UploadRecord::kValues)
            r.Values[k - 2] = fields[k];
        else if (extra)
            ++*extra;
    }
    r.Clip();
    return r;
}

UploadRecord BuildLegendsRecord(const std::string& text, const std::string& table,
                                const std::string& address) {
    UploadRecord r;
    r.Table = table + "opisy";
    r.Address = address;
    const std::size_t p = r.Address.find(".php");
    if (p != std::string::npos) r.Address.replace(p, 4, "opisy.php");
    r.Stamp = text;
    r.Values.fill("-999");
    r.Clip();
    return r;
}

int ClassifyReply(std::string_view s) {
    int code = -1;
    if (s.size() <= 7) return code;
    if (s.find("Result=Ok") != std::string_view::npos) code = 0;
    if (s.find("istnieje=Ok") != std::string_view::npos) code = 1;
    if (s.find("UtworzonoBrakujacaTabele ok") != std::string_view::npos) code = 2;
    // The reply may come as Windows-1250 or, from a script that names no
    // character set, as UTF-8.
    if (s.find(Cp("Problem ze wstawieniem opisów")) != std::string_view::npos ||
        s.find("Problem ze wstawieniem opisów") != std::string_view::npos)
        code = -1;
    return code;
}

std::string ShortenReply(std::string_view reply) {
    if (reply.size() <= kReplyShown) return std::string(reply);
    return std::string(reply.substr(0, kReplyShown)) + Cp(" …[odpowiedź: ") +
           std::to_string(reply.size()) + Cp(" bajtów]");
}

std::string ReportText(int code, const UploadRecord& job, const std::string& response) {
    switch (code) {
        case 0:
            return "wymiana ok";
        case 1:
            return "istnieje ok";
        case 2:
            return "ok Utworzono TABLE [" + job.Table + "]";
        default:
            return "http Error: " + response.substr(0, kReportMax);
    }
}

bool IsSuccessReport(std::string_view line) {
    return line.find("wymiana ok") != std::string_view::npos ||
           line.find("istnieje ok") != std::string_view::npos ||
           line.find("ok Utworzono TABLE [") != std::string_view::npos;
}

}  // namespace pom
