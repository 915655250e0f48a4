#pragma once
// Turns SIGTERM (how a desktop or a service manager ends a program at logout or shutdown) into
// a Qt signal on the GUI thread: the handler only writes a byte to a pipe, a socket notifier
// reads it. One instance per process. On systems without SIGTERM it never fires.

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace sejfko {

class TSessionEndSignal : public QObject {
    Q_OBJECT
public:
    explicit TSessionEndSignal(QObject* parent = nullptr);
    ~TSessionEndSignal() override;

signals:
    void SessionEnding();

private:
    std::unique_ptr<QSocketNotifier> FNotifier;
};

}  // namespace sejfko
