#pragma once
// TGuiMessageSink: the desktop program's receiver of the core's notifications. Post and
// ShowException may be called from any thread; both only queue the work to the main window's
// thread (the worker never waits for the user interface), where the window handles the message
// or the standard exception display shows the text. Messages for a window that is gone are
// dropped.

#include <QPointer>
#include <string>

#include "platform/message_sink.hpp"

namespace sejfko {

class TFoMain;

class TGuiMessageSink final : public TMessageSink {
public:
    explicit TGuiMessageSink(TFoMain* window);
    void Post(unsigned message, intptr_t wParam, intptr_t lParam) override;
    void ShowException(const std::string& text) override;

private:
    QPointer<TFoMain> FWindow;
};

}  // namespace sejfko
