// The real desktop services: Qt's own widget dialogs with the program's
// Chinese captions and buttons.
#include "platform/ui/services.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

namespace vq::platform {

namespace {

const QString kOk = QStringLiteral("确定");
const QString kCancel = QStringLiteral("放弃");

// "Text files(*.txt)|*.txt|All files(*.*)|*.*" -> Qt's "Text files (*.txt)"
// entries. "*.*" means every file on Windows; on Linux that is "*".
QStringList qtNameFilters(const QString& filter) {
    QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        if (int paren = desc.indexOf(QLatin1Char('(')); paren > 0) desc = desc.left(paren);
        desc = desc.trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        out << QStringLiteral("%1 (%2)").arg(desc, patterns.join(QLatin1Char(' ')));
    }
    return out;
}

// A window manager shortens a title that does not fit the title bar, and
// a message box sizes itself to its text only: "VeskoQindra V3.4" over a short
// "File not found." came out as "Ve...3.4". Room for the title and the title
// bar's buttons keeps it whole.
void makeRoomForTitle(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    const int wanted = box.fontMetrics().horizontalAdvance(box.windowTitle()) + 120;
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

// Qt's file model names a file's type and picks its icon by sniffing its
// contents when the name says nothing; a special file such as /proc/kmsg
// then blocks the window for good. Here both come from the name alone.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot()) return icon(Drive);
        if (info.isDir()) return icon(Folder);
        const QIcon themed = QIcon::fromTheme(byName(info).iconName());
        return themed.isNull() ? icon(File) : themed;
    }
    QString type(const QFileInfo& info) const override {
        // For folders and drives Qt reads nothing.
        if (info.isRoot() || info.isDir()) return QFileIconProvider::type(info);
        const QMimeType mime = byName(info);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }

private:
    QMimeType byName(const QFileInfo& info) const {
        return mimes_.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    }
    QMimeDatabase mimes_;
};

// Qt centres a dialog on its owner; the input box stands in the middle of
// the screen. The dialog gets the owner's window decoration, so the owner's
// frame tells the outer size before the box is mapped.
void centreOnScreen(QDialog& dlg, QWidget* owner) {
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    dlg.adjustSize();
    QMargins frame;
    if (owner && owner->window()->windowHandle())
        frame = owner->window()->windowHandle()->frameMargins();
    const QSize outer = dlg.size().grownBy(frame);
    const QPoint centre = screen->geometry().center();
    dlg.move(centre.x() - (outer.width() - 1) / 2, centre.y() - (outer.height() - 1) / 2);
}

