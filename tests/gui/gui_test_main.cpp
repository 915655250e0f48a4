// One application object for every window test, drawn offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <clocale>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Nothing a test does reaches the desktop of whoever runs it: no session bus (tests start
    // their own), and a configuration folder of their own for the autostart entry.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/sejfko-test-bus");
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::setlocale(LC_NUMERIC, "C");
    return RUN_ALL_TESTS();
}
