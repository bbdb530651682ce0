#pragma once

#include <QPlainTextEdit>
#include <QStringList>

#include "app/logic/DataLog.h"

namespace pom {

// Shows the data log. Appended lines are gathered and added in one block per
// event-loop turn, so a long log (or 36 000 test lines) never makes the view
// lay out its whole text again.
class LogMemo final : public QPlainTextEdit, public DataLogListener {
    Q_OBJECT
public:
    explicit LogMemo(QWidget* parent = nullptr);

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
