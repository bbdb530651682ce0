#include "tools/recorder/RecorderApi.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace pom::recorder {
namespace {

std::string Key(int c) {
    return "sonda" + std::to_string(c);
}

class Json {
public:
    Json& Raw(std::string_view s) {
        out_ += s;
        return *this;
    }
    Json& Str(std::string_view s) {
        out_ += '"';
        // A text that is not UTF-8 (a table filled by something else) keeps
        // its ASCII and shows U+FFFD for the rest, so the answer stays JSON.
        const bool utf8 = IsUtf8(s);
        for (char ch : s) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += ch;
            } else if (c < 0x20 || c == 0x7f) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out_ += buf;
            } else if (c >= 0x80 && !utf8) {
                out_ += "\\ufffd";
            } else {
                out_ += ch;
            }
        }
        out_ += '"';
        return *this;
    }
    Json& Num(double v) {
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out_.append(buf, r.ptr);
        return *this;
    }
    Json& Int(std::int64_t v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out_.append(buf, r.ptr);
        return *this;
    }
    Json& Null() { return Raw("null"); }
    // "name": in an object, with a comma before all but the first.
    Json& Field(std::string_view name, bool first = false) {
        if (!first) out_ += ',';
        Str(name);
        out_ += ':';
        return *this;
    }
    std::string Take() { return std::move(out_); }

private:
    std::string out_;
};

ApiReply Error(int status, const std::string& text) {
    Json j;
    j.Raw("{").Field("error", true).Str(text).Raw("}");
    return {status, j.Take(), ""};
}

// A stored stamp as ISO text; one that is not ours is passed on as it is.
std::string Iso(const std::string& stamp) {
    const auto t = StampSeconds(stamp);
    return t ? IsoText(*t) : stamp;
}

double Share(std::int64_t present, std::int64_t expected) {
    const double s = std::min(1.0, static_cast<double>(present) / static_cast<double>(expected));
    return std::round(s * 10000) / 10000;
}

void Channel(Json& j, int c, const std::array<ChannelName, kChannels>& names, bool first) {
    const auto& n = names[static_cast<std::size_t>(c)];
    if (!first) j.Raw(",");
    j.Raw("{").Field("key", true).Str(Key(c));
    j.Field("column").Str("Sonda" + std::to_string(c));
    j.Field("index").Int(c);
    j.Field("name").Str(n.name.empty() ? "Sonda" + std::to_string(c) : n.name);
    j.Field("unit").Str(n.unit).Raw("}");
}

std::optional<std::string> Param(const Params& params, const char* name) {
    const auto it = params.find(name);
    if (it == params.end() || it->second.empty()) return std::nullopt;
    return it->second;
}

void Station(Json& j, const TableFacts& f, std::int64_t nowT) {
    const auto names = ChannelNames(f.legendsText);
    const auto lastT = StampSeconds(f.last);
    const auto interval = UsualInterval(f.newest);
    j.Raw("{").Field("table", true).Str(f.name);
    j.Field("rows").Int(f.rows);
    j.Field("first");
    f.first.empty() ? j.Null() : j.Str(Iso(f.first));
    j.Field("last");
    f.last.empty() ? j.Null() : j.Str(Iso(f.last));
    j.Field("lastT");
    lastT ? j.Int(*lastT) : j.Null();
    j.Field("interval");
    interval ? j.Int(*interval) : j.Null();
    j.Field("ageSeconds");
    lastT ? j.Int(nowT - *lastT) : j.Null();
    j.Field("stale").Raw(lastT && interval && nowT - *lastT > 3 * *interval ? "true" : "false");
    std::array<bool, kChannels> recent{};
    for (const Row& r : f.newest)
        for (std::size_t c = 0; c < kChannels; ++c)
            recent[c] = recent[c] || (r.values[c] && IsReading(*r.values[c]));
    j.Field("channels").Raw("[");
    bool first = true;
    for (int c = 0; c < kChannels; ++c)
        if (recent[static_cast<std::size_t>(c)]) {
            Channel(j, c, names, first);
            first = false;
        }
    j.Raw("]").Field("latest").Raw("{");
    first = true;
    if (!f.newest.empty())
        for (int c = 0; c < kChannels; ++c) {
            const auto& v = f.newest.front().values[static_cast<std::size_t>(c)];
            if (!v || !IsReading(*v)) continue;
            j.Field(Key(c), first).Num(*v);
            first = false;
        }
    j.Raw("}}");
}

}  // namespace

std::string EtagOf(std::uint64_t version) {
    return "\"v" + std::to_string(version) + "\"";
}

bool EtagMatches(std::string_view header, std::string_view etag) {
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t end = header.find(',', at);
        if (end == std::string_view::npos) end = header.size();
        std::string_view tag = header.substr(at, end - at);
        at = end + 1;
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) tag.remove_prefix(1);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) tag.remove_suffix(1);
        // If-None-Match compares weakly: W/"v1" names the same answer as "v1".
        if (tag.starts_with("W/")) tag.remove_prefix(2);
        if (tag == "*" || tag == etag) return true;
    }
    return false;
}

