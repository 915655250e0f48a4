#include "gui/history_window.hpp"

#include <QBrush>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "backup/history_table.hpp"
#include "gui/gui_images.hpp"

namespace sejfko {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Right-aligned: the numbers (files, bytes, duration).
bool NumberColumn(int column) {
    return column >= 3 && column <= 6;
}

}  // namespace

TDiHistory::TDiHistory(const std::string& dataDirectory, QWidget* parent)
    : QDialog(parent), FDataDirectory(dataDirectory) {
    setObjectName(QStringLiteral("DiHistory"));
    setWindowTitle(QStringLiteral("Historie"));
    setWindowIcon(ProgramIcon());
    LvHistory = new QTreeWidget(this);
    QStringList captions;
    for (const std::string& caption : HistoryColumns()) {
        captions.append(FromUtf8(caption));
    }
    LvHistory->setColumnCount(static_cast<int>(captions.size()));
    LvHistory->setHeaderLabels(captions);
    LvHistory->setUniformRowHeights(true);
    LvHistory->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* reload =
        buttons->addButton(QStringLiteral("&Načíst znovu"), QDialogButtonBox::ActionRole);
    buttons->addButton(QStringLiteral("&Zavřít"), QDialogButtonBox::RejectRole);
    connect(reload, &QPushButton::clicked, this, &TDiHistory::Reload);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LvHistory);
    layout->addWidget(buttons);
    resize(900, 420);
    Reload();
}

void TDiHistory::Reload() {
    LvHistory->clear();
    const std::vector<THistoryRecord> records = ReadHistory(FDataDirectory);
    const QBrush failed(Qt::red);
    // Newest first: what the user looks for is usually the last run.
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        const THistoryRow row = HistoryRowOf(*record);
        auto* item = new QTreeWidgetItem(LvHistory);
        for (std::size_t i = 0; i < row.Cells.size(); ++i) {
            const int column = static_cast<int>(i);
            item->setText(column, FromUtf8(row.Cells[i]));
            if (NumberColumn(column)) {
                item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
            }
            if (row.Failed) {
                item->setForeground(column, failed);
            }
        }
        for (const std::string& detail : row.Details) {
            auto* child = new QTreeWidgetItem(item);
            child->setText(0, FromUtf8(detail));
            child->setFirstColumnSpanned(true);
            if (row.Failed) {
                child->setForeground(0, failed);
            }
        }
    }
    if (LvHistory->topLevelItemCount() == 0) {
        auto* item = new QTreeWidgetItem(LvHistory);
        item->setText(0, QStringLiteral("Historie je prázdná."));
        item->setFirstColumnSpanned(true);
    }
}

}  // namespace sejfko
