#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Clock.h"

namespace pom {

class ReceivePath;

// What the station's commands need from the window: the input dialogs, the
// memo of the "MAC" page, its seconds field, the status bar and the pages.
// Texts are Windows-1250.
class CommandsHost {
public:
    virtual ~CommandsHost() = default;
    // A one-line input dialog; nothing when cancelled.
    virtual std::optional<std::string> InputQuery(const std::string& caption,
                                                  const std::string& prompt,
                                                  const std::string& value) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
    // The whole text of meMAC, lines separated by CR LF.
    virtual std::string MacText() const = 0;
    virtual void SetMacText(const std::string& text) = 0;
    // The text of edSekund.
    virtual std::string SecondsCorrection() const = 0;
    // The status bar's simple text.
    virtual void SetStatusText(const std::string& text) = 0;
    // Makes "Dane TXT" the active page, where the reply shows.
    virtual void ShowDataPage() = 0;
    virtual LocalDateTime Now() const = 0;
};

// The longest command the station is sent: lastCommand keeps no more, so a
// longer one would lose its closing command letter.
inline constexpr std::size_t kMaxCommandLength = 255;

// An integer setting typed by the user: a decimal number rounded to the
// nearest integer (halves to even), values below 1 become 1 and values
// beyond the integer range its largest value. Nothing when not a number.
std::optional<int> ParseCountInput(std::string_view text);
// A decimal number typed by the user ("." as the decimal point).
std::optional<double> ParseNumberInput(std::string_view text);
// The lines of a memo's text, as the memo counts them: a line end at the
// very end starts no further line; an empty text has no lines.
std::vector<std::string> MemoLines(std::string_view text);
// The station's command list shown by "jakie polecenia ?" (CR LF between lines).
std::string CommandHelpText();

// The commands the user sends to the station, from the "Ustaw" menu and the
// "MAC" page. Every command goes out through the receive path, which keeps it
// as lastCommand and appends CR LF. Main thread only.
class StationCommands {
public:
    StationCommands(ReceivePath& path, CommandsHost& host) : path_(path), host_(host) {}

    void mInfoClick();
    void mReadClick();
    void mCzyscClick();
    void mDeltaTClick();
    void mIledoredniejClick();
    void mWspCalClick();
    void mPoziomHClick();
    void mPoziomLClick();
    void butSetDateClick();
    void butGodzinaUstawClick();
    void butMAC2arduinoClick();
    void butWyslijPolecenClick();
    void butHelpClick();

private:
    void SendAndShow(std::string_view command);
    std::optional<int> AskCount(const char* prompt, int current);
    // Asks for a number and gives the command: the number with `decimals`
    // decimals, then `letter`. A number too long for a command is refused
    // with a message and asked for again; nothing when cancelled or not a
    // number. `store` receives the number before it is sent.
    std::optional<std::string> AskNumberCommand(const char* caption, const char* prompt,
                                                const std::string& value, int decimals, char letter,
                                                double* store = nullptr);

    ReceivePath& path_;
    CommandsHost& host_;
};

}  // namespace pom
