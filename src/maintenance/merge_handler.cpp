// N4Click: the manual merge from the main window.
#include "app/Unit1.h"
#include "listio/listio.h"
#include "maintenance/merge.h"

#include <QFrame>
#include <optional>

using vq::platform::execute;
using vq::platform::services;

void TForm1::N4Click() {
    blankStatistics();
    OpenDialog1.title = QStringLiteral("选择待合并邮件列表文件A");
    OpenDialog2.title = QStringLiteral("选择待合并邮件列表文件B");
    SaveDialog1.title = QStringLiteral("合并后列表另存为");

    if (!execute(OpenDialog1, this)) return;
    vq::listio::TextReader a(OpenDialog1.fileName);
    if (!execute(OpenDialog2, this)) return;
    vq::listio::TextReader b(OpenDialog2.fileName);
    if (!execute(SaveDialog1, this)) return;

    // The busy cursor belongs to the strip of Panel1 that no child covers;
    // Qt would hand it down to every child, so the children keep the normal
    // one meanwhile. A failure below must not leave the panel busy for good.
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
    } busy{Panel1};

    vq::listio::TextWriter out(SaveDialog1.fileName);
    vq::maintenance::copyLines(a, out);
    vq::maintenance::copyLines(b, out);
    out.close();
    services().information(this, QStringLiteral("邮件列表合并成功!"));
    // The panel's cursor comes back here (busy), then B and A close.
}
