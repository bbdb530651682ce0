#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/recorder/RecorderSeries.h"

// The JSON answers of /api/stations and /api/table/NAME, made from a
// ReadingsView without a server, and the CSV of chosen channels.
namespace pom::recorder {

inline constexpr int kMaxPoints = 10000;

// What the server sends: status 304 has no body; etag empty on errors.
struct ApiReply {
    int status = 200;
    std::string body;
    std::string etag;
};

// A request's query parameters, as the HTTP library hands them over.
using Params = std::multimap<std::string, std::string>;

std::string EtagOf(std::uint64_t version);
// True when an If-None-Match header names the tag (or is "*").
bool EtagMatches(std::string_view ifNoneMatch, std::string_view etag);

// A channel's name and unit from a legends text such as
// "pomT0;°C;Tz;Tz)(pomT1;V;U1;U1": unit then name; empty where it names none.
struct ChannelName {
    std::string name;
    std::string unit;
};
std::array<ChannelName, kChannels> ChannelNames(std::string_view legendsText);

// "2026-12-08T18:00:00", the same with a space or without seconds, or a day
// ("2026-12-08": its first second as a start, its last as an end).
std::optional<std::int64_t> ParseBound(std::string_view text, bool end);
// "sonda0,sonda3": the channels named; nullopt when any item is not a key.
std::optional<std::array<bool, kChannels>> ParseChannels(std::string_view text);

struct TableQuery {
    std::optional<std::int64_t> from, to;
    int points = 0;
    std::optional<std::array<bool, kChannels>> channels;
};
// The error is a Polish sentence for the client.
std::variant<TableQuery, std::string> ParseTableQuery(const Params& params);

// nowT: the local wall-clock time as StampSeconds counts it.
ApiReply StationsReply(ReadingsView& view, std::string_view ifNoneMatch, std::int64_t nowT);
ApiReply TableReply(ReadingsView& view, const std::string& name, const Params& params,
                    std::string_view ifNoneMatch);

// "Data" and the chosen channels' columns of the rows with from <= Data <= to
// (stamps), CRLF lines.
std::string CsvOf(ReadingsView& view, const std::string& table, const std::string& from,
                  const std::string& to, const std::array<bool, kChannels>& channels);

}  // namespace pom::recorder
