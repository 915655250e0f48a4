#include "gui/restore_file_tree.hpp"

#include <QDateTime>
#include <QHeaderView>
#include <QLocale>
#include <algorithm>
#include <unordered_map>

namespace sejfko {

namespace {

constexpr int PathRole = Qt::UserRole;
constexpr int IndexRole = Qt::UserRole + 1;  // of a file in FFiles; -1 for a folder

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Kept as bytes: a stored name need not be UTF-8.
QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string PathOf(const QTreeWidgetItem* item) {
    return item->data(0, PathRole).toByteArray().toStdString();
}

}  // namespace

TFileTree::TFileTree(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(3);
    setHeaderLabels(
        {QStringLiteral("Název"), QStringLiteral("Velikost"), QStringLiteral("Změněno")});
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    header()->setStretchLastSection(false);
    setUniformRowHeights(true);
}

void TFileTree::SetFiles(std::vector<TPointFile> files) {
    clear();
    std::sort(files.begin(), files.end(),
              [](const TPointFile& a, const TPointFile& b) { return a.Relative < b.Relative; });
    FFiles = std::move(files);
    const QLocale locale(QLocale::Czech);
    std::unordered_map<std::string, QTreeWidgetItem*> folders;
    const auto folderOf = [&](const std::string& relative) {
        QTreeWidgetItem* parent = invisibleRootItem();
        for (std::size_t end = relative.find('/'); end != std::string::npos;
             end = relative.find('/', end + 1)) {
            const std::string path = relative.substr(0, end);
            QTreeWidgetItem*& folder = folders[path];
            if (folder == nullptr) {
                const std::size_t slash = path.rfind('/');
                folder = new QTreeWidgetItem(parent);
                folder->setText(
                    0, FromUtf8(slash == std::string::npos ? path : path.substr(slash + 1)));
                folder->setData(0, PathRole, Bytes(path));
                folder->setData(0, IndexRole, -1);
                folder->setFlags(folder->flags() | Qt::ItemIsUserCheckable |
                                 Qt::ItemIsAutoTristate);
                folder->setCheckState(0, Qt::Checked);
            }
            parent = folder;
        }
        return parent;
    };
    for (std::size_t i = 0; i < FFiles.size(); ++i) {
        const TPointFile& file = FFiles[i];
        auto* item = new QTreeWidgetItem(folderOf(file.Relative));
        const std::size_t slash = file.Relative.rfind('/');
        item->setText(0, FromUtf8(slash == std::string::npos ? file.Relative
                                                             : file.Relative.substr(slash + 1)));
        item->setText(1, locale.formattedDataSize(static_cast<qint64>(file.Size)));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        if (file.Modified != 0) {
            item->setText(2, QDateTime::fromSecsSinceEpoch(file.Modified)
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        }
        item->setData(0, PathRole, Bytes(file.Relative));
        item->setData(0, IndexRole, static_cast<qlonglong>(i));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
    }
    // Opened down to where the tree branches, so the files are one click away.
    QTreeWidgetItem* item = invisibleRootItem();
    while (item->childCount() == 1 && item->child(0)->childCount() > 0) {
        item = item->child(0);
        item->setExpanded(true);
    }
    resizeColumnToContents(1);
    resizeColumnToContents(2);
}

QTreeWidgetItem* TFileTree::ItemOf(const std::string& relative) const {
    QTreeWidgetItem* item = invisibleRootItem();
    std::size_t start = 0;
    while (item != nullptr) {
        const std::size_t end = relative.find('/', start);
        const std::string path = relative.substr(0, end);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && next == nullptr; ++i) {
            if (PathOf(item->child(i)) == path) {
                next = item->child(i);
            }
        }
        if (end == std::string::npos || next == nullptr) {
            return next;
        }
        item = next;
        start = end + 1;
    }
    return nullptr;
}

bool TFileTree::AllChecked() const {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->checkState(0) != Qt::Checked) {
            return false;
        }
    }
    return true;
}

bool TFileTree::NoneChecked() const {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->checkState(0) != Qt::Unchecked) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> TFileTree::CheckedPaths() const {
    std::vector<std::string> paths;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        Collect(topLevelItem(i), paths);
    }
    return paths;
}

void TFileTree::Collect(QTreeWidgetItem* item, std::vector<std::string>& paths) const {
    switch (item->checkState(0)) {
        case Qt::Checked:
            paths.push_back(PathOf(item));
            break;
        case Qt::PartiallyChecked:
            for (int i = 0; i < item->childCount(); ++i) {
                Collect(item->child(i), paths);
            }
            break;
        case Qt::Unchecked:
            break;
    }
}

std::vector<TPointFile> TFileTree::CheckedFiles() const {
    std::vector<TPointFile> files;
    for (QTreeWidgetItemIterator it(const_cast<TFileTree*>(this)); *it != nullptr; ++it) {
        const qlonglong index = (*it)->data(0, IndexRole).toLongLong();
        if (index >= 0 && (*it)->checkState(0) == Qt::Checked) {
            files.push_back(FFiles[static_cast<std::size_t>(index)]);
        }
    }
    return files;
}

void TFileTree::Uncheck(const std::set<std::string>& relatives) {
    for (QTreeWidgetItemIterator it(this); *it != nullptr; ++it) {
        if ((*it)->data(0, IndexRole).toLongLong() >= 0 && relatives.count(PathOf(*it)) != 0) {
            (*it)->setCheckState(0, Qt::Unchecked);
        }
    }
}

}  // namespace sejfko
