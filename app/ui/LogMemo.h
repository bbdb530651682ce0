#pragma once

#include <QPlainTextEdit>
#include <QStringList>

#include "app/logic/DataLog.h"

namespace pom {

// Most lines the "POST" page's memo (logiWeb) keeps; the oldest go first.
// Weeks of reports stay a few MB.
inline constexpr int kWebMemoBlocks = 5000;

// Shows the data log. Appended lines are gathered and added in one block per
// event-loop turn, so a long log (or 36 000 test lines) never makes the view
// lay out its whole text again.
class LogMemo final : public QPlainTextEdit, public DataLogListener {
    Q_OBJECT
public:
    explicit LogMemo(QWidget* parent = nullptr);

    // Most lines shown. The log itself is saved and emptied by its periodic
    // save; should that fail for long, the view does not grow with it.
    static constexpr int kMaxBlocks = 100000;

    // Follows this log from now on, starting with its current content.
    void Attach(const DataLog* log);

    void LineAppended(const std::string& line) override;
    void Reset() override;

    // Adds what is waiting at once (tests, screenshots).
    void FlushPending();

private:
    const DataLog* log_ = nullptr;
    QStringList pending_;
    bool flushQueued_ = false;
};

}  // namespace pom
