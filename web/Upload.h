#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pom {

// One upload job: what is posted, and where. Each text is cut to its first
// 255 characters. A value slot holding "-999" anywhere is empty and not posted.
struct UploadRecord {
    static constexpr std::size_t kValues = 11;
    std::string Table;    // posted as "Miasto"
    std::string Address;  // the script the job is posted to
    std::string Stamp;    // posted as "Data": the reading's time, or the legends text
    std::array<std::string, kValues> Values;  // posted as Sonda0 .. Sonda10

    // Cuts every text to 255 characters.
    void Clip();
};

// Splits a text into fields at `separator`: characters 1 to 32 around fields
// are skipped and also separate fields; a field starting with a double quote
// runs to its closing quote (two quotes inside stand for one); two separators
// in a row give an empty field, and so does a separator at the very end.
std::vector<std::string> SplitFields(std::string_view text, char separator);

// A history of items as delimited text: items joined by ","; an item with a
// blank, a control character, a double quote or a comma is quoted with inner
// quotes doubled; a history of one empty item is written as "".
std::string JoinDelimited(const std::vector<std::string>& items);

// The reading job of a queue entry ("2023-01-05 07:04:09 21.5; -888; "):
// "Data" is the first two fields joined by a blank, the values follow in
// slots 0 to 10, the rest "-999.0". Nothing when the entry has fewer than two
// fields. `extra` receives how many values did not fit the eleven slots.
std::optional<UploadRecord> BuildReadingRecord(std::string_view entry, const std::string& table,
                                               const std::string& address, int* extra = nullptr);

// The legends job: table + "opisy", the address's first ".php" made
// "opisy.php", the text as "Data", no value fields.
UploadRecord BuildLegendsRecord(const std::string& text, const std::string& table,
                                const std::string& address);

// The script's reply words: 0 stored, 1 already there, 2 table created and
// stored, -1 anything else (and "Problem ze wstawieniem opisów").
int ClassifyReply(std::string_view reply);

// How much of a reply an error report shows: weeks of retries against a
// server that answers with a large error page must not fill the memory.
inline constexpr std::size_t kReplyShown = 300;
inline constexpr std::size_t kReportMax = 1000;

// The reply as an error report shows it: whole when short, else its first
// kReplyShown bytes followed by its size.
std::string ShortenReply(std::string_view reply);

// The report line (without its stamp) for a reply code; `response` is what
// an error report shows after "http Error: " (cut to kReportMax bytes).
std::string ReportText(int code, const UploadRecord& job, const std::string& response);

// True when a report line says the job was accepted.
bool IsSuccessReport(std::string_view line);

}  // namespace pom
