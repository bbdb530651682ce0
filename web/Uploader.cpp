#include "web/Uploader.h"

#include <algorithm>
#include <climits>
#include <exception>

#include "util/Cp1250.h"

namespace pom {

void Uploader::Log(const std::string& text) {
    host_.AppendWeb(host_.Stamp() + text);
}

void Uploader::FlushQueue(bool now) {
    try {
        if (now)
            queue_.Flush();
        else
            queue_.FlushIfDue();
    } catch (const std::exception& e) {
        Log(Cp("nie można zapisać kolejki: ") + e.what());
    }
}

std::size_t Uploader::Append(const std::string& entry) {
    queue_.Append(entry);
    return queue_.Size();
}

int Uploader::EffectiveInterval() const {
    return backingOff_ ? std::max(wanted_, kBackOffMs) : std::max(wanted_, 0);
}

void Uploader::ApplyTimer() {
    const int ms = EffectiveInterval();
    // A 0 ms timer would spin: it stays stopped until an interval is set.
    if (ms > 0) host_.SetUploadTimerInterval(ms);
    host_.SetUploadTimerEnabled(enabled_ && ms > 0);
}

void Uploader::SetTimerEnabled(bool on) {
    enabled_ = on;
    ApplyTimer();
}

void Uploader::SetUploadInterval(int ms) {
    wanted_ = ms;
    ApplyTimer();
}

void Uploader::Timer4WWWTimer() {
    host_.PeriodicSave();
    FlushQueue(false);
    if (queue_.Empty() || !host_.UploadChecked()) return;
    host_.SetUploadTimerEnabled(false);
    const std::string entry = queue_.Front();
    Log("z kolejki[1/" + std::to_string(queue_.Size()) + "]: " + entry);
    SendQueueHead(entry);
    const std::size_t n = queue_.Size();
    if (n < 5) {
        const long long ms = static_cast<long long>(host_.MeasureInterval()) * 333;
        wanted_ = static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
    } else if (n > 5) {
        wanted_ = 10000;
    }
    enabled_ = true;
    ApplyTimer();
}

void Uploader::SendQueueHead(const std::string& entry) {
    int extra = 0;
    const std::optional<UploadRecord> record =
        BuildReadingRecord(entry, host_.UploadTable(), host_.UploadAddress(), &extra);
    if (!record) {
        // It could never be sent and would block every entry behind it.
        Log(Cp("pominięty wpis kolejki (mniej niż dwa pola): ") + entry);
        queue_.PopFront();
        FlushQueue(false);
        return;
    }
    Log("dane do: " + record->Table);
    if (extra > 0) Log(Cp("wartości ponad 11 pominięte: ") + std::to_string(extra));
    Log(Cp("wyśle do: ") + host_.UploadAddress());
    if (!sender_.HandOver(*record, WWyslac::Kind::Reading)) Log("Error: not suspend");
}

void Uploader::SendLegends(const std::string& text) {
    const UploadRecord record =
        BuildLegendsRecord(text, host_.UploadTable(), host_.UploadAddress());
    Log("dane do: " + record.Table);
    Log(Cp("wyśle do: ") + record.Address);
    if (!sender_.HandOver(record, WWyslac::Kind::Legends)) Log("Error: not suspend");
}

void Uploader::onMeldunek(const std::string& line, bool success, WWyslac::Kind kind) {
    // The back-off holds until a post succeeds; a legends post that
    // succeeds shows the server is back as well.
    backingOff_ = !success;
    ApplyTimer();
    try {
        host_.AppendWeb(line);
    } catch (const std::exception&) {
        return;
    }
    // A legends job removes no reading and is no reading sent.
    if (success && IsSuccessReport(line) && kind == WWyslac::Kind::Reading) {
        lastSent_ = sender_.LastSent();
        host_.SetStatusText(Cp("ostatni wysłany: ") + lastSent_);
        try {
            host_.StoreLastSent(lastSent_);
        } catch (const std::exception& e) {
            Log(e.what());
        }
        if (!queue_.Empty()) {
            queue_.PopFront();
            FlushQueue(false);
        }
    }
    if (line.find("Error") != std::string::npos) host_.SetStatusText("Wait...");
}

void Uploader::cbPOSTClick(bool checked) {
    if (checked) SetTimerEnabled(true);
}

}  // namespace pom
