// Self-add: "自添加列表(&T)" appends one typed address to a list file.
#include "app/Unit1.h"
#include "maintenance/selfadd.h"
#include "platform/codepage.h"

using vq::platform::services;

void TForm1::N12Click() {
    namespace m = vq::maintenance;
    blankStatistics();
    std::optional<QString> typed =
        services().inputBox(this, QStringLiteral("提示信息"), QStringLiteral("请添加电子邮件地址"),
                            QString::fromUtf8(m::kSampleAddress));
    if (!typed) return;
    OpenDialog1.title = QStringLiteral("请打开邮件列表文件");
    if (!vq::platform::execute(OpenDialog1, this)) return;
    // The lists are GB2312 files, so the typed text is written in that code page.
    m::appendAddress(OpenDialog1.fileName, vq::platform::toCodePage(*typed));
    services().information(this, QStringLiteral("邮件地址添加完毕!"));
}
