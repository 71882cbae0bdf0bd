// The OR filter (N13) and the AND filter (N27): one filter pass, told which
// rule to test and which parameter list to read.
#include "app/Unit1.h"
#include "filtering/filter_pass.h"
#include "filtering/parameter_grid.h"
#include "platform/services.h"

#include <QLabel>

namespace {

void runFilterCommand(TForm1& form, vq::filtering::Rule rule, QTableView* grid) {
    form.blankStatistics();
    form.OpenDialog1.title = QStringLiteral("选择待过滤邮件列表文件-请确认已添加过滤参数项!");
    form.SaveDialog1.title = QStringLiteral("符合过滤条件的列表文件保存为");
    form.SaveDialog2.title = QStringLiteral("不符合过滤条件列表文件保存为");
    if (!vq::platform::execute(form.OpenDialog1, &form)) return;
    if (!vq::platform::execute(form.SaveDialog1, &form)) return;
    if (!vq::platform::execute(form.SaveDialog2, &form)) return;

    // The list as it stands now, text still in an open cell editor included.
    const vq::filtering::FilterCounts counts = vq::filtering::filterList(
        form.OpenDialog1.fileName, form.SaveDialog1.fileName, form.SaveDialog2.fileName, rule,
        parameterModel(grid)->list().shownRows(), [&form] { form.repaint(); });

    form.Label11->setText(QString::number(counts.read));
    form.Label13->setText(QString::number(counts.matching));
    form.Label15->setText(QString::number(counts.rest));
    form.Label17->setText(QString::number(counts.invalid()));
}

} // namespace

void TForm1::N13Click() {
    runFilterCommand(*this, vq::filtering::Rule::AnyRow, StringGrid2);
}
void TForm1::N27Click() {
    runFilterCommand(*this, vq::filtering::Rule::EveryRow, StringGrid3);
}
