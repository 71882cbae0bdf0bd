#include "maintenance/ui/list_commands.h"

#include "listio/listio.h"
#include "maintenance/merge.h"
#include "maintenance/selfadd.h"
#include "maintenance/split.h"
#include "maintenance/ui/screen_cursor.h"
#include "platform/ui/codepage.h"

#include <QFrame>
#include <QLabel>

using vq::platform::execute;
using vq::platform::services;

namespace vq::maintenance {

void runManualMerge(QWidget* window, platform::FileDialog& openA, platform::FileDialog& openB,
                    platform::FileDialog& save, QFrame* busyPanel) {
    openA.title = QStringLiteral("选择待合并邮件列表文件A");
    openB.title = QStringLiteral("选择待合并邮件列表文件B");
    save.title = QStringLiteral("合并后列表另存为");

    // Each list is opened as soon as it is chosen, so a missing one is
    // reported before the next dialog.
    if (!execute(openA, window)) return;
    listio::TextReader a(openA.fileName);
    if (!execute(openB, window)) return;
    listio::TextReader b(openB.fileName);
    if (!execute(save, window)) return;

    // The busy cursor belongs to the strip of the panel that no child
    // covers; Qt would hand it down to every child, so the children keep the
    // normal one meanwhile. A failure below must not leave the panel busy.
    struct BusyPanel {
        QFrame* panel;
        QList<QWidget*> normal;
        explicit BusyPanel(QFrame* p) : panel(p) {
            for (QWidget* child : p->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!child->testAttribute(Qt::WA_SetCursor)) {
                    child->setCursor(Qt::ArrowCursor);
                    normal.append(child);
                }
            panel->setCursor(Qt::BusyCursor);
        }
        ~BusyPanel() {
            panel->unsetCursor();
            for (QWidget* child : normal)
                child->unsetCursor();
        }
    } busy{busyPanel};

    mergeFiles(a, b, save.fileName);
    services().information(window, QStringLiteral("邮件列表合并成功!"));
}

void runSplit(QWidget* window, platform::FileDialog& open, QLabel* lines, QLabel* files) {
    open.title = QStringLiteral("选择待分割邮件列表文件");
    if (!execute(open, window)) return;
    const std::string input = open.fileName;

    window->repaint(); // the blank labels show while the list is counted
    const int64_t lineCount = listio::countLines(input);
    lines->setText(QString::number(lineCount));

    const QString caption = QStringLiteral("提示信息");
    std::optional<QString> sizeText =
        services().inputBox(window, caption, QStringLiteral("请输入分割列表基准数"),
                            QString::fromUtf8(kDefaultSplitSize));
    if (!sizeText) return;
    // Cancelling the name is no cancel: the files are then named 1.txt, 2.txt, ...
    std::optional<QString> baseText =
        services().inputBox(window, caption, QStringLiteral("请输入分割后文件名称"),
                            QString::fromUtf8(kDefaultSplitBase));
    const std::string baseName = baseText ? platform::toFileName(*baseText) : std::string();
    const int32_t size = splitSizeFromText(sizeText->toStdString());

    int64_t made = 0;
    {
        BusyScreenCursor busy;
        window->repaint();
        // A plain base name lands in the current folder, which the open
        // dialog has just made the input's folder.
        made = splitFile(input, lineCount, size, baseName);
    }
    files->setText(QString::number(made));
    services().information(window, QStringLiteral("邮件列表分割成功!"));
}

void runSelfAdd(QWidget* window, platform::FileDialog& open) {
    std::optional<QString> typed = services().inputBox(window, QStringLiteral("提示信息"),
                                                       QStringLiteral("请添加电子邮件地址"),
                                                       QString::fromUtf8(kSampleAddress));
    if (!typed) return;
    open.title = QStringLiteral("请打开邮件列表文件");
    if (!execute(open, window)) return;
    // The lists are GB2312 files, so the typed text is written in that code page.
    appendAddress(open.fileName, platform::toCodePage(*typed));
    services().information(window, QStringLiteral("邮件地址添加完毕!"));
}

} // namespace vq::maintenance
