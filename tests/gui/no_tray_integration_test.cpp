// The real program on a desktop without a notification area (offscreen), with a fake
// notification service on a session bus of the test's own: a backup's balloons arrive there.
// And the installed files include the scalable icon.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include "gui/fake_notifications.hpp"
#include "gui/gui_test_support.hpp"
#include "gui/single_instance.hpp"
#include "support/temp_dir.hpp"

namespace sejfko::test {
namespace {

constexpr int Bound = 60000;

TEST(NoTrayProgramTest, ABackupsBalloonsReachTheNotificationService) {
    TPrivateSessionBus bus;
    ASSERT_FALSE(bus.Address().isEmpty()) << bus.Error().toStdString();
    TFakeNotifications service(bus, QStringLiteral("service"));
    ASSERT_TRUE(service.Registered());

    TTempDir dir;
    dir.WriteFile("files/a.txt", "obsah");
    const std::string selection = dir.WriteFile("data/vyber.txt", dir / "files" + "\n");
    // A backup is due at once: the last one was long ago.
    dir.WriteFile("data/Options.ini", "[Options]\nFile choose=" + selection + "\nLocal directory=" +
                                          (dir / "zalohy") + "\n[Backup status]\nLast run=46000\n");
    QTemporaryDir config;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(SEJFKO_GUI_PATH),
                  {QStringLiteral("--config-dir"), QString::fromStdString(dir / "data")});
    ASSERT_TRUE(program.waitForStarted(Bound));

    // The result: a start balloon that was still waiting for the service's capabilities when
    // the result came is replaced by it before it is ever sent, as a shown one would be.
    auto resultShown = [&] {
        return !service.Calls.empty() && service.Calls.back().Body.startsWith(
                                             QStringLiteral("Záloha byla úspěšně dokončena."));
    };
    const bool arrived = ProcessEventsUntil(
        [&] { return resultShown() || program.state() == QProcess::NotRunning; });
    program.terminate();
    EXPECT_TRUE(program.waitForFinished(Bound));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const QFileInfo executable(QStringLiteral(SEJFKO_GUI_PATH));
    QFile::remove(InstanceLockPath(
        SingleInstanceName(executable.canonicalPath() + QStringLiteral("/") + executable.fileName(),
                           QString::fromStdString(dir / "data"))));
    ASSERT_TRUE(arrived);
    ASSERT_TRUE(resultShown());
    ASSERT_LE(service.Calls.size(), 2u);
    for (const TNotifyCall& call : service.Calls) {
        EXPECT_EQ(call.Application, "Sejfko");
        EXPECT_EQ(call.Summary, "Sejfko");
        EXPECT_EQ(call.Icon, "dialog-information");
    }
    if (service.Calls.size() == 2) {
        EXPECT_EQ(service.Calls[0].Body, "Probíhá zálohování souborů");
        EXPECT_EQ(service.Calls[0].ExpireTimeout, 10000);
        EXPECT_EQ(service.Calls[1].ReplacesId, 1u);
    }
}

TEST(InstallTest, TheScalableIconIsInstalledBesideThePictures) {
    QTemporaryDir prefix;
    QProcess install;
    install.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    install.start(QStringLiteral("cmake"),
                  {QStringLiteral("--install"), QStringLiteral(SEJFKO_BINARY_DIR),
                   QStringLiteral("--prefix"), prefix.path()});
    ASSERT_TRUE(install.waitForFinished(Bound));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardOutput().toStdString();
    for (const char* size : {"16x16", "32x32", "64x64"}) {
        EXPECT_TRUE(QFile::exists(prefix.filePath(
            QStringLiteral("share/icons/hicolor/%1/apps/sejfko.png").arg(QLatin1String(size)))));
    }
    QFile svg(prefix.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/sejfko.svg")));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    // Well-formed, an <svg> of its own size with a view box, so that it scales.
    QXmlStreamReader reader(&svg);
    ASSERT_TRUE(reader.readNextStartElement());
    EXPECT_EQ(reader.name(), QStringLiteral("svg"));
    EXPECT_EQ(reader.namespaceUri(), QStringLiteral("http://www.w3.org/2000/svg"));
    EXPECT_EQ(reader.attributes().value(QStringLiteral("viewBox")), QStringLiteral("0 0 64 64"));
    while (!reader.atEnd()) {
        reader.readNext();
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
}

}  // namespace
}  // namespace sejfko::test
