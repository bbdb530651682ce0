#pragma once

#include <string>

#include "web/Sender.h"
#include "web/UploadQueue.h"

namespace pom {

// What the upload needs from the window: the "POST" page's memo, the status
// bar, the upload check box and timer, the host dialog's fields, the
// periodic save of the data log and the settings. Texts are Windows-1250.
class UploadHost {
public:
    virtual ~UploadHost() = default;
    virtual std::string Stamp() = 0;
    // One line into logiWeb.
    virtual void AppendWeb(const std::string& line) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // cbPOST.
    virtual bool UploadChecked() const = 0;
    // Timer4WWW: running or stopped, and its interval (always above 0; the
    // same interval again does not restart its count). The Uploader decides
    // both; nothing else sets them.
    virtual void SetUploadTimerEnabled(bool on) = 0;
    virtual void SetUploadTimerInterval(int ms) = 0;
    // The station's measuring interval, seconds.
    virtual int MeasureInterval() const = 0;
    // The host dialog's table field (edTabelaSQL) and address (cbWWWskryptu).
    virtual std::string UploadTable() const = 0;
    virtual std::string UploadAddress() const = 0;
    // The data log's periodic save (it saves only a log of more than 10 lines).
    virtual void PeriodicSave() = 0;
    // Komunikacja/OstatniWyslany.
    virtual void StoreLastSent(const std::string& stamp) = 0;
};

// The main thread's side of the upload: the timer tick that hands the
// queue's first entry to the sender, the legends job, and the sender's
// reports, which alone remove entries. Main thread only.
class Uploader {
public:
    Uploader(UploadHost& host, UploadQueue& queue, WWyslac& sender)
        : host_(host), queue_(queue), sender_(sender) {}

    void Timer4WWWTimer();
    // Builds the reading job of a queue entry and hands it to the sender.
    void SendQueueHead(const std::string& entry);
    // Posts the legends text to the legends script.
    void SendLegends(const std::string& text);
    // A report of the sender (main thread).
    void onMeldunek(const std::string& line, bool success, WWyslac::Kind kind);
    // cbPOST was clicked.
    void cbPOSTClick(bool checked);

    // Timer4WWW's enabled property (the station attached, cbPOST ticked).
    void SetTimerEnabled(bool on);
    // Timer4WWW's interval as the readings and the tick ask for it. An
    // interval of 0 ms or less means the timer does not tick until another
    // is set. After a failed post the timer waits at least kBackOffMs until
    // a post succeeds: a dead server is not hit at every queued entry.
    void SetUploadInterval(int ms);
    static constexpr int kBackOffMs = 60000;
    bool BackingOff() const { return backingOff_; }
    // What the timer runs at now (0: it does not tick).
    int EffectiveInterval() const;

    // Appends an entry (Readings' queue); returns its 1-based position.
    std::size_t Append(const std::string& entry);

    const std::string& LastSent() const { return lastSent_; }
    void SetLastSent(const std::string& s) { lastSent_ = s; }

private:
    void Log(const std::string& text);
    // Writes waiting removals to the queue file when due; a refusal is said
    // on the "POST" page.
    void FlushQueue(bool now);

    // Tells the host the timer's state from enabled_, wanted_ and the back-off.
    void ApplyTimer();

    UploadHost& host_;
    UploadQueue& queue_;
    WWyslac& sender_;
    std::string lastSent_;
    bool enabled_ = false;
    int wanted_ = kBackOffMs;  // the interval Timer4WWW is created with
    bool backingOff_ = false;
};

}  // namespace pom
