#include "maintenance/ui/folder_pickers.h"

#include "listio/errors.h"
#include "platform/ui/services.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStorageInfo>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndentPerLevel = 8;
constexpr int kRowHeight = 16;

enum class FolderPicture { Open, Current, Closed };

// The three folder pictures, drawn here so they need no files and stay sharp.
QIcon folderIcon(FolderPicture kind) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor outline(128, 96, 0);
    const QColor back(240, 200, 80);
    const QColor front(255, 228, 130);
    p.setPen(outline);
    if (kind == FolderPicture::Closed) {
        p.setBrush(back);
        p.drawRect(1, 3, 5, 2);  // tab
        p.drawRect(1, 4, 13, 9); // body
        p.setPen(front);
        p.drawLine(2, 6, 13, 6);
    } else {
        p.setBrush(back);
        p.drawRect(1, 3, 5, 2);
        p.drawRect(1, 4, 12, 9);
        // The open flap leans forward over the body.
        QPainterPath flap;
        flap.moveTo(1, 13);
        flap.lineTo(4, 7);
        flap.lineTo(15, 7);
        flap.lineTo(12, 13);
        flap.closeSubpath();
        p.setBrush(kind == FolderPicture::Current ? QColor(255, 255, 255) : front);
        p.drawPath(flap);
        if (kind == FolderPicture::Current) {
            // A blue mark tells the current folder from the levels above it.
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 192));
            p.drawRect(6, 9, 4, 2);
        }
    }
    return QIcon(pm);
}

// Indents each row by its level, so the path reads as a staircase from the root.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem o(option);
        o.rect.setLeft(o.rect.left() + index.data(kLevelRole).toInt() * kIndentPerLevel);
        QStyledItemDelegate::paint(painter, o, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        return {s.width() + index.data(kLevelRole).toInt() * kIndentPerLevel, kRowHeight};
    }
};

QString joinPath(const QString& folder, const QString& name) {
    return folder == QLatin1String("/") ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new IndentDelegate(this));
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        vq::platform::guarded(window(), [&] { openRow(index.row()); });
    });
}

void TDirectoryListBox::setDirLabel(QLabel* label) {
    dirLabel_ = label;
    updateLabel();
}

void TDirectoryListBox::setDirectory(const QString& path) {
    QString clean = QDir::cleanPath(
        QDir(directory_.isEmpty() ? QDir::currentPath() : directory_).absoluteFilePath(path));
    QByteArray encoded = QFile::encodeName(clean);
    if (chdir(encoded.constData()) != 0)
        throw vq::EInOutError(vq::codeFromErrno(errno, encoded.toStdString()));
    showDirectory(clean);
}

void TDirectoryListBox::showDirectory(const QString& path) {
    directory_ = QDir::cleanPath(QDir(QDir::currentPath()).absoluteFilePath(path));
    rebuild();
    updateLabel();
    Q_EMIT directoryChanged(directory_);
}

void TDirectoryListBox::openRow(int row) {
    QListWidgetItem* it = item(row);
    if (!it) return;
    setDirectory(it->data(kPathRole).toString());
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        vq::platform::guarded(window(), [&] { openRow(currentRow()); });
        return;
    }
    QListWidget::keyPressEvent(e);
}

void TDirectoryListBox::rebuild() {
    clear();
    auto addRow = [this](const QString& text, const QString& path, int level, FolderPicture pic) {
        auto* it = new QListWidgetItem(folderIcon(pic), text, this);
        it->setData(kPathRole, path);
        it->setData(kLevelRole, level);
        it->setToolTip(path);
    };
    const QStringList parts = directory_.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    addRow(QStringLiteral("/"), QStringLiteral("/"), 0,
           parts.isEmpty() ? FolderPicture::Current : FolderPicture::Open);
    QString path = QStringLiteral("/");
    for (int i = 0; i < parts.size(); ++i) {
        path = joinPath(path, parts[i]);
        addRow(parts[i], path, i + 1,
               i + 1 == parts.size() ? FolderPicture::Current : FolderPicture::Open);
    }
    const int currentIndex = static_cast<int>(parts.size());
    const QStringList subFolders =
        QDir(directory_)
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subFolders)
        addRow(name, joinPath(directory_, name), currentIndex + 1, FolderPicture::Closed);
    setCurrentRow(currentIndex);
    scrollToItem(item(currentIndex));
}

void TDirectoryListBox::updateLabel() {
    if (!dirLabel_) return;
    dirLabel_->setText(dirLabel_->fontMetrics().elidedText(directory_, Qt::ElideMiddle, width()));
    dirLabel_->adjustSize();
}

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
    std::vector<std::pair<QString, QString>> found; // root, shown text
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        if (!v.isValid() || !v.isReady()) continue;
        QString root = QDir::cleanPath(v.rootPath());
        // Single files mounted into a container are no drives.
        if (!QFileInfo(root).isDir()) continue;
        if (std::any_of(found.begin(), found.end(), [&](auto& f) { return f.first == root; }))
            continue;
        QString shown =
            root + QStringLiteral("  [") + QString::fromUtf8(v.fileSystemType()) + QLatin1Char(']');
        found.emplace_back(root, shown);
    }
    if (std::none_of(found.begin(), found.end(),
                     [](auto& f) { return f.first == QLatin1String("/"); }))
        found.emplace_back(QStringLiteral("/"), QStringLiteral("/"));
    std::sort(found.begin(), found.end());
    for (auto& [root, shown] : found) {
        drives_.push_back({root, root});
        addItem(shown);
    }
    connect(this, &QComboBox::activated, this,
            [this](int index) { vq::platform::guarded(window(), [&] { chooseDrive(index); }); });
}

int TDriveComboBox::driveIndexOf(const QString& path) const {
    int best = -1;
    qsizetype bestLength = -1;
    for (size_t i = 0; i < drives_.size(); ++i) {
        const QString& root = drives_[i].root;
        bool under =
            root == QLatin1String("/") || path == root || path.startsWith(root + QLatin1Char('/'));
        if (under && root.size() > bestLength) {
            best = static_cast<int>(i);
            bestLength = root.size();
        }
    }
    return best;
}

void TDriveComboBox::setDirList(TDirectoryListBox* list) {
    list_ = list;
    connect(list, &TDirectoryListBox::directoryChanged, this,
            [this](const QString& path) { followDirectory(path); });
    followDirectory(list->directory());
}

void TDriveComboBox::followDirectory(const QString& path) {
    int index = driveIndexOf(path);
    if (index < 0) return;
    drives_[static_cast<size_t>(index)].folder = path;
    setCurrentIndex(index);
}

void TDriveComboBox::chooseDrive(int index) {
    if (!list_ || index < 0 || static_cast<size_t>(index) >= drives_.size()) return;
    const Drive d = drives_[static_cast<size_t>(index)];
    try {
        list_->setDirectory(d.folder);
    } catch (const vq::EInOutError&) {
        // The drive's remembered folder may have gone; its root still leads in.
        try {
            list_->setDirectory(d.root);
        } catch (...) {
            setCurrentIndex(driveIndexOf(list_->directory()));
            throw;
        }
    }
}
