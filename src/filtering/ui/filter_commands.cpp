#include "filtering/ui/filter_commands.h"

#include "filtering/filter_pass.h"
#include "filtering/ui/parameter_grid.h"

#include <QLabel>

namespace vq::filtering {

namespace {

TParameterListModel& listOf(QTableView* grid) {
    TParameterListModel* m = parameterModel(grid);
    Q_ASSERT(m);
    return *m;
}

} // namespace

void runFilter(const FilterWindowParts& parts, Rule rule, QTableView* grid) {
    parts.openDialog->title = QStringLiteral("选择待过滤邮件列表文件-请确认已添加过滤参数项!");
    parts.matchingDialog->title = QStringLiteral("符合过滤条件的列表文件保存为");
    parts.restDialog->title = QStringLiteral("不符合过滤条件列表文件保存为");
    if (!platform::execute(*parts.openDialog, parts.window)) return;
    if (!platform::execute(*parts.matchingDialog, parts.window)) return;
    if (!platform::execute(*parts.restDialog, parts.window)) return;

    const FilterCounts counts = filterList(
        parts.openDialog->fileName, parts.matchingDialog->fileName, parts.restDialog->fileName,
        rule, listOf(grid).list().shownRows(), [&parts] { parts.window->repaint(); });

    parts.read->setText(QString::number(counts.read));
    parts.matching->setText(QString::number(counts.matching));
    parts.rest->setText(QString::number(counts.rest));
    parts.invalid->setText(QString::number(counts.invalid()));
}

void addParameter(QTableView* grid, const QString& text) {
    listOf(grid).add(text);
}

void deleteParameter(QTableView* grid) {
    auto* g = qobject_cast<TParameterGrid*>(grid);
    listOf(grid).remove(g ? g->selectionTop() : 0);
}

void importParameters(QTableView* grid, QWidget* window, platform::FileDialog& openDialog,
                      const QString& title) {
    openDialog.title = title;
    if (!platform::execute(openDialog, window)) return;
    listOf(grid).importFile(openDialog.fileName);
}

void exportParameters(QTableView* grid, QWidget* window, platform::FileDialog& saveDialog) {
    saveDialog.title = QStringLiteral("过滤参数项文件保存为");
    if (!platform::execute(saveDialog, window)) return;
    listOf(grid).exportFile(saveDialog.fileName);
}

} // namespace vq::filtering
