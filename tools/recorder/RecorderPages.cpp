#include "tools/recorder/RecorderPages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pom::recorder {
namespace {

constexpr const char* kColours[kChannels] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                             "#ff7f0e", "#17becf", "#8c564b", "#e377c2",
                                             "#7f7f7f", "#bcbd22", "#393b79"};

constexpr const char* kStyle =
    "body{font-family:'DejaVu Sans',Arial,sans-serif;margin:0;background:#f4f6f8;color:#222}"
    "header{background:#2b4a6f;color:#fff;padding:10px 24px}"
    "header a{color:#fff;text-decoration:none}"
    "header h1{margin:0;font-size:20px;font-weight:600}"
    "main{padding:16px 24px;max-width:1100px}"
    "h2{font-size:18px;margin:8px 0 12px}"
    "table{border-collapse:collapse;background:#fff;font-size:13px;margin:8px 0}"
    "th,td{border:1px solid #d5dbe1;padding:3px 8px;text-align:right}"
    "th{background:#e8edf2}td:first-child,th:first-child{text-align:left}"
    "tr:nth-child(even) td{background:#f8fafb}"
    "td.bad{color:#aaa}"
    ".chart{background:#fff;border:1px solid #d5dbe1;padding:8px;margin:8px 0}"
    ".chart svg{width:100%;height:auto;display:block}"
    ".legend{list-style:none;padding:0;margin:6px 0 0;display:flex;flex-wrap:wrap;gap:6px 18px;"
    "font-size:13px}"
    ".legend span.sw{display:inline-block;width:18px;height:4px;margin-right:6px;"
    "vertical-align:middle}"
    "form.day{display:flex;gap:10px;align-items:center;flex-wrap:wrap;font-size:14px}"
    "form.day a{color:#2b4a6f}"
    "form.day .pick{display:flex;gap:10px;flex-wrap:wrap;width:100%;font-size:13px}"
    "p.note{color:#666;font-size:13px}";

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"pl\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
           "<title>" +
           HtmlEscape(title) + "</title><style>" + kStyle +
           "</style></head><body><header><h1><a href=\"/\">Pomiarnik — zapisane pomiary</a>"
           "</h1></header><main>" +
           body + "</main></body></html>\n";
}

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string Short(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7g", v);
    return buf;
}

int SecondsOfDay(const std::string& stamp) {
    const auto two = [&](std::size_t at) { return (stamp[at] - '0') * 10 + (stamp[at + 1] - '0'); };
    return two(11) * 3600 + two(14) * 60 + two(17);
}

double NiceStep(double raw) {
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / p;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 2.5 ? 2.5 : f <= 5 ? 5 : 10) * p;
}

