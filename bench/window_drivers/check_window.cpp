// One list check through the main window, offscreen, with the two dialogs
// answered from the command line: the window's counterpart of
// `veskoqindra-cli check IN OUT`, for timing side by side with it.
//   check_window IN OUT
// Prints the outcome message and the three statistics labels.
#include "checking/ui/check_window.h"
#include "answering_services.h"
#include "app/Unit1.h"
#include "platform/ui/services.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: check_window IN OUT\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    AnsweringServices answers;
    // A real file dialog answers with full names; the chosen folder becomes
    // current after each, so relative names would drift.
    answers.names = {std::filesystem::absolute(argv[1]).string(),
                     std::filesystem::absolute(argv[2]).string()};
    vq::platform::setServices(&answers);

    createApplicationWindows();
    Form1->N6->trigger();
    while (Form1->listCheck().running())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("%s\n地址总数\t%s\n删除重复\t%s\n有效地址\t%s\n",
                answers.message.toUtf8().constData(), Form1->Label1->text().toUtf8().constData(),
                Form1->Label3->text().toUtf8().constData(),
                Form1->Label6->text().toUtf8().constData());
    destroyApplicationWindows();
    vq::platform::setServices(nullptr);
    return 0;
}
