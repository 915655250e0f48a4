// The desktop program: one copy per user and data directory, living in the notification area.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSessionManager>
#include <clocale>
#include <cstdio>
#include <string>

#include "config/options.hpp"
#include "gui/gui_images.hpp"
#include "gui/gui_message_sink.hpp"
#include "gui/main_window.hpp"
#include "gui/session_end_signal.hpp"
#include "gui/single_instance.hpp"
#include "gui/worker_control.hpp"
#include "platform/data_directory.hpp"
#include "platform/file_lock.hpp"
#include "platform/message_sink.hpp"

namespace {

constexpr const char* UsageText =
    "Sejfko - záloha souborů\n"
    "\n"
    "Použití: sejfko [--config-dir ADRESÁŘ]\n"
    "  --config-dir ADRESÁŘ  adresář se souborem Options.ini\n"
    "  --help                tato nápověda\n";

// Reads our own options; everything else is left to Qt. -1 to go on, else the exit code.
int ParseArguments(int argc, char** argv, std::string& configDirectory) {
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (argument == "--config-dir") {
            if (index + 1 >= argc) {
                std::fputs("Volba --config-dir vyžaduje adresář.\n\n", stderr);
                std::fputs(UsageText, stderr);
                return 2;
            }
            configDirectory = argv[++index];
        } else if (argument.rfind("--config-dir=", 0) == 0) {
            configDirectory = argument.substr(13);
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sejfko;

    std::string dataDirectory;
    if (const int exitCode = ParseArguments(argc, argv, dataDirectory); exitCode >= 0) {
        return exitCode;
    }
    dataDirectory = dataDirectory.empty()
                        ? DefaultDataDirectory()
                        : QDir(QString::fromStdString(dataDirectory)).absolutePath().toStdString();
    const QString programFile = QString::fromStdString(ExecutableDirectory()) + QLatin1Char('/') +
                                QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
    const QString instanceName =
        SingleInstanceName(programFile, QString::fromStdString(dataDirectory));

    // A copy already runs: it shows its window; this one creates nothing and writes nothing.
    TTryFileLock instanceLock(InstanceLockPath(instanceName).toStdString());
    switch (ClaimInstance(instanceName, instanceLock)) {
        case TInstanceClaim::First:
            break;
        case TInstanceClaim::HandedOver:
            return 0;
        case TInstanceClaim::Unresponsive:
            std::fputs("sejfko: Sejfko už běží, ale neodpovídá.\n", stderr);
            return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sejfko"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ProgramIcon());
    // Qt takes the user's locale for the C library; the core formats numbers itself and
    // expects the C library's numbers to stay plain, as in the command-line program.
    std::setlocale(LC_NUMERIC, "C");

    TSingleInstanceServer server;
    if (!server.Listen(instanceName)) {
        std::fprintf(stderr, "sejfko: %s\n", server.ErrorText().toLocal8Bit().constData());
    }

    const std::unique_ptr<TWorkerControl> worker = MakeBackupThreadControl();
    TFoMain window(*worker);
    TGuiMessageSink sink(&window);
    SetMessageSink(&sink);

    server.IsWindowVisible = [&window] { return window.isVisible() && !window.isMinimized(); };
    QObject::connect(&server, &TSingleInstanceServer::ShowRequested, &window,
                     [&window] { window.HandleMessage(WM_SHOW_MAIN_WINDOW, 0, 0); });
    QObject::connect(&server, &TSingleInstanceServer::HideRequested, &window,
                     &TFoMain::HideMainWindow);
    TSessionEndSignal sessionEnd;
    QObject::connect(&sessionEnd, &TSessionEndSignal::SessionEnding, &window, &TFoMain::EndSession);
    // The session manager's question only: a checkpoint or a logout that is cancelled later
    // must not end the program. When the session does end, the system closes the window (or
    // sends SIGTERM) and the flag lets that close through without a question.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.QueryEndSession(); });
    QObject::connect(&window, &TFoMain::Closed, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    window.Initialize(dataDirectory);
    const int exitCode = QApplication::exec();

    // No worker may post to a window that is about to go.
    worker->Stop();
    SetMessageSink(nullptr);
    return exitCode;
}