std::string TableLink(const std::string& table) {
    return "/table/" + table;  // table names are [A-Za-z0-9_]: safe in a path
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

std::array<std::string, kChannels> ChannelLabels(std::string_view text) {
    std::array<std::string, kChannels> labels;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(")(", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view part = text.substr(start, end - start);
        start = end + 2;
        // pomT<n>;unit;name;name
        std::vector<std::string_view> f;
        std::size_t s = 0;
        while (true) {
            const auto semi = part.find(';', s);
            f.push_back(part.substr(s, semi == std::string_view::npos ? semi : semi - s));
            if (semi == std::string_view::npos) break;
            s = semi + 1;
        }
        if (f.size() < 3 || !f[0].starts_with("pomT")) continue;
        const std::string_view n = f[0].substr(4);
        if (n.empty() || n.size() > 2 ||
            !std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int ch = std::stoi(std::string(n));
        if (ch >= kChannels) continue;
        std::string label(f[2]);
        if (!f[1].empty()) label += " [" + std::string(f[1]) + "]";
        labels[static_cast<std::size_t>(ch)] = label;
    }
    return labels;
}

bool IsValidValue(double v) {
    return std::isfinite(v) && v > -888.0;
}

std::string IndexPage(const std::vector<TableSummary>& tables) {
    std::string body = "<h2>Tabele</h2>";
    if (tables.empty()) {
        body +=
            "<p>Brak tabel: pierwsza pojawi się, gdy program wyśle pierwszy odczyt "
            "(…/Zapisz2Pomiary.php).</p>";
        return Page("Pomiarnik — tabele", body);
    }
    body += "<table><tr><th>Tabela</th><th>Odczytów</th><th>Ostatni odczyt</th><th>CSV</th></tr>";
    for (const auto& t : tables) {
        const std::string name = HtmlEscape(t.name);
        body += "<tr><td><a href=\"" + HtmlEscape(TableLink(t.name)) + "\">" + name +
                "</a></td><td>" + std::to_string(t.rows) + "</td><td>" +
                (t.last.empty() ? "—" : HtmlEscape(t.last)) + "</td><td><a href=\"" +
                HtmlEscape(TableLink(t.name)) + ".csv\">pobierz</a></td></tr>";
    }
    body += "</table>";
    return Page("Pomiarnik — tabele", body);
}

std::string ChartSvg(const DayView& view) {
    constexpr double W = 960, H = 420, L = 64, R = 16, T = 14, B = 36;
    const double pw = W - L - R, ph = H - T - B;
    const auto labels = ChannelLabels(view.legendsText);

    std::vector<const Row*> rows;
    for (const auto& r : view.rows)
        if (IsStamp(r.stamp) && r.stamp.compare(0, 10, view.day) == 0) rows.push_back(&r);

    double lo = 0, hi = 0;
    bool any = false;
    for (const Row* r : rows)
        for (std::size_t c = 0; c < r->values.size(); ++c) {
            const auto& v = r->values[c];
            if (view.shown[c] && v && IsValidValue(*v)) {
                lo = any ? std::min(lo, *v) : *v;
                hi = any ? std::max(hi, *v) : *v;
                any = true;
            }
        }
    if (!any) lo = 0, hi = 1;
    if (hi - lo < 1e-9) lo -= 1, hi += 1;
    const double step = NiceStep((hi - lo) / 6);
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
    const auto X = [&](int sec) { return L + pw * sec / 86400.0; };
    const auto Y = [&](double v) { return T + ph * (hi - v) / (hi - lo); };

    std::string s =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 960 420\" role=\"img\""
        " aria-label=\"wykres odczytów " +
        HtmlEscape(view.day) +
        "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">";
    s += "<rect x=\"" + Fixed(L, 0) + "\" y=\"" + Fixed(T, 0) + "\" width=\"" + Fixed(pw, 0) +
         "\" height=\"" + Fixed(ph, 0) + "\" fill=\"#fff\" stroke=\"#9aa5b1\"/>";
    // Value axis.
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    for (double v = lo; v <= hi + step / 2; v += step) {
        const std::string y = Fixed(Y(v), 1);
        s += "<line x1=\"" + Fixed(L, 0) + "\" y1=\"" + y + "\" x2=\"" + Fixed(L + pw, 0) +
             "\" y2=\"" + y + "\" stroke=\"#e3e8ed\"/>";
        s += "<text x=\"" + Fixed(L - 6, 0) + "\" y=\"" + Fixed(Y(v) + 4, 1) +
             "\" text-anchor=\"end\" fill=\"#444\">" +
             Fixed(std::abs(v) < step / 1e6 ? 0 : v, decimals) + "</text>";
    }
    // Time axis: a line every hour, the hour written every second one.
    for (int h = 0; h <= 24; ++h) {
        const std::string x = Fixed(X(h * 3600), 1);
        s += "<line x1=\"" + x + "\" y1=\"" + Fixed(T, 0) + "\" x2=\"" + x + "\" y2=\"" +
             Fixed(T + ph + (h % 2 == 0 ? 5 : 3), 0) + "\" stroke=\"" +
             (h % 2 == 0 ? "#d5dbe1" : "#eef1f4") + "\"/>";
        if (h % 2 == 0) {
            char hh[8];
            std::snprintf(hh, sizeof hh, "%02d:00", h);
            s += "<text x=\"" + x + "\" y=\"" + Fixed(T + ph + 20, 0) +
                 "\" text-anchor=\"middle\" fill=\"#444\">" + hh + "</text>";
        }
    }
    // A pause much longer than the usual spacing breaks the line.
    std::vector<int> gaps;
    for (std::size_t i = 1; i < rows.size(); ++i)
        gaps.push_back(SecondsOfDay(rows[i]->stamp) - SecondsOfDay(rows[i - 1]->stamp));
    int usual = 0;
    if (!gaps.empty()) {
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2),
                         gaps.end());
        usual = gaps[gaps.size() / 2];
    }
    const int breakGap = std::max(3600, 3 * usual);

    for (int ch = 0; ch < kChannels; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        if (!view.shown[c]) continue;
        std::vector<std::vector<std::pair<double, double>>> runs(1);
        int lastSec = -1;
        for (const Row* r : rows) {
            const auto& v = r->values[c];
            const int sec = SecondsOfDay(r->stamp);
            if (!v || !IsValidValue(*v) || (lastSec >= 0 && sec - lastSec > breakGap)) {
                if (!runs.back().empty()) runs.emplace_back();
            }
            if (v && IsValidValue(*v)) {
                runs.back().emplace_back(X(sec), Y(*v));
                lastSec = sec;
            }
        }
        std::string title = labels[c].empty() ? "Sonda" + std::to_string(ch) : labels[c];
        for (const auto& run : runs) {
            if (run.empty()) continue;
            if (run.size() == 1) {
                s += "<circle class=\"ch" + std::to_string(ch) + "\" cx=\"" +
                     Fixed(run[0].first, 1) + "\" cy=\"" + Fixed(run[0].second, 1) +
                     "\" r=\"2.5\" fill=\"" + kColours[c] + "\"><title>" + HtmlEscape(title) +
                     "</title></circle>";
                continue;
            }
            s += "<polyline class=\"ch" + std::to_string(ch) +
                 "\" fill=\"none\" stroke-width=\"1.8\" stroke-linejoin=\"round\" stroke=\"" +
                 kColours[c] + "\" points=\"";
            for (std::size_t i = 0; i < run.size(); ++i) {
                if (i) s += ' ';
                s += Fixed(run[i].first, 1) + "," + Fixed(run[i].second, 1);
            }
            s += "\"><title>" + HtmlEscape(title) + "</title></polyline>";
        }
    }
    if (!any)
        s += "<text x=\"480\" y=\"210\" text-anchor=\"middle\" fill=\"#888\" font-size=\"16\">"
             "brak ważnych odczytów tego dnia</text>";
    s += "</svg>";
    return s;
}

