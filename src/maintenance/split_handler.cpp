// The splitter: "自动分割器(&C)" and the toolbar's "自动分割".
#include "app/Unit1.h"
#include "listio/listio.h"
#include "maintenance/screen_cursor.h"
#include "maintenance/split.h"

#include <QLabel>

using vq::platform::services;

void TForm1::N5Click() {
    namespace m = vq::maintenance;
    blankStatistics();
    OpenDialog1.title = QStringLiteral("选择待分割邮件列表文件");
    if (!vq::platform::execute(OpenDialog1, this)) return;
    const std::string input = OpenDialog1.fileName;

    repaint(); // the blank labels show while the list is counted
    const int64_t lineCount = vq::listio::countLines(input);
    Label1->setText(QString::number(lineCount));

    const QString caption = QStringLiteral("提示信息");
    std::optional<QString> sizeText =
        services().inputBox(this, caption, QStringLiteral("请输入分割列表基准数"),
                            QString::fromUtf8(m::kDefaultSplitSize));
    if (!sizeText) return;
    // Cancelling the name is no cancel: the files are then named 1.txt, 2.txt, ...
    std::optional<QString> baseText =
        services().inputBox(this, caption, QStringLiteral("请输入分割后文件名称"),
                            QString::fromUtf8(m::kDefaultSplitBase));
    const std::string baseName = baseText ? vq::platform::toFileName(*baseText) : std::string();
    const int32_t size = m::splitSizeFromText(sizeText->toStdString());

    int64_t files = 0;
    {
        m::BusyScreenCursor busy;
        repaint();
        // A plain base name lands in the current folder, which the open
        // dialog has just made the input's folder.
        files = m::splitFile(input, lineCount, size, baseName);
    }
    Label8->setText(QString::number(files));
    services().information(this, QStringLiteral("邮件列表分割成功!"));
}
