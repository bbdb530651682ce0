// Feeds arbitrary bytes through the receive path in chunks of varying size.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>

#include "app/logic/ReceivePath.h"
#include "app/logic/StationParse.h"
#include "util/Clock.h"
#include "tests/support/FakeReadingsHost.h"

namespace {

class FuzzHost final : public pom::ReceiveHost {
public:
    std::string folder = "\\Ardu";
    pom::ReceivePath* path = nullptr;
    pom::test::FakeReadingsHost readingsHost;
    std::unique_ptr<pom::Readings> readings;
    std::deque<std::string> queue;
    std::size_t logged = 0;
    std::size_t sent = 0;

    std::string Stamp() override { return "2023-05-01 12:00:00 "; }
    void AppendLog(std::string line) override {
        // The log holds lines: no line end may reach it.
        if (line.find_first_of("\r\n") != std::string::npos) std::abort();
        logged += line.size();
    }
    void SendString(const std::string& text) override { sent += text.size(); }
    void ReadNextCluster(std::string& bytes, int& count, int& error) override {
        if (queue.empty()) {
            bytes.clear();
            count = -1;
            error = -1;
            return;
        }
        bytes = std::move(queue.front());
        queue.pop_front();
        count = static_cast<int>(bytes.size());
        error = 0;
    }
    std::string StationFolder() const override { return folder; }
    int ValueCount() const override { return readingsHost.valueCount; }
    void AttachStation(const std::string& kind) override { folder = "\\ardu\\" + kind; }
    void SetBarometerPanelVisible(bool) override {}
    void SetChannelCaption(int k, const std::string& caption) override {
        if (k < 1 || k > 4 || caption.size() > 254) std::abort();
    }
    void SetCatchUpInterval(int ms) override {
        if (ms < 0) std::abort();
    }
    int BarometerMessage(const std::string& line) override {
        return readings->BarometerMessage(line);
    }
    void SensorInformation(const std::string& line) override { readings->SensorInformation(line); }
    int Reading(const std::string& line) override { return readings->Reading(line); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    FuzzHost host;
    pom::ReceivePath rp(host);
    host.readings = std::make_unique<pom::Readings>(host.readingsHost, rp.Values());
    // The first byte picks the chunk sizes and whether a station is attached.
    const unsigned control = data[0];
    if (control & 0x80) host.folder = "\\ardu\\DS3231";
    const std::size_t step = 1 + (control & 0x3F);
    const char* p = reinterpret_cast<const char*>(data + 1);
    std::size_t left = size - 1;
    std::size_t i = 0;
    while (left > 0) {
        const std::size_t n = std::min(left, step + (i++ % 3) * 7);
        if (control & 0x40) {
            host.queue.emplace_back(p, n);
            rp.SerialPort1RxClusterEvent();
        } else {
            rp.ProcessChunk(p, static_cast<int>(n));
        }
        rp.TimerCzytajZalegleTimer();
        p += n;
        left -= n;
    }
    rp.SerialPort1WriteDone();
    if (rp.RxLine().size() > pom::ReceivePath::kMaxLine) std::abort();
    // An upload record is one line of the unsent-records file: a stamp and
    // numbers, never a line end or a station's text.
    for (const std::string& e : host.readingsHost.queue)
        if (e.size() < 20 || e.find_first_of("\r\n") != std::string::npos) std::abort();
    // The helpers on the whole input as one text.
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    (void)pom::ParseDecimal(all);
    (void)pom::ParseInteger(all);
    (void)pom::W4rCount(all);
    (void)pom::ExtractNumber(3, all);
    (void)pom::ParseDateTime(all);
    return 0;
}
