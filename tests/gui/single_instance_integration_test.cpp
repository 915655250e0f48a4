// The real program started twice on one data directory, offscreen.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <memory>
#include <vector>

#include "gui/single_instance.hpp"
#include "support/temp_dir.hpp"

namespace sejfko::test {
namespace {

constexpr int Bound = 30000;

class SingleInstanceTest : public ::testing::Test {
protected:
    SingleInstanceTest() {
        // A recorded last run: no first-start dialog, and no selection file: no backup.
        Data.WriteFile("Options.ini", "[Backup status]\nLast run=46000\n");
        const QFileInfo program(QStringLiteral(SEJFKO_GUI_PATH));
        Name =
            SingleInstanceName(program.canonicalPath() + QStringLiteral("/") + program.fileName(),
                               QString::fromStdString(Data.Path()));
    }

    void Start(QProcess& process) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(SEJFKO_GUI_PATH),
                      {QStringLiteral("--config-dir"), QString::fromStdString(Data.Path())});
        ASSERT_TRUE(process.waitForStarted(Bound));
    }

    // Waits until the first copy answers on its socket.
    QString AwaitState() {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < Bound) {
            const QString state = AskRunningInstance(Name, QStringLiteral("state"), 1000);
            if (!state.isEmpty()) {
                return state;
            }
            QThread::msleep(20);
        }
        return QString();
    }

    ~SingleInstanceTest() override {
        // A failed check must not leave a copy running.
        for (QProcess* process : {&First, &Second}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(Bound);
            }
        }
        // The lock file stays behind its holders by design; the test's own goes with the test.
        QFile::remove(InstanceLockPath(Name));
    }

    TTempDir Data;
    QString Name;
    QProcess First;
    QProcess Second;
};

TEST_F(SingleInstanceTest, SecondStartShowsTheFirstWindowAndEnds) {
    QProcess& first = First;
    Start(first);
    // Offscreen there is no notification area, so the window shows at start.
    ASSERT_EQ(AwaitState(), "visible");
    ASSERT_EQ(AskRunningInstance(Name, QStringLiteral("hide")), "ok");
    ASSERT_EQ(AskRunningInstance(Name, QStringLiteral("state")), "hidden");
    const std::string optionsBefore = ReadWholeFile(Data / "Options.ini");

    QProcess& second = Second;
    Start(second);
    ASSERT_TRUE(second.waitForFinished(Bound));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(AskRunningInstance(Name, QStringLiteral("state")), "visible");
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(ReadWholeFile(Data / "Options.ini"), optionsBefore);

    // SIGTERM is the end of the session: the worker stops, the program ends normally.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(Bound));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_TRUE(AskRunningInstance(Name, QStringLiteral("state"), 1000).isEmpty());
}

// Started at the same moment, so that each looks for the others before any listens.
TEST_F(SingleInstanceTest, SimultaneousStartsLeaveOneProcess) {
    constexpr int Starts = 4;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int index = 0; index < Starts; ++index) {
        processes.push_back(std::make_unique<QProcess>());
        Start(*processes.back());
    }
    const auto running = [&processes] {
        int count = 0;
        for (const auto& process : processes) {
            process->waitForFinished(0);
            count += process->state() != QProcess::NotRunning ? 1 : 0;
        }
        return count;
    };
    QElapsedTimer clock;
    clock.start();
    while (running() > 1 && clock.elapsed() < Bound) {
        QThread::msleep(20);
    }
    EXPECT_EQ(running(), 1);
    for (const auto& process : processes) {
        if (process->state() == QProcess::NotRunning) {
            EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process->exitCode(), 0);  // handed over to the one that runs
        }
    }
    // The one left is the instance, and a later start still finds it.
    EXPECT_EQ(AwaitState(), "visible");
    Start(Second);
    ASSERT_TRUE(Second.waitForFinished(Bound));
    EXPECT_EQ(Second.exitCode(), 0);
    EXPECT_EQ(running(), 1);
    for (const auto& process : processes) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            EXPECT_TRUE(process->waitForFinished(Bound));
        }
    }
}

// A first copy that is stopped (a debugger, a machine under load) answers nobody; a later start
// must not take its socket and become a second instance.
TEST_F(SingleInstanceTest, ABlockedFirstCopyKeepsItsSocket) {
    Start(First);
    ASSERT_EQ(AwaitState(), "visible");
    ASSERT_EQ(::kill(static_cast<pid_t>(First.processId()), SIGSTOP), 0);
    Start(Second);
    const bool ended = Second.waitForFinished(Bound);
    ::kill(static_cast<pid_t>(First.processId()), SIGCONT);
    ASSERT_TRUE(ended);
    EXPECT_EQ(Second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Second.exitCode(), 1);
    // The first copy answers again on the same socket (the waiting start's request included).
    EXPECT_EQ(AskRunningInstance(Name, QStringLiteral("state")), "visible");
    EXPECT_EQ(First.state(), QProcess::Running);
    First.terminate();
    ASSERT_TRUE(First.waitForFinished(Bound));
    EXPECT_EQ(First.exitCode(), 0);
}

TEST(SingleInstanceNameTest, DependsOnProgramAndDataDirectory) {
    const QString a = SingleInstanceName("/usr/bin/sejfko", "/home/a/.config/sejfko");
    EXPECT_TRUE(a.startsWith("TFoMain-"));
    EXPECT_EQ(a, SingleInstanceName("/usr/bin/sejfko", "/home/a/.config/sejfko"));
    EXPECT_NE(a, SingleInstanceName("/opt/sejfko/sejfko", "/home/a/.config/sejfko"));
    EXPECT_NE(a, SingleInstanceName("/usr/bin/sejfko", "/data/jina"));
}

}  // namespace
}  // namespace sejfko::test
