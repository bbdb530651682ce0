#include "app/ui/LogMemo.h"

#include <QScrollBar>
#include <QTimer>

#include "util/Cp1250.h"

namespace pom {

LogMemo::LogMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    setMaximumBlockCount(kMaxBlocks);
}

void LogMemo::Attach(const DataLog* log) {
    log_ = log;
    Reset();
}

void LogMemo::LineAppended(const std::string& line) {
    pending_.append(QString::fromStdString(Cp1250ToUtf8(line)));
    if (!flushQueued_) {
        flushQueued_ = true;
        QTimer::singleShot(0, this, &LogMemo::FlushPending);
    }
}

void LogMemo::FlushPending() {
    flushQueued_ = false;
    if (pending_.isEmpty()) return;
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    appendPlainText(pending_.join(QChar('\n')));
    pending_.clear();
    if (atEnd) bar->setValue(bar->maximum());
}

void LogMemo::Reset() {
    pending_.clear();
    if (log_ == nullptr) {
        clear();
        return;
    }
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(log_->Count()));
    for (const std::string& l : log_->Lines())
        lines.append(QString::fromStdString(Cp1250ToUtf8(l)));
    setPlainText(lines.join(QChar('\n')));
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace pom
