#include "maintenance/ui/Unit2.h"

#include "components/design_fonts.h"
#include "components/toolbar_pictures.h"
#include "maintenance/folder_merge.h"
#include "maintenance/ui/folder_pickers.h"
#include "maintenance/ui/screen_cursor.h"

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

using vq::platform::DialogKind;

namespace {

QPushButton* mergeButton(QWidget* parent, const char* name, const QString& caption, int top) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(200, top, 73, 33);
    QFont f = vq::components::songFont(13);
    f.setBold(true);
    f.setItalic(true);
    b->setFont(f);
    return b;
}

// Repainting the count after every line of a ten-million-line merge would
// cost more than the merge; a few dozen repaints a second still show it move.
constexpr qint64 kRepaintEveryMs = 40;

} // namespace

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("指定目录下邮件列表自动合并"));
    setWindowIcon(vq::components::programIcon());
    setFont(vq::components::formFont());
    resize(323, 192);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 0, 305, 185);

    Label1 = new QLabel(GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(16, 16);

    Label2 = new QLabel(QStringLiteral("0"), GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(176, 16, 121, 13);
    vq::components::showAsRunningCount(Label2);

    DirectoryListBox1 = new TDirectoryListBox(GroupBox1);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setGeometry(16, 32, 153, 121);
    // The list starts where the program was started, without moving anything.
    DirectoryListBox1->showDirectory(QDir::currentPath());
    DirectoryListBox1->setDirLabel(Label1);

    DriveComboBox1 = new TDriveComboBox(GroupBox1);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(16, 152, 153, DriveComboBox1->sizeHint().height());
    DriveComboBox1->setDirList(DirectoryListBox1);

    Button1 = mergeButton(GroupBox1, "Button1", QStringLiteral("开始合并"), 56);
    Button2 = mergeButton(GroupBox1, "Button2", QStringLiteral("取消合并"), 120);
    connect(Button1, &QPushButton::clicked, this,
            [this] { vq::platform::guarded(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { vq::platform::guarded(this, [this] { Button2Click(); }); });

    SaveDialog1.kind = DialogKind::Save;
    SaveDialog1.name = QStringLiteral("SaveDialog1");
    SaveDialog1.filter = QStringLiteral("邮件列表[*.txt]|*.txt");
    SaveDialog1.defaultExt = QStringLiteral("txt");
    SaveDialog1.overwritePrompt = true;
}

TForm2::~TForm2() = default;

void TForm2::showEvent(QShowEvent* e) {
    if (!centred_) {
        centred_ = true;
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            move(s->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
        }
    }
    QWidget::showEvent(e);
}

void TForm2::closeEvent(QCloseEvent* e) {
    // Closing only hides the window; it keeps its folder, drive and count. The
    // event is refused so that closing it never counts as closing the last window.
    e->ignore();
    hide();
}

void TForm2::Button2Click() {
    close();
}

void TForm2::showCount(int64_t count) {
    Label2->setText(QString::number(count));
    Label2->repaint();
}

void TForm2::Button1Click() {
    SaveDialog1.title = QStringLiteral("合并后列表保存为");
    if (!vq::platform::execute(SaveDialog1, this)) return;
    vq::maintenance::BusyScreenCursor busy;
    const std::string folder = vq::platform::toFileName(DirectoryListBox1->directory());
    if (mainWindow) mainWindow->repaint();
    repaint();

    vq::maintenance::FolderMerger merger;
    QElapsedTimer sinceRepaint;
    merger.progress = [&](int64_t count) {
        if (sinceRepaint.isValid() && sinceRepaint.elapsed() < kRepaintEveryMs) return;
        showCount(count);
        sinceRepaint.start();
    };
    try {
        merger.run(folder, SaveDialog1.fileName);
    } catch (...) {
        // The count shows every line that made it into the output; before the
        // first line it still shows the previous merge's count.
        if (merger.lines() > 0) showCount(merger.lines());
        throw;
    }
    showCount(merger.lines());
}
