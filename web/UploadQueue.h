#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>

namespace pom {

// The upload queue and its file "niewyslane.txt" (one entry per line, CR LF,
// Windows-1250). Every new entry is on disk before Append returns; removals
// reach the file by a rewrite at most once every few seconds and at the end,
// so a long backlog drains without rewriting the file after every post. After
// a crash no entry is missing; entries the server already took may come
// again, which it answers with "istnieje=Ok". Main thread only.
class UploadQueue {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRewriteEvery{5};

    // Takes the entries of `path` (replacing what is held) when the file
    // exists; without a file, what is held is written by the next Flush. An empty path keeps the
    // queue in memory only. A file that cannot be read is kept as it is and never written; `error`
    // gets why.
    bool Load(const std::string& path, std::string* error = nullptr);

    // Appends at the end, in memory and, with its line end, to the file,
    // flushed to the disk. Throws std::runtime_error when the file refuses;
    // the entry stays queued in memory then and reaches the file with the
    // next rewrite.
    void Append(const std::string& entry);
    // Removes the first entry; false when there is none. The file follows
    // with the next FlushIfDue or Flush.
    bool PopFront();
    // Rewrites the file when removals are waiting and the last rewrite is
    // long enough ago. Throws as Append.
    void FlushIfDue(Clock::time_point now = Clock::now());
    // Rewrites the file when anything is waiting. Throws as Append.
    void Flush();
    // Writes the whole queue to the file, waiting or not (at the end of a
    // run). Throws as Append.
    void Save() { Rewrite(); }

    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }
    const std::string& Front() const { return entries_.front(); }
    const std::deque<std::string>& Entries() const { return entries_; }
    const std::string& Path() const { return path_; }
    bool Unreadable() const { return unreadable_; }
    // The whole file text of the queue.
    std::string Text() const;

private:
    void Rewrite();

    std::deque<std::string> entries_;
    std::string path_;
    bool unreadable_ = false;
    bool dirty_ = false;
    Clock::time_point lastRewrite_{};
};

}  // namespace pom