std::array<ChannelName, kChannels> ChannelNames(std::string_view text) {
    std::array<ChannelName, kChannels> names;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(")(", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view part = text.substr(start, end - start);
        start = end + 2;
        // pomT<n>;unit;name;name
        std::vector<std::string_view> f;
        for (std::size_t s = 0;;) {
            const auto semi = part.find(';', s);
            f.push_back(part.substr(s, semi == std::string_view::npos ? semi : semi - s));
            if (semi == std::string_view::npos) break;
            s = semi + 1;
        }
        if (f.size() < 3 || !f[0].starts_with("pomT")) continue;
        // Digits only: from_chars alone would take "pomT-1" as channel -1.
        const std::string_view n = f[0].substr(4);
        if (n.empty() || n.size() > 2 ||
            !std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        int ch = 0;
        std::from_chars(n.data(), n.data() + n.size(), ch);
        if (ch >= kChannels) continue;
        names[static_cast<std::size_t>(ch)] = {std::string(f[2]), std::string(f[1])};
    }
    return names;
}

std::optional<std::int64_t> ParseBound(std::string_view text, bool end) {
    std::string s(text);
    if (IsDay(s)) s += end ? " 23:59:59" : " 00:00:00";
    if (s.size() == 16) s += ":00";
    if (s.size() == 19 && s[10] == 'T') s[10] = ' ';
    return StampSeconds(s);
}

std::optional<std::array<bool, kChannels>> ParseChannels(std::string_view text) {
    std::array<bool, kChannels> out{};
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(',', at);
        if (end == std::string_view::npos) end = text.size();
        std::string item(text.substr(at, end - at));
        at = end + 1;
        for (char& c : item)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        int found = -1;
        for (int c = 0; c < kChannels; ++c)
            if (item == Key(c)) found = c;
        if (found < 0) return std::nullopt;
        out[static_cast<std::size_t>(found)] = true;
    }
    return out;
}

std::variant<TableQuery, std::string> ParseTableQuery(const Params& params) {
    TableQuery q;
    for (const auto& [name, end] : {std::pair{"from", false}, std::pair{"to", true}}) {
        const auto text = Param(params, name);
        if (!text) continue;
        const auto t = ParseBound(*text, end);
        if (!t)
            return std::string(name) +
                   ": zła data; podaje się ją jako RRRR-MM-DDTGG:MM:SS albo RRRR-MM-DD, "
                   "np. 2026-12-08T18:00:00";
        (end ? q.to : q.from) = t;
    }
    if (q.from && q.to && *q.from > *q.to) return std::string("from jest późniejsze niż to");
    if (const auto text = Param(params, "points")) {
        int n = -1;
        const auto r = std::from_chars(text->data(), text->data() + text->size(), n);
        if (text->size() > 6 || r.ec != std::errc() || r.ptr != text->data() + text->size() ||
            n < 0 || n > kMaxPoints)
            return "points: liczba całkowita od 0 do " + std::to_string(kMaxPoints) +
                   " (0: wszystkie odczyty)";
        q.points = n;
    }
    if (const auto text = Param(params, "channels")) {
        q.channels = ParseChannels(*text);
        if (!q.channels)
            return std::string(
                "channels: lista kanałów po przecinku, od sonda0 do sonda10, np. sonda0,sonda2");
    }
    return q;
}

ApiReply StationsReply(ReadingsView& view, std::string_view ifNoneMatch, std::int64_t nowT) {
    // The version is read first: a write landing during the reads below
    // changes it, so the next poll fetches again.
    const std::uint64_t version = view.Version();
    const std::string etag = EtagOf(version);
    if (EtagMatches(ifNoneMatch, etag)) return {304, "", etag};
    Json j;
    j.Raw("{").Field("version", true).Int(static_cast<std::int64_t>(version));
    j.Field("now").Str(IsoText(nowT));
    j.Field("stations").Raw("[");
    bool first = true;
    for (const std::string& name : view.TableNames()) {
        const auto facts = view.Facts(name);
        if (!facts) continue;
        if (!first) j.Raw(",");
        first = false;
        Station(j, *facts, nowT);
    }
    j.Raw("]}");
    return {200, j.Take(), etag};
}

