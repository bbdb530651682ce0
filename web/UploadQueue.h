#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace pom {

// The upload queue and its file "niewyslane.txt" (one entry per line, CR LF,
// Windows-1250). Every new entry is on disk before Append returns; removals
// reach the file by a rewrite at most once every few seconds and at the end,
// so a long backlog drains without rewriting the file after every post. After
// a crash no entry is missing; entries the server already took may come
// again, which it answers with "istnieje=Ok". Main thread only.
//
// A write the disk refuses (full, file too large) leaves no part of a line in
// the file: the entries it held wait in memory, counted by Unsaved(), and go
// to the file with the next write that succeeds.
class UploadQueue {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRewriteEvery{5};

    // Takes the entries of `path` when the file exists. Entries held that are
    // in no file yet (queued before the station was known, or refused by the
    // disk) stay, after the file's; those the previous file already holds are
    // let go, so no entry ends up in two files. Without a file, the entries
    // kept are written by the next Flush. An empty path keeps the queue in
    // memory only. A file that cannot be read is kept as it is and never
    // written; `error` gets why. A last line without its line end (a write cut
    // short) is not an entry: it is dropped from the file and CutLine() gives
    // it.
    bool Load(const std::string& path, std::string* error = nullptr);

    // Appends at the end, in memory and, with its line end, to the file,
    // flushed to the disk. Throws std::runtime_error when the file refuses;
    // the entry stays queued in memory then and reaches the file with the
    // next write that succeeds.
    void Append(const std::string& entry);
    // Removes the first entry; false when there is none. The file follows
    // with the next FlushIfDue or Flush.
    bool PopFront();
    // Writes what is waiting (removals, entries refused before) when the last
    // attempt is long enough ago. Throws as Append.
    void FlushIfDue(Clock::time_point now = Clock::now());
    // Writes what is waiting, now. Throws as Append.
    void Flush();
    // Writes the whole queue to the file, waiting or not (at the end of a
    // run). Throws as Append.
    void Save();

    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }
    const std::string& Front() const { return entries_.front(); }
    const std::deque<std::string>& Entries() const { return entries_; }
    const std::string& Path() const { return path_; }
    bool Unreadable() const { return unreadable_; }
    // The newest entries that no file holds (all of them while the queue
    // keeps to memory).
    std::size_t Unsaved() const { return unsaved_; }
    // The file is in use but refused the newest entries: a crash now would
    // lose them.
    bool CannotPersist() const { return !path_.empty() && !unreadable_ && unsaved_ > 0; }
    // Why the last write failed; empty after one that succeeded.
    const std::string& LastError() const { return lastError_; }
    // The cut last line the last Load dropped (empty: none).
    const std::string& CutLine() const { return cutLine_; }
    // The whole file text of the queue.
    std::string Text() const;

private:
    // Brings the file level with the queue: a rewrite when it still holds
    // removed entries, else an append of the unsaved ones.
    void Persist();
    void Rewrite();
    void AppendUnsaved();

    std::deque<std::string> entries_;
    std::string path_;
    bool unreadable_ = false;
    // The file still holds entries removed since (or a cut line): only a
    // rewrite brings it level.
    bool stale_ = false;
    // The file may end inside a line: nothing may be appended to it.
    bool cutTail_ = false;
    std::size_t unsaved_ = 0;
    std::string lastError_;
    std::string cutLine_;
    Clock::time_point lastRewrite_{};
};

// Tells when the queue stops keeping its entries on disk and when it keeps
// them again; while it cannot, the station is not to release its readings.
// Texts are Windows-1250.
class PersistWatch {
public:
    struct Report {
        bool changed = false;  // the state differs from the last Check
        bool held = false;     // the queue cannot persist now
        std::string text;      // what to tell the user (empty while all is well)
    };
    Report Check(const UploadQueue& queue);

private:
    bool held_ = false;
};

// The records of the queue that no file holds, for the end of a run: one
// summary line, then each record as it would have been written. Empty when
// there is none.
std::vector<std::string> UnsavedReport(const UploadQueue& queue);

}  // namespace pom
