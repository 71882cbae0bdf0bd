// One list check through the main window, offscreen, with the two dialogs
// answered from the command line: the window's counterpart of
// `veskoqindra-cli check IN OUT`, for timing side by side with it.
//   check_window IN OUT
// Prints the outcome message and the three statistics labels.
#include "app/Unit1.h"
#include "checking/check_state.h"
#include "platform/services.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>

namespace {

// Answers the file dialogs in order and remembers the last message.
class AnsweringServices : public vq::platform::Services {
public:
    std::deque<std::string> names;
    QString message;
    bool runFileDialog(vq::platform::FileDialog& d, QWidget*) override {
        if (names.empty()) return false;
        d.fileName = names.front();
        names.pop_front();
        return true;
    }
    void information(QWidget*, const QString& text) override { message = text; }
    bool confirm(QWidget*, const QString&) override { return true; }
    std::optional<QString> inputBox(QWidget*, const QString&, const QString&,
                                    const QString&) override {
        return std::nullopt;
    }
    void openDocument(QWidget*, const QString&, const QString&) override {}
    void errorBox(QWidget*, const QString& text) override { message = text; }
};

} // namespace

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
    while (Form1->listCheck && Form1->listCheck->running)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("%s\n地址总数\t%s\n删除重复\t%s\n有效地址\t%s\n",
                answers.message.toUtf8().constData(), Form1->Label1->text().toUtf8().constData(),
                Form1->Label3->text().toUtf8().constData(),
                Form1->Label6->text().toUtf8().constData());
    destroyApplicationWindows();
    vq::platform::setServices(nullptr);
    return 0;
}
