// The real dialogs (no script installed), shown on the offscreen screen and
// looked at while they are open.
#include "platform/ui/services.h"
#include "testutil.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QScreen>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

using vq::platform::services;

// Runs f on the modal dialog once it is open, then closes it with Cancel.
void whileOpen(const std::function<void(QDialog&)>& f) {
    QTimer::singleShot(0, [f] {
        if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            f(*dlg);
            dlg->reject();
        } else {
            ADD_FAILURE() << "no dialog open";
        }
    });
}

TEST(QtDialogs, TheInputBoxStandsInTheMiddleOfTheScreenNotOfItsOwner) {
    QWidget owner;
    owner.setGeometry(10, 20, 300, 200); // far from the screen's middle
    owner.show();
    const QPoint middle = owner.screen()->geometry().center();
    QPoint box;
    whileOpen([&](QDialog& dlg) { box = dlg.frameGeometry().center(); });
    services().inputBox(&owner, QStringLiteral("提示信息"), QStringLiteral("请添加电子邮件地址"),
                        QStringLiteral("someone@example.com"));
    EXPECT_LE((box - middle).manhattanLength(), 1) << box.x() << "," << box.y();
}

// A file of list-like name whose contents say PDF: Qt would look inside it to
// name its type. Every opening of it is counted.
TEST(QtDialogs, AFileDialogNeverOpensTheFilesItShows) {
    vqtest::TempDir dir;
    const std::string file = dir.file("kmsg");
    vqtest::writeFile(file, "%PDF-1.4\n");
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, file.c_str(), IN_OPEN), 0);

    vq::platform::FileDialog d;
    d.kind = vq::platform::DialogKind::Save;
    d.title = QStringLiteral("校验后列表另存为");
    d.fileName = file; // opens in that folder with the file chosen
    QString type;
    whileOpen([&](QDialog& dlg) {
        if (auto* model = dlg.findChild<QFileSystemModel*>())
            type = model->type(model->index(QString::fromStdString(file)));
    });
    EXPECT_FALSE(vq::platform::execute(d, nullptr));

    char events[4096];
    EXPECT_LE(read(watch, events, sizeof events), 0) << "the file was opened";
    EXPECT_FALSE(type.isEmpty()) << "the dialog shows the file";
    EXPECT_FALSE(type.contains(QStringLiteral("PDF"))) << type.toStdString();
    close(watch);
}

} // namespace