std::string TablePage(const DayView& view) {
    const auto labels = ChannelLabels(view.legendsText);
    std::array<bool, kChannels> used{}, valid{};
    for (const auto& r : view.rows)
        for (std::size_t c = 0; c < r.values.size(); ++c)
            if (r.values[c]) {
                used[c] = true;
                valid[c] = valid[c] || IsValidValue(*r.values[c]);
            }

    const std::string name = HtmlEscape(view.table);
    const std::string link = HtmlEscape(TableLink(view.table));
    const std::string day = HtmlEscape(view.day);
    std::string body = "<h2>Tabela " + name + ": " + day + "</h2>";
    body += "<form class=\"day\" method=\"get\" action=\"" + link + "\">" + "<a href=\"" + link +
            "?day=" + HtmlEscape(PreviousDay(view.day)) + "\">« poprzedni dzień</a>" +
            "<label>Dzień <input type=\"date\" name=\"day\" value=\"" + day +
            "\"></label><button type=\"submit\">Pokaż</button>" + "<a href=\"" + link +
            "?day=" + HtmlEscape(NextDay(view.day)) + "\">następny dzień »</a>" + "<a href=\"" +
            link + ".csv?from=" + day + "&amp;to=" + day + "\">CSV tego dnia</a>";
    // Channels of very different size share one axis; these let the user
    // leave some out.
    body += "<span class=\"pick\"><input type=\"hidden\" name=\"k\" value=\"1\">";
    for (int i = 0; i < kChannels; ++i) {
        const auto c = static_cast<std::size_t>(i);
        if (!used[c]) continue;
        body += "<label><input type=\"checkbox\" name=\"ch\" value=\"" + std::to_string(i) + "\"" +
                (view.shown[c] ? " checked" : "") + ">Sonda" + std::to_string(i) + "</label>";
    }
    body += "</span></form>";

    body += "<div class=\"chart\">" + ChartSvg(view) + "<ul class=\"legend\">";
    for (int i = 0; i < kChannels; ++i) {
        const auto c = static_cast<std::size_t>(i);
        if (!used[c] || !view.shown[c]) continue;
        body += "<li><span class=\"sw\" style=\"background:" + std::string(kColours[c]) +
                "\"></span>Sonda" + std::to_string(i) +
                (labels[c].empty() ? "" : ": " + HtmlEscape(labels[c])) +
                (valid[c] ? "" : " (brak ważnych odczytów)") + "</li>";
    }
    body += "</ul></div>";

    if (view.rows.empty()) {
        body += "<p>Brak odczytów w tym dniu.</p>";
        return Page("Pomiarnik — " + view.table, body);
    }
    body += "<table><tr><th>Data</th>";
    for (int i = 0; i < kChannels; ++i) {
        const auto c = static_cast<std::size_t>(i);
        if (!used[c]) continue;
        body += "<th>Sonda" + std::to_string(i) +
                (labels[c].empty() ? "" : "<br>" + HtmlEscape(labels[c])) + "</th>";
    }
    body += "</tr>";
    // Newest first; a very busy day is cut, the CSV has it all.
    const std::size_t shown = std::min(view.rows.size(), kMaxTableRowsShown);
    for (std::size_t k = 0; k < shown; ++k) {
        const Row& r = view.rows[view.rows.size() - 1 - k];
        body += "<tr><td>" + HtmlEscape(r.stamp) + "</td>";
        for (int i = 0; i < kChannels; ++i) {
            const auto c = static_cast<std::size_t>(i);
            if (!used[c]) continue;
            const auto& v = r.values[c];
            if (!v)
                body += "<td></td>";
            else
                body += std::string(IsValidValue(*v) ? "<td>" : "<td class=\"bad\">") + Short(*v) +
                        "</td>";
        }
        body += "</tr>";
    }
    body += "</table>";
    if (shown < view.rows.size())
        body += "<p class=\"note\">Pokazano " + std::to_string(shown) + " najnowszych z " +
                std::to_string(view.rows.size()) + " odczytów; wszystkie są w CSV.</p>";
    return Page("Pomiarnik — " + view.table, body);
}

std::string Csv(const std::vector<Row>& rows) {
    std::string out = "Data";
    for (int i = 0; i < kChannels; ++i) out += ",Sonda" + std::to_string(i);
    out += "\r\n";
    for (const auto& r : rows) {
        // Our stamps are plain; a table filled by something else may not be.
        if (r.stamp.find_first_of(",\"\r\n") == std::string::npos) {
            out += r.stamp;
        } else {
            out += '"';
            for (char c : r.stamp) out += c == '"' ? std::string("\"\"") : std::string(1, c);
            out += '"';
        }
        for (const auto& v : r.values) {
            out += ',';
            if (v) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.15g", *v);
                out += buf;
            }
        }
        out += "\r\n";
    }
    return out;
}

std::string MessagePage(const std::string& title, const std::string& text) {
    return Page("Pomiarnik — " + title, "<h2>" + HtmlEscape(title) + "</h2><p>" + HtmlEscape(text) +
                                            "</p><p><a href=\"/\">Wszystkie tabele</a></p>");
}

}  // namespace pom::recorder