ApiReply TableReply(ReadingsView& view, const std::string& name, const Params& params,
                    std::string_view ifNoneMatch) {
    const std::string etag = EtagOf(view.Version());
    if (EtagMatches(ifNoneMatch, etag)) return {304, "", etag};
    const auto parsed = ParseTableQuery(params);
    if (const auto* error = std::get_if<std::string>(&parsed)) return Error(400, *error);
    const TableQuery& q = std::get<TableQuery>(parsed);
    const auto table = IsTableName(name) ? view.FindTable(name) : std::nullopt;
    const auto facts = table ? view.Facts(*table) : std::nullopt;
    if (!facts) return Error(404, "nie ma tabeli o tej nazwie");

    const auto interval = UsualInterval(facts->newest);
    SeriesRequest req;
    req.table = facts->name;
    req.points = q.points;
    req.channels = q.channels ? *q.channels : facts->hasData;
    const auto firstT = StampSeconds(facts->first), lastT = StampSeconds(facts->last);
    const auto from = q.from ? q.from : firstT;
    const auto to = q.to ? q.to : lastT;
    req.from = from.value_or(0);
    req.to = to.value_or(-1);
    const Series s = from && to ? BuildSeries(view, *facts, interval, req) : Series{};

    const auto names = ChannelNames(facts->legendsText);
    Json j;
    j.Raw("{").Field("table", true).Str(facts->name);
    j.Field("from");
    from ? j.Str(IsoText(*from)) : j.Null();
    j.Field("to");
    to ? j.Str(IsoText(*to)) : j.Null();
    j.Field("fromT");
    from ? j.Int(*from) : j.Null();
    j.Field("toT");
    to ? j.Int(*to) : j.Null();
    j.Field("interval");
    interval ? j.Int(*interval) : j.Null();
    j.Field("points").Int(q.points);
    // Added to the agreed fields: the cell width the answer was read at (1: rows).
    j.Field("level").Int(s.level);
    j.Field("channels").Raw("[");
    bool first = true;
    for (int c = 0; c < kChannels; ++c)
        if (req.channels[static_cast<std::size_t>(c)]) {
            Channel(j, c, names, first);
            first = false;
        }
    j.Raw("]").Field("t").Raw("[");
    for (std::size_t i = 0; i < s.t.size(); ++i) {
        if (i) j.Raw(",");
        j.Int(s.t[i]);
    }
    j.Raw("]").Field("values").Raw("{");
    first = true;
    for (int c = 0; c < kChannels; ++c) {
        const auto k = static_cast<std::size_t>(c);
        if (!req.channels[k]) continue;
        j.Field(Key(c), first).Raw("[");
        first = false;
        // A range with no rows has no value slots at all: every t is null.
        const auto& v = s.values[k];
        for (std::size_t i = 0; i < s.t.size(); ++i) {
            if (i) j.Raw(",");
            i < v.size() && !std::isnan(v[i]) ? j.Num(v[i]) : j.Null();
        }
        j.Raw("]");
    }
    j.Raw("}").Field("stats").Raw("{");
    first = true;
    for (int c = 0; c < kChannels; ++c) {
        const Aggregate& a = s.stats[static_cast<std::size_t>(c)];
        if (!req.channels[static_cast<std::size_t>(c)] || a.count == 0) continue;
        j.Field(Key(c), first).Raw("{").Field("min", true).Num(a.min);
        first = false;
        j.Field("minTime").Str(IsoText(a.minT));
        j.Field("max").Num(a.max).Field("maxTime").Str(IsoText(a.maxT));
        j.Field("mean").Num(a.sum / static_cast<double>(a.count));
        j.Field("count").Int(a.count).Raw("}");
    }
    j.Raw("}").Field("gaps").Raw("[");
    for (std::size_t i = 0; i < s.gaps.size(); ++i) {
        if (i) j.Raw(",");
        j.Raw("[").Int(s.gaps[i].first).Raw(",").Int(s.gaps[i].second).Raw("]");
    }
    j.Raw("]").Field("days").Raw("[");
    std::int64_t present = 0, expected = 0;
    for (std::size_t i = 0; i < s.days.size(); ++i) {
        const DayShare& d = s.days[i];
        present += d.present;
        expected += d.expected;
        if (i) j.Raw(",");
        j.Raw("{").Field("day", true).Str(IsoText(d.day).substr(0, 10));
        j.Field("expected").Int(d.expected).Field("present").Int(d.present);
        j.Field("share").Num(Share(d.present, d.expected)).Raw("}");
    }
    j.Raw("]").Field("completeness");
    expected > 0 ? j.Num(Share(present, expected)) : j.Null();
    j.Raw("}");
    return {200, j.Take(), etag};
}

std::string CsvOf(ReadingsView& view, const std::string& table, const std::string& from,
                  const std::string& to, const std::array<bool, kChannels>& channels) {
    std::string out = "Data";
    for (int i = 0; i < kChannels; ++i)
        if (channels[static_cast<std::size_t>(i)]) out += ",Sonda" + std::to_string(i);
    out += "\r\n";
    view.EachRow(table, from, to, [&](const Row& r) {
        // Our stamps are plain; a table filled by something else may not be.
        if (r.stamp.find_first_of(",\"\r\n") == std::string::npos) {
            out += r.stamp;
        } else {
            out += '"';
            for (char c : r.stamp) out += c == '"' ? std::string("\"\"") : std::string(1, c);
            out += '"';
        }
        for (std::size_t i = 0; i < kChannels; ++i) {
            if (!channels[i]) continue;
            out += ',';
            if (const auto& v = r.values[i]) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.15g", *v);
                out += buf;
            }
        }
        out += "\r\n";
    });
    return out;
}

}  // namespace pom::recorder
