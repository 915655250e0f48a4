// The desktop without a notification area (offscreen has none): the window carries "Konec",
// and the balloons reach a fake notification service on a private session bus.

#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <memory>

#include "archive/backup_job.hpp"
#include "gui/desktop_notifier.hpp"
#include "gui/fake_notifications.hpp"
#include "gui/gui_test_support.hpp"
#include "gui/main_window.hpp"
#include "gui/tray_icon.hpp"
#include "platform/message_sink.hpp"

namespace sejfko::test {
namespace {

class NoTrayTest : public TOptionsFixture {
protected:
    void SetUp() override {
        ASSERT_FALSE(TTrayIcon::Available()) << "the test needs a desktop without a tray";
        ASSERT_FALSE(Bus.Address().isEmpty()) << Bus.Error().toStdString();
    }

    // The window on `connection`, started; Closed is counted.
    void Start(const QDBusConnection& connection) {
        Window = std::make_unique<TFoMain>(Worker);
        Window->Notifier->SetConnection(connection);
        QObject::connect(Window.get(), &TFoMain::Closed, [this] { ++Closes; });
        Window->Initialize(Data.Path());
    }
    void Status(int code) { Window->HandleMessage(WM_BACKUP_STATUS, code, 0); }

    TRecordedPrompts Prompts;
    TFakeWorker Worker;
    TPrivateSessionBus Bus;
    std::unique_ptr<TFoMain> Window;
    int Closes = 0;
};

TEST_F(NoTrayTest, TheWindowOffersKonecAndBalloonsBecomeDesktopNotifications) {
    TFakeNotifications service(Bus, QStringLiteral("service"));
    ASSERT_TRUE(service.Registered());
    Start(Bus.Connect(QStringLiteral("program")));
    EXPECT_TRUE(Window->isVisible());
    EXPECT_TRUE(Window->BtnExit->isVisible());
    EXPECT_EQ(Window->BtnExit->text(), "&Konec");
    EXPECT_EQ(Window->BtnExit->toolTip(), "Konec");

    Status(bsRunStarted);
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return service.Calls.size() == 1 && Window->Notifier->Pending() == 0; }));
    const TNotifyCall& started = service.Calls[0];
    EXPECT_EQ(started.Application, "Sejfko");
    EXPECT_EQ(started.ReplacesId, 0u);
    EXPECT_EQ(started.Icon, "dialog-information");
    EXPECT_EQ(started.Summary, "Sejfko");
    EXPECT_EQ(started.Body, "Probíhá zálohování souborů");
    EXPECT_EQ(started.ExpireTimeout, 10000);
    EXPECT_EQ(started.Hints.value("desktop-entry").toString(), "sejfko");

    // A result text with line ends of its own and characters the service reads as markup.
    ReplaceLastMessage("Chyba při zálohování.\n\r(<disk> & \"plný\")");
    Status(bsRunFinished);
    ASSERT_TRUE(ProcessEventsUntil([&] { return service.Calls.size() == 2; }));
    EXPECT_EQ(service.Calls[1].Body,
              "Chyba při zálohování.\n(&lt;disk&gt; &amp; &quot;plný&quot;)");
    // It replaces the notification still shown, as a new balloon does.
    EXPECT_EQ(service.Calls[1].ReplacesId, 1u);

    WhenModalOpens([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    Window->HandleMessage(WM_SELECTION_MISSING, 0, 0);
    ASSERT_TRUE(ProcessEventsUntil([&] { return service.Calls.size() == 3; }));
    EXPECT_EQ(service.Calls[2].Icon, "dialog-error");
    EXPECT_EQ(service.Calls[2].Body,
              "Soubor s výběrem neexistuje, zvolte ho znovu v dialogu nastavení");

    // The close box only minimises; "Konec" ends the program.
    Window->close();
    EXPECT_EQ(Closes, 0);
    Window->BtnExit->click();
    EXPECT_EQ(Closes, 1);
    EXPECT_EQ(Worker.Stops, 1);
}

// A quick backup's result comes before the service has answered the start's notification: the
// result still replaces it instead of standing beside it.
TEST_F(NoTrayTest, ABalloonBeforeTheLastOnesAnswerStillReplacesIt) {
    TFakeNotifications service(Bus, QStringLiteral("service"));
    ASSERT_TRUE(service.Registered());
    Start(Bus.Connect(QStringLiteral("program")));
    Status(bsRunStarted);
    // The service has the call; its answer still travels through the bus.
    ASSERT_TRUE(ProcessEventsUntil([&] { return service.Calls.size() == 1; }));
    Status(bsRunFinished);
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return service.Calls.size() == 2 && Window->Notifier->Pending() == 0; }));
    EXPECT_EQ(service.Calls[0].ReplacesId, 0u);
    EXPECT_EQ(service.Calls[1].ReplacesId, 1u);
}

