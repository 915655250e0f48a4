#include "gui/gui_prompts.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>

namespace sejfko::test {
namespace {

int VisibleBoxesWith(const QString& text) {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible() && box->text() == text) {
            ++count;
        }
    }
    return count;
}

TEST(GuiPromptsTest, ErrorDisplayReturnsAtOnceAndDoesNotRepeatAShownText) {
    const TGuiPrompts prompts = DefaultGuiPrompts();
    const QString text = QStringLiteral("Chyba při zálohování.");
    prompts.ShowError(nullptr, text);
    prompts.ShowError(nullptr, text);
    EXPECT_EQ(VisibleBoxesWith(text), 1);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->text() == text) {
            box->close();
        }
    }
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(VisibleBoxesWith(text), 0);
    // Once closed, the same text is shown again.
    prompts.ShowError(nullptr, text);
    EXPECT_EQ(VisibleBoxesWith(text), 1);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->text() == text) {
            box->close();
        }
    }
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace sejfko::test
