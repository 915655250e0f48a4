#include "gui/fake_notifications.hpp"

#include <QFile>

namespace sejfko::test {

namespace {

constexpr int Bound = 30000;

}  // namespace

TPrivateSessionBus::TPrivateSessionBus() {
    if (!FDirectory.isValid()) {
        FError = QStringLiteral("no temporary directory");
        return;
    }
    // The session bus's own rules, without the service directories: nothing is started on
    // demand, so a missing service stays missing.
    const QString config = FDirectory.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        FError = file.errorString();
        return;
    }
    file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                              "Configuration 1.0//EN\" "
                              "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig><type>session</type>"
                              "<listen>unix:dir=%1</listen>"
                              "<policy context=\"default\">"
                              "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                              "</policy></busconfig>\n")
                   .arg(FDirectory.path())
                   .toUtf8());
    file.close();
    // It complains that it may not raise its file limit, as it does outside a session.
    FDaemon.setStandardErrorFile(QProcess::nullDevice());
    FDaemon.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!FDaemon.waitForStarted(Bound)) {
        FError = QStringLiteral("dbus-daemon: ") + FDaemon.errorString();
        return;
    }
    QByteArray line;
    while (!line.contains('\n') && FDaemon.waitForReadyRead(Bound)) {
        line += FDaemon.readAllStandardOutput();
    }
    FAddress = QString::fromUtf8(line).trimmed();
    if (FAddress.isEmpty()) {
        FError = QStringLiteral("dbus-daemon printed no address");
    }
}

TPrivateSessionBus::~TPrivateSessionBus() {
    if (FDaemon.state() != QProcess::NotRunning) {
        FDaemon.terminate();
        if (!FDaemon.waitForFinished(Bound)) {
            FDaemon.kill();
            FDaemon.waitForFinished(Bound);
        }
    }
}

QDBusConnection TPrivateSessionBus::Connect(const QString& name) const {
    return QDBusConnection::connectToBus(FAddress, name);
}

TFakeNotifications::TFakeNotifications(const TPrivateSessionBus& bus, const QString& connectionName)
    : FConnection(bus.Connect(connectionName)), FName(connectionName) {
    FRegistered = FConnection.isConnected() &&
                  FConnection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                             QDBusConnection::ExportAllSlots) &&
                  FConnection.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

TFakeNotifications::~TFakeNotifications() {
    FConnection.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    FConnection.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(FName);
}

QStringList TFakeNotifications::GetCapabilities() {
    ++CapabilityQuestions;
    if (Silent) {
        setDelayedReply(true);
        return {};
    }
    return Capabilities;
}

uint TFakeNotifications::Notify(const QString& application, uint replacesId, const QString& icon,
                                const QString& summary, const QString& body,
                                const QStringList& actions, const QVariantMap& hints,
                                int expireTimeout) {
    Calls.push_back({application, replacesId, icon, summary, body, actions, hints, expireTimeout});
    if (Silent) {
        setDelayedReply(true);
        return 0;
    }
    return replacesId != 0 ? replacesId : ++FNextId;
}

void TFakeNotifications::CloseNotification(uint) {}

}  // namespace sejfko::test
