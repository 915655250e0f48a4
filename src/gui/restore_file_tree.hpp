#pragma once
// The files of a point in time as a tree with check boxes (folders check and uncheck all below
// them), and what the checks select: the fewest stored paths that name exactly the checked
// files (a folder whose files are all checked is one path), as the restore's "only" list takes
// them. GUI thread only.

#include <QTreeWidget>
#include <set>
#include <string>
#include <vector>

#include "gui/restore_worker.hpp"

namespace sejfko {

class TFileTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit TFileTree(QWidget* parent = nullptr);

    // Replaces the tree with `files`, every one checked.
    void SetFiles(std::vector<TPointFile> files);
    std::size_t FileCount() const { return FFiles.size(); }

    // The item of a stored path (a file or a folder), or null.
    QTreeWidgetItem* ItemOf(const std::string& relative) const;
    // True when every file is checked (the restore then needs no list), false otherwise.
    bool AllChecked() const;
    bool NoneChecked() const;
    // The checked selection as stored paths.
    std::vector<std::string> CheckedPaths() const;
    // The checked files themselves.
    std::vector<TPointFile> CheckedFiles() const;
    // Unchecks these files.
    void Uncheck(const std::set<std::string>& relatives);

private:
    void Collect(QTreeWidgetItem* item, std::vector<std::string>& paths) const;

    std::vector<TPointFile> FFiles;  // sorted by stored path; items carry their index
};

}  // namespace sejfko
