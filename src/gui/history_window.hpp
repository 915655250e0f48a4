#pragma once
// TDiHistory: the "Historie" window, the history of runs, transfers and restores as the table of
// `sejfko-cli log` shows it (the same columns and cells), newest first, failed ones in red; the
// lines the command prints below a record (why it failed, the skipped files) are the record's
// child rows. GUI thread only.

#include <QDialog>
#include <string>

class QTreeWidget;

namespace sejfko {

class TDiHistory : public QDialog {
    Q_OBJECT
public:
    // Reads the history of `dataDirectory`.
    explicit TDiHistory(const std::string& dataDirectory, QWidget* parent = nullptr);

    // Reads it again.
    void Reload();

    QTreeWidget* LvHistory = nullptr;

private:
    std::string FDataDirectory;
};

}  // namespace sejfko
