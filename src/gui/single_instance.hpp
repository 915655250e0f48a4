#pragma once
// One copy of the program per user, executable and data directory. The running copy listens on
// a local socket named from "TFoMain", the user and a hash of the executable's full path and
// the data directory; a second start connects, asks the first to show its main window and ends.
// A copy with another data directory is another instance (its own options and worker lock).
//
// Which of several starts becomes the instance is decided by a lock file beside the socket,
// taken before anything listens: two starts at the same moment cannot both win, and a running
// copy that is blocked keeps its socket (a later start waits for it, then gives up, and never
// takes the socket over).
//
// The protocol is one line per request, answered by one line: "show" (show the main window and
// come forward; "ok"), "hide" (hide it to the tray as the close box does; "ok") and "state"
// ("visible" or "hidden").

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <functional>

namespace sejfko {

class TTryFileLock;

QString SingleInstanceName(const QString& executablePath, const QString& dataDirectory);
// The lock file of the instance `name`: in the directory of its socket.
QString InstanceLockPath(const QString& name);

// Sends one request to a running instance and returns its answer; empty when none runs (or it
// did not answer within `timeoutMs`). Needs no application object.
QString AskRunningInstance(const QString& name, const QString& request, int timeoutMs = 5000);

enum class TInstanceClaim {
    First,         // this start is the instance: the lock is held, it is to listen
    HandedOver,    // a running copy took the request to show its window; this start ends
    Unresponsive,  // a running copy holds the lock but did not answer within the patience
};

// Takes `lock` or, while another start holds it, asks that one to show its window until it
// answers, the lock becomes free (that start ended) or `patienceMs` has passed. When the lock
// file cannot be used at all (Error() of the lock), the running copy is only asked once.
TInstanceClaim ClaimInstance(const QString& name, TTryFileLock& lock, int patienceMs = 10000);

class TSingleInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstanceServer(QObject* parent = nullptr);
    ~TSingleInstanceServer() override;

    // Listens under `name`, taking over a socket left behind by a copy that crashed (the caller
    // holds the instance's lock, so no live copy listens there). False (with the reason in
    // ErrorText) when it cannot listen.
    bool Listen(const QString& name);
    QString ErrorText() const { return FServer.errorString(); }

    // Answers "state".
    std::function<bool()> IsWindowVisible;

signals:
    void ShowRequested();
    void HideRequested();

private:
    void Accept();

    QLocalServer FServer;
};

}  // namespace sejfko
