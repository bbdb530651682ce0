#include "tools/recorder/RecorderPages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/recorder/RecorderAssets.h"

namespace pom::recorder {
namespace {

// A link to a built-in script or style; the hash makes a new build's file a
// new address, so browsers may keep each one for long.
std::string AssetUrl(std::string_view name) {
    const Asset* a = FindAsset(name);
    return "/assets/" + std::string(name) + (a ? "?v=" + std::string(a->hash) : "");
}

std::string Page(const std::string& title, const std::string& body,
                 const std::vector<std::string_view>& scripts = {}) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"pl\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
        "<link rel=\"icon\" href=\"data:,\"><title>" +
        HtmlEscape(title) + "</title>";
    if (!scripts.empty())
        page += "<link rel=\"stylesheet\" href=\"" + AssetUrl("uPlot.min.css") + "\">";
    page += "<link rel=\"stylesheet\" href=\"" + AssetUrl("style.css") +
            "\"></head><body><header><h1><a href=\"/\">Pomiarnik — zapisane pomiary</a>"
            "</h1></header><main>" +
            body + "</main>";
    for (const auto s : scripts) page += "<script src=\"" + AssetUrl(s) + "\"></script>";
    return page + "</body></html>\n";
}

std::string TableLink(const std::string& table) {
    return "/table/" + table;  // table names are [A-Za-z0-9_]: safe in a path
}

// Length of the UTF-8 sequence starting at s[i], 0 when it is not one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80             ? 1
                          : (b & 0xE0) == 0xC0 ? 2
                          : (b & 0xF0) == 0xE0 ? 3
                          : (b & 0xF8) == 0xF0 ? 4
                                               : 0;
    if (n == 0 || i + n > s.size() || (n == 2 && b < 0xC2) || (n == 4 && b > 0xF4)) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    const auto b1 = static_cast<unsigned char>(s[i + 1 < s.size() ? i + 1 : i]);
    if (n == 3 && ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 > 0x9F))) return 0;
    if (n == 4 && ((b == 0xF0 && b1 < 0x90) || (b == 0xF4 && b1 > 0x8F))) return 0;
    return n;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool IsValidValue(double v) {
    return std::isfinite(v) && v > -888.0;
}

std::string ScriptJson(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else if (u >= 0x80) {
            const std::size_t n = Utf8Length(text, i);
            if (n == 0) {
                out += "\\ufffd";
                ++i;
                continue;
            }
            out.append(text.substr(i, n));
            i += n;
            continue;
        } else {
            out += c;
        }
        ++i;
    }
    return out + "\"";
}

std::string IndexPage(const std::vector<TableSummary>& tables) {
    std::string body = "<h2>Stacje</h2>";
    // The script shows the first station's card when its first reading comes.
    const std::vector<std::string_view> scripts = {"uPlot.iife.min.js", "common.js",
                                                   "dashboard.js"};
    if (tables.empty()) {
        body +=
            "<p id=\"empty\">Brak tabel: pierwsza pojawi się, gdy program wyśle pierwszy odczyt "
            "(…/Zapisz2Pomiary.php).</p>";
        return Page("Pomiarnik — stacje", body, scripts);
    }
    // What the server knows now; the script turns each card into the live one.
    body += "<div id=\"cards\" class=\"cards\">";
    for (const auto& t : tables) {
        const std::string link = HtmlEscape(TableLink(t.name));
        body += "<article class=\"card\" data-table=\"" + HtmlEscape(t.name) + "\"><h3><a href=\"" +
                link + "\">" + HtmlEscape(t.name) +
                "</a></h3><p class=\"meta\">Odczytów: " + std::to_string(t.rows) +
                ", ostatni: " + (t.last.empty() ? "—" : HtmlEscape(t.last)) +
                "</p><p class=\"links\"><a href=\"" + link + ".csv\">CSV</a></p></article>";
    }
    body += "</div><p id=\"status\" class=\"note\"></p>";
    return Page("Pomiarnik — stacje", body, scripts);
}

std::string StationPage(const std::string& table) {
    const std::string name = HtmlEscape(table);
    std::string body =
        "<script type=\"application/json\" id=\"page-data\">{\"table\":" + ScriptJson(table) +
        "}</script>";
    body += "<nav class=\"crumbs\"><a href=\"/\">« wszystkie stacje</a></nav>";
    body += "<h2>Stacja " + name + "</h2>";
    body +=
        "<div class=\"controls\"><div class=\"ranges\" role=\"group\" aria-label=\"zakres\">"
        "<button type=\"button\" data-range=\"24h\">24 h</button>"
        "<button type=\"button\" data-range=\"7d\">7 d</button>"
        "<button type=\"button\" data-range=\"30d\">30 d</button>"
        "<button type=\"button\" data-range=\"1r\">1 rok</button>"
        "<button type=\"button\" data-range=\"all\">wszystko</button></div>"
        "<form id=\"pick\" class=\"pick\"><label>od <input type=\"datetime-local\" id=\"from\" "
        "step=\"60\" required></label><label>do <input type=\"datetime-local\" id=\"to\" "
        "step=\"60\" required></label><button type=\"submit\">Pokaż</button></form>"
        "<span class=\"exports\">Pobierz to, co widać: <a id=\"csv\" href=\"" +
        HtmlEscape(TableLink(table)) + ".csv\">CSV</a> <a id=\"json\" href=\"/api" +
        HtmlEscape(TableLink(table)) + "\">JSON</a></span></div>";
    body +=
        "<div id=\"chart\" class=\"chart\"></div>"
        "<p class=\"note\">Przeciągnij po wykresie, aby go powiększyć; dwuklik wraca do "
        "poprzedniego widoku; Shift + przeciąganie przesuwa; kółko myszy przybliża wokół "
        "wskaźnika. Kliknięcie nazwy kanału w legendzie ukrywa go lub pokazuje.</p>";
    body +=
        "<section><h3>Kompletność</h3><p id=\"completeness\"></p>"
        "<div id=\"days\" class=\"days\"></div></section>"
        "<section><h3>Statystyki widocznego zakresu</h3><table id=\"stats\" class=\"stats\">"
        "</table></section><p id=\"status\" class=\"note\"></p>";
    return Page("Pomiarnik — " + table, body, {"uPlot.iife.min.js", "common.js", "station.js"});
}

const Asset* FindAsset(std::string_view name) {
    for (std::size_t i = 0; i < kAssetCount; ++i)
        if (kAssets[i].name == name) return &kAssets[i];
    return nullptr;
}

std::string MessagePage(const std::string& title, const std::string& text) {
    return Page("Pomiarnik — " + title, "<h2>" + HtmlEscape(title) + "</h2><p>" + HtmlEscape(text) +
                                            "</p><p><a href=\"/\">Wszystkie stacje</a></p>");
}

}  // namespace pom::recorder
