#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// What a post may carry, checked before anything reaches the database.
namespace pom::recorder {

inline constexpr std::size_t kMaxBodyBytes = 64 * 1024;
inline constexpr std::size_t kMaxFields = 16;  // 14 are ever needed
inline constexpr std::size_t kMaxTableName = 64;
inline constexpr std::size_t kMaxLegendsBytes = 4096;
inline constexpr std::size_t kMaxNumberChars = 32;
inline constexpr int kChannels = 11;  // Sonda0..Sonda10

// The reply words the uploader looks for.
inline constexpr std::string_view kReplyStored = "Result=Ok\n";
inline constexpr std::string_view kReplyCreated = "UtworzonoBrakujacaTabele ok\nResult=Ok\n";
inline constexpr std::string_view kReplyExists = "istnieje=Ok\n";
inline constexpr std::string_view kLegendsProblem = "Problem ze wstawieniem opisów";

struct Field {
    std::string name;
    std::string value;
};

using Values = std::array<std::optional<double>, kChannels>;

struct Reading {
    std::string table;
    std::string stamp;  // YYYY-MM-DD HH:MM:SS
    Values values;
};

struct Legends {
    std::string table;  // the readings table they name, without "opisy"
    std::string text;
};

// Why a request is refused: the HTTP status and a reason that never quotes
// what the client sent (a quoted "Result=Ok" would read as success).
struct Refusal {
    int status = 400;
    std::string reason;
};

// [A-Za-z0-9_]{1,64}, and not one of SQLite's own "sqlite_" names.
bool IsTableName(std::string_view name);
// YYYY-MM-DD HH:MM:SS naming a real calendar day and time.
bool IsStamp(std::string_view text);
// YYYY-MM-DD naming a real calendar day.
bool IsDay(std::string_view text);
// The day after / before a valid day.
std::string NextDay(std::string_view day);
std::string PreviousDay(std::string_view day);
// A finite decimal number: [+-]digits[.digits][e[+-]digits], "." as point.
std::optional<double> ParseNumber(std::string_view text);
bool IsUtf8(std::string_view text);
// Compares in time that does not depend on where the texts differ.
bool KeyMatches(std::string_view expected, std::string_view given);

// "a=1&b=%C5%82" as sent by a URL-encoded form; nullopt when malformed.
std::optional<std::vector<Field>> ParseUrlEncoded(std::string_view body);

// key: the shared secret, empty when none is required.
std::variant<Reading, Refusal> CheckReading(const std::vector<Field>& fields, std::string_view key);
std::variant<Legends, Refusal> CheckLegends(const std::vector<Field>& fields, std::string_view key);

}  // namespace pom::recorder
