#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/logic/ChartRebuild.h"
#include "serial/CancellableDispatcher.h"
#include "util/Clock.h"

namespace pom {

class DataLog;
class Readings;

// How a file below the data folder stands to the date mask of the saves.
enum class DataFileKind {
    Other,    // not a save of this program (another name, "niewyslane.txt")
    BadDate,  // named like a save, but its date cannot be one
    Dated,
};

struct DataFileMatch {
    DataFileKind kind = DataFileKind::Other;
    // The latest moment the name allows: fields the name does not hold (a
    // mask without seconds, a day cut off with the extension) are at their
    // highest, so a file is never passed over for a date it may hold.
    LocalDateTime latest;
};

// Reads a file's name back through the date mask the saves form it with
// (the same quoted "Ardu" in front of a mask without quotes, "_" for ":", the
// extension ".txt" in place of the last dot). `name` is the path below the
// data folder as text, "/" between folders.
DataFileMatch MatchDataFileName(std::string_view mask, std::string_view name);

struct RebuildFile {
    std::string path;  // file-system path
    std::string name;  // below the data folder, as text
    LocalDateTime latest;
    std::uintmax_t size = 0;
};

struct RebuildFileList {
    std::vector<RebuildFile> files;       // in time order
    std::vector<std::string> complaints;  // without stamp
};

// The station's saves in `folder` that may hold lines of `from`
// ("YYYY-MM-DD") or later, oldest first. Files named like saves with a date
// that cannot be are left out with a complaint; other files silently.
RebuildFileList ListRebuildFiles(const std::string& folder, std::string_view mask,
                                 std::string_view from);

// "odśwież Rys" from a date: the chart is rebuilt from the station's dated
// files from that date on and then from the lines still in memory, with the
// same filter and plotting as the rebuild from memory alone. The files are
// read and sorted on a worker thread; the lines that take part go to the main
// thread in batches, so the window keeps answering, and the status bar shows
// how far it got. The port is held meanwhile and let go at the end, so the
// lines received meanwhile are plotted after the rebuilt ones.
//
// Start, Cancel and the destructor are for the main thread only.
class ChartFileRebuild {
public:
    ChartFileRebuild(ChartRebuildHost& host, Readings& readings, CancellableDispatcher& main);
    ~ChartFileRebuild();
    ChartFileRebuild(const ChartFileRebuild&) = delete;
    ChartFileRebuild& operator=(const ChartFileRebuild&) = delete;

    // `folder` is the station's data folder (empty while no station is
    // attached: the memory alone), `mask` the date mask of its file names.
    // A rebuild already running is given up and this one starts from scratch
    // (the date may have changed). A click taken while a batch is being
    // plotted (a message box's event loop) is ignored.
    void Start(const std::string& folder, const std::string& mask, const DataLog& log);
    // Stops the worker and waits for it; the port is let go.
    void Cancel();
    bool Running() const { return running_; }

private:
    struct Job {
        std::string folder, mask, from;
        std::vector<std::string> memory;
    };

    void Run(const Job& job);
    void Read(const Job& job, RebuildScanner& scanner);
    void Hand(RebuildBatch&& batch);

    ChartRebuildHost& host_;
    CancellableDispatcher& main_;
    RebuildPlotter plotter_;
    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    bool running_ = false;   // main thread
    bool applying_ = false;  // main thread
};

}  // namespace pom
