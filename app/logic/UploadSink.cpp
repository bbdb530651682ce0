#include "app/logic/UploadSink.h"

#include <algorithm>
#include <exception>

#include "util/Cp1250.h"

namespace pom {

void UploadSink::Queue(std::string text) {
    try {
        if (!host_.UploadChecked() || text == "brak") return;
        std::replace(text.begin(), text.end(), ',', '.');
        const std::size_t position = host_.AppendToUploadQueue(text);
        host_.AppendWeb(host_.Stamp() + "dopisuje do kolejki[" + std::to_string(position) +
                        "]: " + text);
        host_.SetUploadInterval(5000);
    } catch (const std::exception& e) {
        // The record waits in memory and reaches the file with the next write
        // that succeeds; until then the station keeps its readings (the window
        // says so on the "POST" page once).
        host_.SetStatusText("Error 160329 " + Cp("kolejka tylko w pamięci: ") + e.what());
    }
}

}  // namespace pom
