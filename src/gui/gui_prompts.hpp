#pragma once
// Every question, message box and file dialog of the desktop program goes through these
// replaceable functions, so that tests can answer them without a blocking window. The defaults
// show the toolkit's boxes and dialogs. GUI thread only.

#include <QString>
#include <functional>

class QWidget;

namespace sejfko {

struct TGuiPrompts {
    // An information box (title "Information", button "OK"); returns when it is closed.
    std::function<void(QWidget* parent, const QString& text)> Information;
    // A confirmation box (title "Confirm", buttons "&Yes" and "&No"); true for Yes.
    std::function<bool(QWidget* parent, const QString& text)> Confirm;
    // The standard exception display: shows the text and returns at once.
    std::function<void(QWidget* parent, const QString& text)> ShowError;
    // A folder browser; an empty result means cancelled.
    std::function<QString(QWidget* parent, const QString& caption)> ChooseDirectory;
    // A file-open dialog for an existing file; an empty result means cancelled.
    std::function<QString(QWidget* parent, const QString& caption, const QString& initialFile,
                          const QString& filter)>
        ChooseFile;
};

// The installed functions (the defaults until a test replaces them).
TGuiPrompts& GuiPrompts();
// The toolkit's own boxes and dialogs.
TGuiPrompts DefaultGuiPrompts();

}  // namespace sejfko
