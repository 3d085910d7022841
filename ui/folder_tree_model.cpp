#include "ui/folder_tree_model.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QAbstractFileIconProvider>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>

namespace ui {

struct FolderTreeModel::Node {
    QString name;
    Node* parent = nullptr;
    int row = 0;       // its place among its parent's children
    bool read = false; // its subfolders have been read
    std::vector<std::unique_ptr<Node>> children;
};

namespace {

bool IsFolder(int folderFd, const char* name)
{
    struct stat status {};
    return fstatat(folderFd, name, &status, 0) == 0 && S_ISDIR(status.st_mode); // links followed
}

// The names of a folder's subfolders and links to folders, hidden ones left out. A folder that
// cannot be read has none.
QStringList ListFolders(const QString& path)
{
    QStringList names;
    DIR* folder = opendir(QFile::encodeName(path).constData());
    if (folder == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        // Most file systems say the type in the listing: files cost no status call.
        const bool isFolder =
            entry->d_type == DT_DIR || ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
                                        IsFolder(dirfd(folder), entry->d_name));
        if (isFolder) {
            names << QFile::decodeName(entry->d_name);
        }
    }
    closedir(folder);
    return names;
}

} // namespace

FolderTreeModel::FolderTreeModel(QObject* parent)
    : QAbstractItemModel(parent), top_(std::make_unique<Node>()),
      watcher_(new QFileSystemWatcher(this))
{
    collator_.setNumericMode(true);
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
    const QAbstractFileIconProvider icons;
    folderIcon_ = icons.icon(QAbstractFileIconProvider::Folder);
    driveIcon_ = icons.icon(QAbstractFileIconProvider::Drive);
    auto root = std::make_unique<Node>();
    root->name = QDir::rootPath();
    root->parent = top_.get();
    top_->children.push_back(std::move(root));
    top_->read = true;
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this,
            &FolderTreeModel::OnFolderChanged);
}

FolderTreeModel::~FolderTreeModel() = default;

FolderTreeModel::Node* FolderTreeModel::NodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : top_.get();
}

QModelIndex FolderTreeModel::IndexOf(const Node* node) const
{
    return node == top_.get() ? QModelIndex() : createIndex(node->row, 0, const_cast<Node*>(node));
}

QString FolderTreeModel::PathOf(const Node* node) const
{
    if (node->parent == top_.get()) {
        return node->name;
    }
    const QString above = PathOf(node->parent);
    return above.endsWith(QLatin1Char('/')) ? above + node->name
                                            : above + QLatin1Char('/') + node->name;
}

bool FolderTreeModel::Before(const QString& a, const QString& b) const
{
    const int order = collator_.compare(a, b);
    return order != 0 ? order < 0 : a < b;
}

QModelIndex FolderTreeModel::index(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    if (!clean.startsWith(QLatin1Char('/'))) {
        return {};
    }
    Node* node = top_->children.front().get();
    for (const QString& name : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!node->read) {
            Read(node);
        }
        const auto found =
            std::find_if(node->children.begin(), node->children.end(),
                         [&](const std::unique_ptr<Node>& child) { return child->name == name; });
        if (found != node->children.end()) {
            node = found->get();
            continue;
        }
        // Hidden, or in a folder that cannot be listed: shown because it was asked for.
        if (!QFileInfo(PathOf(node) + QLatin1Char('/') + name).isDir()) {
            return {};
        }
        Insert(node, name);
        node = std::find_if(node->children.begin(), node->children.end(),
                            [&](const std::unique_ptr<Node>& child) { return child->name == name; })
                   ->get();
    }
    return IndexOf(node);
}

QString FolderTreeModel::filePath(const QModelIndex& index) const
{
    return index.isValid() ? PathOf(NodeOf(index)) : QString();
}

void FolderTreeModel::StopWatching()
{
    delete watcher_;
    watcher_ = nullptr;
}

