#pragma once
// A session bus of the test's own (a dbus-daemon started for it, with no services that could be
// activated) and a fake desktop notification service on it that records every call.

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>
#include <vector>

namespace sejfko::test {

class TPrivateSessionBus {
public:
    // Starts the daemon; Address() is empty when it could not be started (Error() says why).
    TPrivateSessionBus();
    ~TPrivateSessionBus();
    TPrivateSessionBus(const TPrivateSessionBus&) = delete;
    TPrivateSessionBus& operator=(const TPrivateSessionBus&) = delete;

    const QString& Address() const { return FAddress; }
    const QString& Error() const { return FError; }
    // A new client connection to the bus under `name` (unique per test).
    QDBusConnection Connect(const QString& name) const;

private:
    QTemporaryDir FDirectory;
    QProcess FDaemon;
    QString FAddress;
    QString FError;
};

struct TNotifyCall {
    QString Application;
    uint ReplacesId = 0;
    QString Icon;
    QString Summary;
    QString Body;
    QStringList Actions;
    QVariantMap Hints;
    int ExpireTimeout = 0;
};

class TFakeNotifications : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    // Registers the service on its own connection to `bus`; Registered() tells whether it did.
    explicit TFakeNotifications(const TPrivateSessionBus& bus, const QString& connectionName);
    ~TFakeNotifications() override;
    bool Registered() const { return FRegistered; }

    std::vector<TNotifyCall> Calls;
    int CapabilityQuestions = 0;
    QStringList Capabilities{QStringLiteral("body"), QStringLiteral("body-markup")};
    // A service that takes the calls and never answers them.
    bool Silent = false;

public slots:
    QStringList GetCapabilities();
    uint Notify(const QString& application, uint replacesId, const QString& icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout);
    void CloseNotification(uint id);

private:
    QDBusConnection FConnection;
    QString FName;
    bool FRegistered = false;
    uint FNextId = 0;
};

}  // namespace sejfko::test
