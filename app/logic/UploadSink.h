#pragma once

#include <cstddef>
#include <string>

#include "app/logic/RecordSink.h"

namespace pom {

// What the upload queue's sink needs from the window: the "POST" check box,
// the queue with its timer and the "POST" page.
class UploadQueueHost {
public:
    virtual ~UploadQueueHost() = default;
    // "yyyy-mm-dd hh:mm:ss " of the PC's current local time.
    virtual std::string Stamp() = 0;
    // cbPOST.
    virtual bool UploadChecked() const = 0;
    // Appends an entry at the end of the upload queue; returns its 1-based
    // position. May throw when the entry cannot be kept.
    virtual std::size_t AppendToUploadQueue(const std::string& entry) = 0;
    // One line into logiWeb.
    virtual void AppendWeb(const std::string& line) = 0;
    // Interval of the upload timer Timer4WWW, in ms.
    virtual void SetUploadInterval(int ms) = 0;
    // The status bar's simple text.
    virtual void SetStatusText(const std::string& text) = 0;
};

// The web upload's side of the closed records: while uploads are on, each
// record's upload text becomes one entry of the upload queue.
class UploadSink final : public RecordSink {
public:
    explicit UploadSink(UploadQueueHost& host) : host_(host) {}

    void RecordClosed(const ClosedRecord& record) override { Queue(record.text); }
    // One upload text into the queue (decimal commas become points); a
    // queue that cannot keep it is reported in the status bar, not thrown.
    void Queue(std::string text);

private:
    UploadQueueHost& host_;
};

}  // namespace pom
