#pragma once

// The folder tree of the window: folders only, read when they are opened.

#include <memory>
#include <vector>

#include <QAbstractItemModel>
#include <QCollator>
#include <QIcon>
#include <QString>

class QFileSystemWatcher;

namespace ui {

// A tree of the folders below "/" for Dir1. A folder's subfolders are read when the view opens
// it or a path below it is asked for, and only folders are kept: a folder of a million files
// costs its read, not a row per file. Names beginning with "." are left out, links to folders
// are shown under the link's name, and each level is sorted as a file manager sorts (numbers
// by value, case ignored). Folders read are watched, so folders made or removed elsewhere
// show up, until StopWatching.
class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Roles { FilePathRole = Qt::UserRole + 1 };

    explicit FolderTreeModel(QObject* parent = nullptr);
    ~FolderTreeModel() override;

    // The row of a folder given by its absolute path; its parents are read on the way.
    // Invalid when the folder does not exist. A hidden folder asked for by path is shown.
    QModelIndex index(const QString& path);
    QString filePath(const QModelIndex& index) const;
    // Folders read from now on are not watched, and those watched are let go.
    void StopWatching();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Node;

    Node* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOf(const Node* node) const;
    QString PathOf(const Node* node) const;
    // Reads a folder's subfolders once (Read) or again, keeping the rows still there (Reread).
    void Read(Node* node);
    void Reread(Node* node);
    void Insert(Node* parent, const QString& name);
    void Unwatch(const Node* node);
    void OnFolderChanged(const QString& path);
    bool Before(const QString& a, const QString& b) const;

    std::unique_ptr<Node> top_; // the parent of "/", never shown
    QCollator collator_;
    QIcon folderIcon_;
    QIcon driveIcon_;
    QFileSystemWatcher* watcher_ = nullptr; // null once watching stopped
};

} // namespace ui