void FolderTreeModel::Read(Node* node)
{
    node->read = true; // before the rows go in: the view asks again while they do
    const QString path = PathOf(node);
    QStringList names = ListFolders(path);
    std::sort(names.begin(), names.end(),
              [this](const QString& a, const QString& b) { return Before(a, b); });
    if (watcher_ != nullptr) {
        watcher_->addPath(path);
    }
    if (names.isEmpty()) {
        return;
    }
    beginInsertRows(IndexOf(node), 0, static_cast<int>(names.size()) - 1);
    node->children.reserve(static_cast<std::size_t>(names.size()));
    for (const QString& name : names) {
        auto child = std::make_unique<Node>();
        child->name = name;
        child->parent = node;
        child->row = static_cast<int>(node->children.size());
        node->children.push_back(std::move(child));
    }
    endInsertRows();
}

void FolderTreeModel::Insert(Node* parent, const QString& name)
{
    auto& children = parent->children;
    const auto at = std::partition_point(
        children.begin(), children.end(),
        [&](const std::unique_ptr<Node>& child) { return Before(child->name, name); });
    const int row = static_cast<int>(at - children.begin());
    beginInsertRows(IndexOf(parent), row, row);
    auto child = std::make_unique<Node>();
    child->name = name;
    child->parent = parent;
    children.insert(at, std::move(child));
    for (std::size_t i = static_cast<std::size_t>(row); i < children.size(); ++i) {
        children[i]->row = static_cast<int>(i);
    }
    endInsertRows();
}

void FolderTreeModel::Unwatch(const Node* node)
{
    if (watcher_ == nullptr || !node->read) {
        return;
    }
    watcher_->removePath(PathOf(node));
    for (const auto& child : node->children) {
        Unwatch(child.get());
    }
}

void FolderTreeModel::Reread(Node* node)
{
    const QString path = PathOf(node);
    const QStringList names = ListFolders(path);
    auto& children = node->children;
    // Gone: neither listed nor (a hidden folder asked for by path) still a folder.
    for (int row = static_cast<int>(children.size()) - 1; row >= 0; --row) {
        const QString& name = children[static_cast<std::size_t>(row)]->name;
        if (names.contains(name) || QFileInfo(path + QLatin1Char('/') + name).isDir()) {
            continue;
        }
        beginRemoveRows(IndexOf(node), row, row);
        Unwatch(children[static_cast<std::size_t>(row)].get());
        children.erase(children.begin() + row);
        for (std::size_t i = static_cast<std::size_t>(row); i < children.size(); ++i) {
            children[i]->row = static_cast<int>(i);
        }
        endRemoveRows();
    }
    for (const QString& name : names) {
        const bool known = std::any_of(children.begin(), children.end(),
                                       [&](const auto& child) { return child->name == name; });
        if (!known) {
            Insert(node, name);
        }
    }
}

void FolderTreeModel::OnFolderChanged(const QString& path)
{
    Node* node = top_->children.front().get();
    for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const auto found =
            std::find_if(node->children.begin(), node->children.end(),
                         [&](const std::unique_ptr<Node>& child) { return child->name == name; });
        if (found == node->children.end()) {
            return; // gone with a folder above it
        }
        node = found->get();
    }
    if (node->read) {
        Reread(node);
    }
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const Node* node = NodeOf(parent);
    if (row < 0 || column != 0 || row >= static_cast<int>(node->children.size())) {
        return {};
    }
    return createIndex(row, 0, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const
{
    return child.isValid() ? IndexOf(NodeOf(child)->parent) : QModelIndex();
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const
{
    return parent.column() > 0 ? 0 : static_cast<int>(NodeOf(parent)->children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const
{
    const Node* node = NodeOf(parent);
    return !node->read || !node->children.empty(); // unread: it may have some
}

bool FolderTreeModel::canFetchMore(const QModelIndex& parent) const
{
    return !NodeOf(parent)->read;
}

void FolderTreeModel::fetchMore(const QModelIndex& parent)
{
    Node* node = NodeOf(parent);
    if (!node->read) {
        Read(node);
    }
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) {
        return {};
    }
    const Node* node = NodeOf(index);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return node->name;
    case Qt::DecorationRole:
        return node->parent == top_.get() ? driveIcon_ : folderIcon_;
    case FilePathRole:
        return PathOf(node);
    default:
        return {};
    }
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

} // namespace ui
