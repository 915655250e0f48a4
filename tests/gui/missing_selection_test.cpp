// The window with the real worker when the selection file is missing: the options dialog opens
// once per slot, not again on every pass after it was cancelled.

#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <memory>

#include "backup/backup_thread.hpp"
#include "backup/worker_harness.hpp"
#include "gui/gui_message_sink.hpp"
#include "gui/gui_test_support.hpp"
#include "gui/main_window.hpp"
#include "platform/clock.hpp"
#include "platform/locale_format.hpp"
#include "platform/message_sink.hpp"

namespace sejfko::test {
namespace {

const TDateTime TuesdayRun = EncodeDateTime(2024, 1, 9, 20, 0, 5);
const TDateTime Wednesday2000 = EncodeDateTime(2024, 1, 10, 20, 0, 0);

class MissingSelectionTest : public TOptionsFixture {
protected:
    MissingSelectionTest() {
        Options.SetInTime(EncodeTime(20, 0, 0));
        Options.SetFileChoose("missing.txt");
        Options.SetLocalDirectory(Data / "out");
        Options.SetLastRun(EncodeDateTime(2024, 1, 8, 20, 0, 0));
        // Every modal dialog that opens is counted and cancelled, however often it opens.
        QObject::connect(&FCanceller, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ++Dialogs;
                dialog->reject();
            }
        });
        FCanceller.start(5);
    }
    ~MissingSelectionTest() override {
        FCanceller.stop();
        StopBackupThread();
    }

    // Processes events until the worker has made `count` more passes.
    bool Passes(int count) {
        const int target = Thread->Passes() + count;
        return ProcessEventsUntil([&] { return Thread->Passes() >= target; });
    }

    TManualClock Clock{TuesdayRun};
    TScopedClock ClockGuard{Clock};
    TRecordedPrompts Prompts;
    std::unique_ptr<TWorkerControl> Control = MakeBackupThreadControl();
    TFoMain Window{*Control};
    TGuiMessageSink Sink{&Window};
    TScopedMessageSink SinkGuard{Sink};
    TSteppedThread* Thread = nullptr;
    int Dialogs = 0;

private:
    QTimer FCanceller;
};

TEST_F(MissingSelectionTest, ACancelledDialogWaitsForTheNextSlotOrAnImmediateBackup) {
    auto thread = std::make_unique<TSteppedThread>();
    Thread = thread.get();
    Thread->SetFreeRunning(true);
    BackupThread = std::move(thread);
    Window.Initialize(Data.Path());
    Thread->Resume();

    ASSERT_TRUE(ProcessEventsUntil([&] { return Dialogs == 1 && !Window.OptionsDialogOpen(); }));
    ASSERT_TRUE(Passes(5));
    EXPECT_EQ(Dialogs, 1);
    EXPECT_EQ(Window.TrayIcon->BalloonCount(), 2);  // the run's start and the missing file
    EXPECT_NEAR(Thread->NextRun.load(), Wednesday2000, 1e-6);
    EXPECT_EQ(Window.LblState->text(),
              "Další zálohování " +
                  QString::fromStdString(UserLocale().FormatDisplay(Thread->NextRun.load())));
    EXPECT_EQ(Options.LastRun(), NeverMarker);

    // The user's own request still runs, and asks for the file again.
    Window.AcBackupImm->trigger();
    Clock.Advance(1.0 / 86400);
    ASSERT_TRUE(ProcessEventsUntil([&] { return Dialogs == 2 && !Window.OptionsDialogOpen(); }));
    ASSERT_TRUE(Passes(5));
    EXPECT_EQ(Dialogs, 2);
}

}  // namespace
}  // namespace sejfko::test
