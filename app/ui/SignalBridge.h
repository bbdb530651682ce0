#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace pom {

// Turns SIGTERM, SIGHUP and SIGINT into a Qt signal on the main thread
// (through a self-pipe: the handler only writes a byte).
class SignalBridge final : public QObject {
    Q_OBJECT
public:
    explicit SignalBridge(QObject* parent = nullptr);
    ~SignalBridge() override;

signals:
    void endOfSession(int signalNumber);

private:
    void ReadPipe();
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace pom
