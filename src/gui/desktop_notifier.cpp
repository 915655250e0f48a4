#include "gui/desktop_notifier.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace sejfko {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString ApplicationName = QStringLiteral("Sejfko");
// The name of the installed desktop entry: lets the service show the program's own icon.
const QString DesktopEntry = QStringLiteral("sejfko");
constexpr uchar NormalUrgency = 1;

}  // namespace

QString NotificationBody(const QString& text, bool markup) {
    // The result texts end lines with LF CR, which services show as a stray character.
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return markup ? body.toHtmlEscaped() : body;
}

TDesktopNotifier::TDesktopNotifier(QObject* parent) : QObject(parent) {}

TDesktopNotifier::~TDesktopNotifier() = default;

void TDesktopNotifier::SetConnection(const QDBusConnection& bus) {
    FBus = bus;
    FCapabilities = TCapabilities::Unknown;
    FMarkup = false;
    FShownId = 0;
    FNotifying = false;
    FWaiting.reset();
    ++FGeneration;
}

QDBusConnection& TDesktopNotifier::Bus() {
    if (!FBus) {
        FBus = QDBusConnection::sessionBus();
    }
    return *FBus;
}

void TDesktopNotifier::Show(const TBalloon& balloon) {
    if (!Bus().isConnected()) {
        Failed(QStringLiteral("no session bus: ") + Bus().lastError().message());
        return;
    }
    switch (FCapabilities) {
        case TCapabilities::Known:
            // The next one must name the id of the one before, which its answer brings.
            if (FNotifying) {
                FWaiting = balloon;
            } else {
                Send(balloon);
            }
            break;
        case TCapabilities::Asking:
            FWaiting = balloon;
            break;
        case TCapabilities::Unknown:
            FWaiting = balloon;
            AskCapabilities();
            break;
    }
}

void TDesktopNotifier::AskCapabilities() {
    FCapabilities = TCapabilities::Asking;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(Bus().asyncCall(call), this);
    ++FPending;
    const int generation = FGeneration;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, generation](QDBusPendingCallWatcher*) {
                watcher->deleteLater();
                --FPending;
                if (generation != FGeneration) {
                    return;
                }
                const QDBusPendingReply<QStringList> reply = *watcher;
                FCapabilities = TCapabilities::Known;
                if (reply.isError()) {
                    Failed(reply.error().message());
                } else {
                    FMarkup = reply.value().contains(QStringLiteral("body-markup"));
                }
                // The service may have been started by this very call: try the balloon anyway.
                if (FWaiting) {
                    const TBalloon balloon = *FWaiting;
                    FWaiting.reset();
                    Send(balloon);
                }
                emit Settled();
            });
}

void TDesktopNotifier::Send(const TBalloon& balloon) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), DesktopEntry);
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(NormalUrgency));
    const QString icon = balloon.Kind == TBalloonKind::Error ? QStringLiteral("dialog-error")
                                                             : QStringLiteral("dialog-information");
    call << ApplicationName << FShownId << icon << balloon.Title
         << NotificationBody(balloon.Text, FMarkup) << QStringList() << hints
         << static_cast<int>(balloon.Seconds * 1000);
    auto* watcher = new QDBusPendingCallWatcher(Bus().asyncCall(call), this);
    ++FPending;
    FNotifying = true;
    const int generation = FGeneration;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, generation](QDBusPendingCallWatcher*) {
                watcher->deleteLater();
                --FPending;
                if (generation != FGeneration) {
                    return;
                }
                FNotifying = false;
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError()) {
                    Failed(reply.error().message());
                } else {
                    FShownId = reply.value();
                    FLastError.clear();
                }
                if (FWaiting) {
                    const TBalloon next = *FWaiting;
                    FWaiting.reset();
                    Send(next);
                }
                emit Settled();
            });
}

void TDesktopNotifier::Failed(const QString& text) {
    FLastError = text.isEmpty() ? QStringLiteral("unknown failure") : text;
}

}  // namespace sejfko
