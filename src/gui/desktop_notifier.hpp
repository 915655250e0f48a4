#pragma once
// TDesktopNotifier: the balloons of a desktop without a notification area (GNOME, many Wayland
// sessions), sent to the desktop's notification service, org.freedesktop.Notifications on the
// session bus: the balloon's title as summary, its text as body, "dialog-information" or
// "dialog-error" as icon, its display time as expiry. A new notification replaces the one this
// program showed last, as a new balloon removes the one still shown.
//
// Every call is asynchronous, so a missing bus, a missing service or one that never answers
// costs the notification and nothing else: the window never waits. The service's capabilities
// are asked once (whether it reads markup in the body, which then must be escaped); a balloon
// shown before they are known waits for them, and a newer one replaces it meanwhile; so does a
// balloon shown while the service has not yet answered with the id of the one before.
// GUI thread only.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

#include "gui/tray_icon.hpp"

namespace sejfko {

class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    // On the session bus, connected at the first notification.
    explicit TDesktopNotifier(QObject* parent = nullptr);
    ~TDesktopNotifier() override;

    // Another bus (tests, a private bus); forgets what the previous service said.
    void SetConnection(const QDBusConnection& bus);

    void Show(const TBalloon& balloon);

    // The service's last failure ("" while none): no bus, no service, an error reply.
    QString LastError() const { return FLastError; }
    // Calls sent and not yet answered.
    int Pending() const { return FPending; }

signals:
    // A call was answered or failed.
    void Settled();

private:
    QDBusConnection& Bus();
    void AskCapabilities();
    void Send(const TBalloon& balloon);
    void Failed(const QString& text);

    std::optional<QDBusConnection> FBus;
    enum class TCapabilities { Unknown, Asking, Known };
    TCapabilities FCapabilities = TCapabilities::Unknown;
    bool FMarkup = false;
    std::optional<TBalloon> FWaiting;
    uint FShownId = 0;
    bool FNotifying = false;  // a Notify not yet answered
    int FPending = 0;
    QString FLastError;
    // Answers of an earlier connection are ignored.
    int FGeneration = 0;
};

// The body as the service shows it: line ends as one LF each, and escaped when `markup`.
QString NotificationBody(const QString& text, bool markup);

}  // namespace sejfko