TEST_F(NoTrayTest, ServiceThatIsPlainTextGetsTheTextUnescaped) {
    TFakeNotifications service(Bus, QStringLiteral("service"));
    service.Capabilities = {QStringLiteral("body")};
    ASSERT_TRUE(service.Registered());
    Start(Bus.Connect(QStringLiteral("program")));
    ReplaceLastMessage("a < b & c");
    Status(bsRunFinished);
    ASSERT_TRUE(ProcessEventsUntil([&] { return service.Calls.size() == 1; }));
    EXPECT_EQ(service.Calls[0].Body, "a < b & c");
}

// No bus, no service, a service that never answers: the notification is lost, nothing else.
TEST_F(NoTrayTest, AMissingBusOrServiceNeverHoldsTheWindow) {
    struct TCase {
        const char* Name;
        bool Connected;
        bool Service;
        bool Silent;
    };
    const TCase cases[] = {
        {"no bus", false, false, false},
        {"no service", true, false, false},
        {"a service that never answers", true, true, true},
    };
    int round = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString suffix = QString::number(++round);
        std::unique_ptr<TFakeNotifications> service;
        if (c.Service) {
            service = std::make_unique<TFakeNotifications>(Bus, "service" + suffix);
            service->Silent = c.Silent;
            ASSERT_TRUE(service->Registered());
        }
        Closes = 0;
        Worker.Stops = 0;
        Start(c.Connected ? Bus.Connect("program" + suffix)
                          : QDBusConnection::connectToBus(
                                QStringLiteral("unix:path=/nonexistent/bus"), "none" + suffix));
        for (int code : {bsRunStarted, bsRunFinished, bsTransferStarted, bsTransferDone}) {
            Status(code);
        }
        EXPECT_EQ(Window->LblState->text(), "Přenos je dokončen");
        if (!c.Silent) {
            EXPECT_TRUE(ProcessEventsUntil([&] { return Window->Notifier->Pending() == 0; }));
            EXPECT_FALSE(Window->Notifier->LastError().isEmpty());
        } else {
            // The question reached the service, which keeps it unanswered.
            EXPECT_TRUE(ProcessEventsUntil([&] { return service->CapabilityQuestions == 1; }));
            EXPECT_TRUE(service->Calls.empty());
            EXPECT_EQ(Window->Notifier->Pending(), 1);
        }
        Window->BtnExit->click();
        EXPECT_EQ(Closes, 1);
        EXPECT_EQ(Worker.Stops, 1);
        Window.reset();
    }
}

TEST(NotificationBodyTest, LineEndsBecomeOneLineFeedAndMarkupIsEscaped) {
    EXPECT_EQ(NotificationBody("a\n\rb\r\nc\rd\ne", false), "a\nb\nc\nd\ne");
    EXPECT_EQ(NotificationBody("<b>&</b>", false), "<b>&</b>");
    EXPECT_EQ(NotificationBody("<b>&</b>", true), "&lt;b&gt;&amp;&lt;/b&gt;");
}

}  // namespace
}  // namespace sejfko::test
