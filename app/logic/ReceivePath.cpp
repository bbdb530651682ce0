#include "app/logic/ReceivePath.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>

#include "app/logic/StationParse.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

constexpr std::string_view kNoStation = "\\Ardu";
constexpr std::string_view kIdentify = "i\r\n";
constexpr std::size_t kMaxCommand = 255;

// The UTF-8 degree sign (C2 B0) becomes the Windows-1250 one (B0); with
// `beforeC` only where a "C" follows, as in "°C".
void FoldDegreeSign(std::string& s, bool beforeC) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xB0' &&
            (!beforeC || (i + 2 < s.size() && s[i + 2] == 'C'))) {
            continue;  // drop the lead byte, keep B0
        }
        s[out++] = s[i];
    }
    s.resize(out);
}

// The text after the first occurrence of `sep` in the line (empty if none).
std::string_view After(std::string_view line, std::string_view sep) {
    const std::size_t p = line.find(sep);
    if (p == std::string_view::npos) return {};
    return line.substr(p + sep.size());
}

bool Contains(std::string_view line, std::string_view what) {
    return line.find(what) != std::string_view::npos;
}

}  // namespace

std::int64_t ReceiveHost::SteadyMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int CatchUpRule::IntervalAfterRequest(int pending, int measureInterval) {
    // A station never measures faster than once a second; an interval below
    // that (a bad reply) must not stop the read-out.
    const long long half = static_cast<long long>(std::max(measureInterval, 1)) * 500;
    const long long ms = pending < kBacklog ? half : std::min<long long>(half, kBacklogMs);
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

int CatchUpRule::Restart(std::int64_t now, int ms) {
    interval_ = ms;
    due_ = now + ms;
    return ms;
}

int CatchUpRule::AfterRequest(std::int64_t now, int pending, int measureInterval) {
    const int ms = IntervalAfterRequest(pending, measureInterval);
    // The timer has just ticked: the same interval goes on as it is.
    return ms == interval_ ? 0 : Restart(now, ms);
}

int CatchUpRule::Announced(std::int64_t now, int measureInterval) {
    // Before the station's next reading, so a full buffer loses none.
    const int soon = std::min(kAnnouncementMs, IntervalAfterRequest(1, measureInterval));
    if (interval_ > 0 && due_ && *due_ - now <= soon) return 0;
    if (interval_ > 0 && !due_ && interval_ <= soon) return 0;
    return Restart(now, soon);
}

ReceivePath::ReceivePath(ReceiveHost& host) : host_(host) {}

void ReceivePath::Log(std::string_view text) {
    std::string line = host_.Stamp();
    line.append(text);
    host_.AppendLog(std::move(line));
}

// A text that may hold line ends shows as several log lines, the way the
// memo shows it; the stamp goes before the first one only.
void ReceivePath::LogText(std::string_view text) {
    std::string stamped = host_.Stamp();
    stamped.append(text);
    std::string_view rest = stamped;
    while (true) {
        const std::size_t p = rest.find_first_of("\r\n");
        if (p == std::string_view::npos) {
            host_.AppendLog(std::string(rest));
            return;
        }
        host_.AppendLog(std::string(rest.substr(0, p)));
        const std::size_t skip =
            (rest[p] == '\r' && p + 1 < rest.size() && rest[p + 1] == '\n') ? 2 : 1;
        rest.remove_prefix(p + skip);
    }
}

void ReceivePath::SerialPort1RxClusterEvent() {
    if (rxBusy_) {
        // The chunk of this event stays queued in the port; a later handled
        // event takes it.
        ++rxOwed_;
        if (++rxSkipped_ > kMaxSkipped) {
            Log("ERROR 160420 linia: linia 244");
            rxBusy_ = false;
        }
        return;
    }
    rxBusy_ = true;
    rxSkipped_ = 0;
    try {
        HandleOneCluster();
        // Chunks left queued by skipped events are taken now, in order, so
        // that the receive path does not lag behind the port for good.
        while (rxOwed_ > 0) {
            std::string bytes;
            int count = -1, error = -1;
            host_.ReadNextCluster(bytes, count, error);
            if (count < 0 && error == -1) {
                rxOwed_ = 0;
                break;
            }
            --rxOwed_;
            if (error != 0) {
                Log("problem 160424 ccer:" + std::to_string(error));
                continue;
            }
            ProcessChunk(bytes.data(), count);
        }
        rxBusy_ = false;
    } catch (const std::exception& e) {
        // A failed handler leaves rxBusy set: the following events are
        // skipped and counted, and the path resumes after the "linia 244"
        // line. Nothing may escape into the event loop; the reason goes to
        // the log so the failure is not silent.
        LogFailure(e.what());
    } catch (...) {
        LogFailure("?");
    }
}

void ReceivePath::LogFailure(const char* what) noexcept {
    try {
        LogText(std::string("ERROR 160420 linia: ") + what);
    } catch (...) {
        // Logging itself failed (out of memory); the busy flag still
        // recovers as usual.
    }
}

void ReceivePath::HandleOneCluster() {
    std::string bytes;
    int count = -1, error = -1;
    host_.ReadNextCluster(bytes, count, error);
    if (error != 0) {
        Log("problem 160424 ccer:" + std::to_string(error));
        return;
    }
    ProcessChunk(bytes.data(), count);
}

void ReceivePath::ProcessChunk(const char* bytes, int count) {
    if (!rxLeft_.empty()) {
        // Bytes left by a failed handler go first, this chunk after them.
        std::string all = std::move(rxLeft_);
        rxLeft_.clear();
        if (count > 0 && bytes != nullptr) all.append(bytes, static_cast<std::size_t>(count));
        FeedBytes(all.data(), all.size());
        return;
    }
    if (count <= 0 || bytes == nullptr) return;
    FeedBytes(bytes, static_cast<std::size_t>(count));
}

void ReceivePath::FeedBytes(const char* bytes, std::size_t count) {
    const char* p = bytes;
    const char* const end = bytes + count;
    try {
        while (p < end) {
            const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            const char* segEnd = lf ? static_cast<const char*>(lf) : end;
            // Append the segment without its CRs, cutting a run that grows
            // past the line limit.
            const char* q = p;
            while (q < segEnd) {
                const void* cr = std::memchr(q, '\r', static_cast<std::size_t>(segEnd - q));
                const char* runEnd = cr ? static_cast<const char*>(cr) : segEnd;
                while (q < runEnd) {
                    if (rxLine_.size() >= kMaxLine) {
                        p = q;  // what is left starts here if the handler fails
                        std::string line = std::move(rxLine_);
                        rxLine_.clear();
                        Log(Cp("ERROR 160420 linia: za długa linia (ponad 65536 bajtów)"));
                        ProcessLine(std::move(line));
                    }
                    const std::size_t room = kMaxLine - rxLine_.size();
                    const std::size_t n = std::min(room, static_cast<std::size_t>(runEnd - q));
                    rxLine_.append(q, n);
                    q += n;
                }
                if (cr) ++q;
            }
            p = segEnd;
            if (lf) {
                ++p;  // past the LF: the line is taken even if its handler fails
                std::string line = std::move(rxLine_);
                rxLine_.clear();
                ProcessLine(std::move(line));
            }
        }
    } catch (...) {
        // Keep the bytes not yet looked at for the next chunk.
        rxLeft_.assign(p, end);
        throw;
    }
}

void ReceivePath::ProcessLine(std::string line) {
    FoldDegreeSign(line, true);
    Log(line);
    if (!CheckBanner(line) && lastCommand_ != kIdentify) {
        lastCommand_ = kIdentify;
        host_.SendString(lastCommand_);
    }
    ParseLabels(line);
    ParseCalibration(line);
    ParseAltitude(line);
    ParseTemperature(line);
    ParseInterval(line);
    pendingRecords_ = DispatchMeasurement(line);
    ParseAvgCount(line);
}

bool ReceivePath::CheckBanner(const std::string& line) {
    if (host_.StationFolder() != kNoStation) {
        if (greetingExpected_ && Contains(line, "Borsk")) {
            greetingExpected_ = false;
            const std::string kind = Contains(line, "BME280") ? "BME280" : "DS3231";
            if (host_.StationFolder() != "\\ardu\\" + kind) {
                stationKind_ = kind;
                host_.SetBarometerPanelVisible(kind == "BME280");
                host_.ReattachStation(kind);
            }
        }
        return true;
    }
    if (!Contains(line, "Borsk")) return false;
    stationKind_ = "DS3231";
    bool barometer = false;
    if (Contains(line, "BME280")) {
        stationKind_ = "BME280";
        barometer = true;
    }
    host_.SetBarometerPanelVisible(barometer);
    host_.AttachStation(stationKind_);
    return true;
}

int ReceivePath::DispatchMeasurement(const std::string& line) {
    const std::string_view l = line;
    int r = 0;
    if (l.starts_with("O:")) r = host_.BarometerMessage(line);
    if (l.starts_with("I: ")) host_.SensorInformation(line);
    if (!l.starts_with("A:") && !l.starts_with("R:")) return r;
    if (host_.ValueCount() < 0) {
        // Without the value count the line cannot be read: ask the station
        // what it measures; the reading itself comes again with "R".
        SendCommand("I");
        stationKind_ = "DS3231";
        host_.AttachStation(stationKind_);
        return r;
    }
    const int waiting = host_.Reading(line);
    if (l.starts_with("A:")) {
        // A new reading is stored: read it out soon, but never later than
        // already planned (readings faster than 5 s would otherwise hold the
        // read-out off for good).
        if (const int ms = catchUp_.Announced(host_.SteadyMs(), values_.measureInterval))
            host_.SetCatchUpInterval(ms);
    }
    return waiting;
}

bool ReceivePath::ParseLabels(const std::string& line) {
    if (!Contains(line, "labels:")) return false;
    std::string s = line;
    FoldDegreeSign(s, false);
    const std::size_t colon = s.find(':');
    std::string rest = colon == std::string::npos ? std::string() : s.substr(colon + 1);
    for (int k = 1; k <= 4; ++k) {
        const std::size_t semi = rest.find(';');
        // 1-based position of the ";", or 255 when there is none.
        const std::size_t p = semi == std::string::npos ? 255 : semi + 1;
        host_.SetChannelCaption(k, rest.substr(0, p - 1));
        rest.erase(0, std::min(p, rest.size()));
    }
    return true;
}

bool ReceivePath::ParseCalibration(const std::string& line) {
    if (!Contains(line, "wspolczynnik kalibracyjny, dodaj:")) return false;
    values_.calibrationCoef = ParseDecimal(After(line, ":")).value_or(0.0);
    return true;
}

bool ReceivePath::ParseAltitude(const std::string& line) {
    if (!Contains(line, "wysokosc n.p.m. [m]:")) return false;
    const std::string_view text = After(line, "]:");
    if (host_.RestoreDecimalSeparator()) Log("DecimalSeparator<>.");
    values_.altitude = ParseDecimal(text).value_or(-99.0);
    if (!(values_.altitude > 0)) {
        Log("wysoNPM:" + FormatGeneral15(values_.altitude));
        Log(text);
    }
    return true;
}

bool ReceivePath::ParseTemperature(const std::string& line) {
    if (!Contains(line, "temperatura [")) return false;  // spares the copy for most lines
    std::string s = line;
    FoldDegreeSign(s, false);
    if (!Contains(s, Cp("temperatura [°C]:"))) return false;
    values_.meanTemperature = ParseDecimal(After(s, ":")).value_or(18.0);
    return true;
}

bool ReceivePath::ParseInterval(const std::string& line) {
    if (!Contains(line, " co ile sekund T:")) return false;
    values_.measureInterval = ParseInteger(After(line, ":")).value_or(10);
    return true;
}

bool ReceivePath::ParseAvgCount(const std::string& line) {
    if (!Contains(line, " ile do sredniej:")) return false;
    values_.stationAvgCount = ParseInteger(After(line, ":")).value_or(10);
    return true;
}

void ReceivePath::TimerCzytajZalegleTimer() {
    const std::int64_t now = host_.SteadyMs();
    catchUp_.Ticked(now);
    if (pendingRecords_ <= 0) return;
    // While released readings could not be kept, the station keeps them; the
    // timer goes on ticking and the read-out resumes by itself.
    if (!host_.MayReleaseReadings()) return;
    SendCommand("R");
    if (const int ms = catchUp_.AfterRequest(now, pendingRecords_, values_.measureInterval))
        host_.SetCatchUpInterval(ms);
}

void ReceivePath::SerialPort1WriteDone() {
    LogText("send command: " + lastCommand_ + "<");
}

void ReceivePath::SetLastCommand(std::string_view command) {
    lastCommand_.assign(command.substr(0, kMaxCommand));
}

void ReceivePath::SendCommand(std::string_view command) {
    SetLastCommand(command);
    host_.SendString(lastCommand_ + "\r\n");
}

}  // namespace pom