class QtServices : public Services {
public:
    bool runFileDialog(FileDialog& d, QWidget* owner) override {
        NameOnlyIconProvider icons; // outlives the dialog and its file model
        QFileDialog dlg(owner, d.title);
        dlg.setObjectName(d.name);
        dlg.setOption(QFileDialog::DontUseNativeDialog, true);
        dlg.setIconProvider(&icons);
        dlg.setNameFilters(qtNameFilters(d.filter));
        dlg.setDefaultSuffix(d.defaultExt);
        if (d.kind == DialogKind::Save) {
            dlg.setAcceptMode(QFileDialog::AcceptSave);
            dlg.setFileMode(QFileDialog::AnyFile);
            dlg.setOption(QFileDialog::DontConfirmOverwrite, !d.overwritePrompt);
        } else {
            // A typed name of a file that does not exist is accepted; the
            // command then reports it when it opens the file.
            dlg.setAcceptMode(QFileDialog::AcceptOpen);
            // Qt's dialog takes several names only when they exist.
            dlg.setFileMode(d.multiple ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
        }
        dlg.setLabelText(QFileDialog::Accept, d.kind == DialogKind::Save
                                                  ? QStringLiteral("保存(&S)")
                                                  : QStringLiteral("打开(&O)"));
        dlg.setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
        QString last = fromFileName(d.fileName);
        if (!last.isEmpty()) {
            QFileInfo fi(QDir::current(), last);
            dlg.setDirectory(fi.absolutePath());
            dlg.selectFile(fi.fileName());
        } else {
            dlg.setDirectory(QDir::currentPath());
        }
        if (dlg.exec() != QDialog::Accepted) return false;
        QStringList files = dlg.selectedFiles();
        if (files.isEmpty()) return false;
        d.fileName = toFileName(files.first());
        d.fileNames.clear();
        for (const QString& f : files)
            d.fileNames.push_back(toFileName(f));
        return true;
    }

    void information(QWidget* owner, const QString& text) override {
        QMessageBox box(QMessageBox::Information, QStringLiteral("信息"), text,
                        QMessageBox::NoButton, owner);
        box.setObjectName(QStringLiteral("information"));
        QPushButton* ok = box.addButton(kOk, QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
    }

    bool confirm(QWidget* owner, const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("确认"), text, QMessageBox::NoButton,
                        owner);
        box.setObjectName(QStringLiteral("confirmation"));
        QPushButton* ok = box.addButton(kOk, QMessageBox::AcceptRole);
        QPushButton* cancel = box.addButton(kCancel, QMessageBox::RejectRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(cancel); // Esc and the close box answer "放弃"
        box.exec();
        return box.clickedButton() == ok;
    }

    std::optional<QString> inputBox(QWidget* owner, const QString& caption, const QString& prompt,
                                    const QString& value) override {
        QDialog dlg(owner);
        dlg.setObjectName(QStringLiteral("inputBox"));
        dlg.setWindowTitle(caption);
        auto* layout = new QVBoxLayout(&dlg);
        auto* label = new QLabel(prompt, &dlg);
        auto* edit = new QLineEdit(&dlg);
        edit->setMaxLength(255);
        edit->setText(value);
        edit->selectAll();
        label->setBuddy(edit);
        auto* buttons = new QDialogButtonBox(&dlg);
        QPushButton* ok = buttons->addButton(kOk, QDialogButtonBox::AcceptRole);
        buttons->addButton(kCancel, QDialogButtonBox::RejectRole);
        ok->setDefault(true);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
        layout->addWidget(label);
        layout->addWidget(edit);
        layout->addWidget(buttons);
        dlg.setMinimumWidth(300);
        centreOnScreen(dlg, owner);
        if (dlg.exec() != QDialog::Accepted) return std::nullopt;
        return edit->text();
    }

    void openDocument(QWidget*, const QString&, const QString& file) override {
        // A plain name is resolved against the current folder; addresses
        // (http:, mailto:) are handed over as they are.
        QUrl url = QUrl::fromUserInput(file, QDir::currentPath(), QUrl::AssumeLocalFile);
        QDesktopServices::openUrl(url);
    }

    bool canOpenDocument(const QString& file) override {
        const QFileInfo info(QDir::current(), file);
        if (!info.isFile()) return false;
        // The opener hands a file to xdg-open, which picks the program from
        // the desktop's MIME associations; ask that same database. A type
        // may be registered under an alias (.chm: application/x-chm).
        const QMimeType type = QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
        QStringList names = type.aliases();
        names.prepend(type.name());
        for (const QString& name : names) {
            QProcess query;
            query.start(QStringLiteral("xdg-mime"),
                        {QStringLiteral("query"), QStringLiteral("default"), name});
            if (!query.waitForFinished(5000)) {
                query.kill();
                query.waitForFinished();
                return false; // no xdg-mime, or it hangs: the opener would fail as well
            }
            if (query.exitCode() == 0 && !query.readAllStandardOutput().trimmed().isEmpty())
                return true;
        }
        return false;
    }

    void errorBox(QWidget* owner, const QString& text) override {
        QMessageBox box(QMessageBox::Critical, kAppTitle, text, QMessageBox::NoButton, owner);
        box.setObjectName(QStringLiteral("errorBox"));
        makeRoomForTitle(box);
        QPushButton* ok = box.addButton(kOk, QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
    }
};

} // namespace

Services* makeQtServices() {
    return new QtServices;
}

} // namespace vq::platform
