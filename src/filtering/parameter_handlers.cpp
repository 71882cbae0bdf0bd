// Add, delete, import and export for the OR list (StringGrid2) and the AND
// list (StringGrid3). The two lists are twins; only the controls and the
// import dialog's title differ.
#include "app/Unit1.h"
#include "filtering/parameter_grid.h"
#include "platform/services.h"

#include <QLineEdit>

namespace {

TParameterListModel& listOf(QTableView* grid) {
    TParameterListModel* m = parameterModel(grid);
    Q_ASSERT(m);
    return *m;
}

int selectionTopOf(QTableView* grid) {
    auto* g = qobject_cast<TParameterGrid*>(grid);
    return g ? g->selectionTop() : 0;
}

void importInto(TForm1& form, QTableView* grid, const QString& title) {
    form.OpenDialog1.title = title;
    if (!vq::platform::execute(form.OpenDialog1, &form)) return;
    listOf(grid).importFile(form.OpenDialog1.fileName);
}

void exportFrom(TForm1& form, QTableView* grid) {
    form.SaveDialog1.title = QStringLiteral("过滤参数项文件保存为");
    if (!vq::platform::execute(form.SaveDialog1, &form)) return;
    listOf(grid).exportFile(form.SaveDialog1.fileName);
}

} // namespace

void TForm1::Button1Click() {
    listOf(StringGrid2).add(Edit1->text());
}
void TForm1::Button2Click() {
    listOf(StringGrid3).add(Edit2->text());
}

void TForm1::N16Click() {
    listOf(StringGrid2).remove(selectionTopOf(StringGrid2));
}
void TForm1::N17Click() {
    listOf(StringGrid3).remove(selectionTopOf(StringGrid3));
}

void TForm1::N18Click() {
    importInto(*this, StringGrid2, QStringLiteral("选择或条件过滤参数文件"));
}
void TForm1::N20Click() {
    importInto(*this, StringGrid3, QStringLiteral("选择与条件过滤参数文件"));
}

void TForm1::N19Click() {
    exportFrom(*this, StringGrid2);
}
void TForm1::N21Click() {
    exportFrom(*this, StringGrid3);
}
