#include "gui/gui_message_sink.hpp"

#include <QMetaObject>

#include "gui/gui_prompts.hpp"
#include "gui/main_window.hpp"

namespace sejfko {

TGuiMessageSink::TGuiMessageSink(TFoMain* window) : FWindow(window) {}

void TGuiMessageSink::Post(unsigned message, intptr_t wParam, intptr_t lParam) {
    TFoMain* window = FWindow.data();
    if (window == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        window,
        [window, message, wParam, lParam] { window->HandleMessage(message, wParam, lParam); },
        Qt::QueuedConnection);
}

void TGuiMessageSink::ShowException(const std::string& text) {
    TFoMain* window = FWindow.data();
    if (window == nullptr) {
        return;
    }
    const QString message = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        window, [window, message] { GuiPrompts().ShowError(window, message); },
        Qt::QueuedConnection);
}

}  // namespace sejfko
