// One OR or AND filter through the main window, offscreen: the parameter
// file imported into the list from its pop-up menu, then the filter run, each
// dialog answered from the command line. The window's counterpart of
// `veskoqindra-cli filter --or|--and --params P IN MATCH REST`.
//   filter_window or|and P IN MATCH REST
// Prints the four statistics labels, or the error box's text.
//   filter_window engine or|and P
// Prints the bytes the rule's matcher holds for the rows of P.
#include "answering_services.h"
#include "app/Unit1.h"
#include "filtering/engine.h"
#include "filtering/parameter_list.h"
#include "platform/ui/services.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "engine") == 0) {
        const auto rule = std::strcmp(argv[2], "or") == 0 ? vq::filtering::Rule::AnyRow
                                                          : vq::filtering::Rule::EveryRow;
        const vq::filtering::ContainmentEngine engine(rule,
                                                      vq::filtering::readParameterFile(argv[3]));
        std::printf("%zu\n", engine.memoryUse());
        return 0;
    }
    const bool anyRow = argc == 6 && std::strcmp(argv[1], "or") == 0;
    if (argc != 6 || (!anyRow && std::strcmp(argv[1], "and") != 0)) {
        std::fprintf(stderr, "usage: filter_window or|and P IN MATCH REST\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    AnsweringServices answers;
    // A real file dialog answers with full names; the chosen folder becomes
    // current after each, so relative names would drift.
    for (int i = 2; i < 6; ++i)
        answers.names.push_back(std::filesystem::absolute(argv[i]).string());
    vq::platform::setServices(&answers);

    createApplicationWindows();
    Form1->show();
    (anyRow ? Form1->N18 : Form1->N20)->trigger();
    (anyRow ? Form1->N13 : Form1->N27)->trigger();
    if (!answers.message.isEmpty()) std::printf("%s\n", answers.message.toUtf8().constData());
    std::printf(
        "过滤总数\t%s\n符合条件\t%s\n剩余列表\t%s\n无效列表\t%s\n",
        Form1->Label11->text().toUtf8().constData(), Form1->Label13->text().toUtf8().constData(),
        Form1->Label15->text().toUtf8().constData(), Form1->Label17->text().toUtf8().constData());
    destroyApplicationWindows();
    vq::platform::setServices(nullptr);
    return 0;
}
