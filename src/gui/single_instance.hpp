#pragma once
// One copy of the program per user, executable and data directory. The running copy listens on
// a local socket named from "TFoMain", the user and a hash of the executable's full path and
// the data directory; a second start connects, asks the first to show its main window and ends.
// A copy with another data directory is another instance (its own options and worker lock).
//
// The protocol is one line per request, answered by one line: "show" (show the main window and
// come forward; "ok"), "hide" (hide it to the tray as the close box does; "ok") and "state"
// ("visible" or "hidden").

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <functional>

namespace sejfko {

QString SingleInstanceName(const QString& executablePath, const QString& dataDirectory);

// Sends one request to a running instance and returns its answer; empty when none runs (or it
// did not answer within `timeoutMs`). Needs no application object.
QString AskRunningInstance(const QString& name, const QString& request, int timeoutMs = 5000);

class TSingleInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstanceServer(QObject* parent = nullptr);
    ~TSingleInstanceServer() override;

    // Listens under `name`, taking over a socket left behind by a copy that crashed. False
    // (with the reason in ErrorText) when it cannot listen.
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
