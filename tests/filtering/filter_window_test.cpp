// The parameter panels and the two filters as a user drives them, from the
// first dialog to the counts, through the scripted platform.
#include "app/Unit1.h"
#include "filtering/ui/domain_window.h"
#include "filtering/ui/parameter_grid.h"
#include "filtering/ui/subtract_command.h"
#include "platform/ui/codepage.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using vq::platform::DialogKind;
using Rows = std::vector<std::string>;

namespace {

const QString kOpenTitle = QStringLiteral("选择待过滤邮件列表文件-请确认已添加过滤参数项!");
const QString kMatchTitle = QStringLiteral("符合过滤条件的列表文件保存为");
const QString kRestTitle = QStringLiteral("不符合过滤条件列表文件保存为");

class FilterWindow : public ::testing::Test {
protected:
    void SetUp() override {
        createApplicationWindows();
        Form1->show();
        vqtest::writeFile(dir.file("in.txt"), "A@B.CN\r\nx@y.com\r\nbad\r\nq@w.cn.com\r\n");
    }
    void TearDown() override {
        EXPECT_TRUE(run.script.failures().empty()) << run.script.failures().front().toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        destroyApplicationWindows();
    }
    static Rows rows(QTableView* grid) { return parameterModel(grid)->list().shownRows(); }
    static QLineEdit* editorOf(QTableView* grid) {
        return qobject_cast<QLineEdit*>(grid->indexWidget(grid->currentIndex()));
    }
    void queueFilterDialogs() {
        run.script.open(kOpenTitle, dir.file("in.txt"))
            .save(kMatchTitle, dir.file("m.txt"))
            .save(kRestTitle, dir.file("r.txt"));
    }
    std::vector<std::string> counts() const {
        std::vector<std::string> v;
        for (QLabel* l : {Form1->Label8, Form1->Label1, Form1->Label3, Form1->Label6,
                          Form1->Label11, Form1->Label13, Form1->Label15, Form1->Label17})
            v.push_back(l->text().toStdString());
        return v;
    }
    vq::platform::ScopedScript run;
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
};

} // namespace

TEST_F(FilterWindow, AddImportExportThroughTheirDialogs) {
    Form1->Edit1->setText(QStringLiteral(" 或.CN "));
    QTest::mouseClick(Form1->Button1, Qt::LeftButton);
    QTest::mouseClick(Form1->Button1, Qt::LeftButton);
    EXPECT_EQ(rows(Form1->StringGrid2), (Rows{"\xBB\xF2.CN", "\xBB\xF2.CN"}));
    EXPECT_EQ(Form1->StringGrid2->model()->index(1, 0).data().toString(), QStringLiteral("或.CN"));
    EXPECT_EQ(rows(Form1->StringGrid3), (Rows{""})); // the twin is untouched

    run.script.save(QStringLiteral("过滤参数项文件保存为"), dir.file("p.txt"))
        .open(QStringLiteral("选择与条件过滤参数文件"), dir.file("p.txt"))
        .cancelFile(DialogKind::Open, QStringLiteral("选择或条件过滤参数文件"))
        .cancelFile(DialogKind::Save, QStringLiteral("过滤参数项文件保存为"))
        .open(QStringLiteral("选择或条件过滤参数文件"), dir.file("missing.txt"))
        .error(QStringLiteral("File not found."));
    Form1->N19->trigger();
    EXPECT_EQ(vqtest::readFile(dir.file("p.txt")), "\xBB\xF2.CN\r\n\xBB\xF2.CN\r\n");
    Form1->N20->trigger();
    EXPECT_EQ(rows(Form1->StringGrid3), (Rows{"\xBB\xF2.CN", "\xBB\xF2.CN"}));
    EXPECT_EQ(parameterModel(Form1->StringGrid3)->list().parameterCount(), 2);
    Form1->N18->trigger();
    Form1->N21->trigger();
    Form1->N18->trigger();
    EXPECT_EQ(rows(Form1->StringGrid2), (Rows{"\xBB\xF2.CN", "\xBB\xF2.CN"}));
}

TEST_F(FilterWindow, EnterInAnEntryBoxIsAClickOfTheAddButton) {
    const struct {
        QLineEdit* edit;
        QTableView *grid, *twin;
    } sides[] = {{Form1->Edit1, Form1->StringGrid2, Form1->StringGrid3},
                 {Form1->Edit2, Form1->StringGrid3, Form1->StringGrid2}};
    for (const auto& s : sides) {
        SCOPED_TRACE(s.edit->objectName().toStdString());
        const Rows twin = rows(s.twin);
        s.edit->setText(QStringLiteral(" x.Cn "));
        QTest::keyClick(s.edit, Qt::Key_Return);
        QTest::keyClick(s.edit, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(rows(s.grid), (Rows{"x.Cn", "x.Cn"}));
        EXPECT_EQ(parameterModel(s.grid)->list().parameterCount(), 2);
        EXPECT_EQ(s.edit->text(), QStringLiteral(" x.Cn "));
        EXPECT_EQ(rows(s.twin), twin);
        // Enter in the grid's own editor stays the editor's.
        QTest::keyClick(editorOf(s.grid), Qt::Key_Return);
        EXPECT_EQ(rows(s.grid).size(), 2u);
        EXPECT_NE(editorOf(s.grid), nullptr);
    }
}

TEST_F(FilterWindow, OrAndAndFiltersFromFirstDialogToCounts) {
    Form1->Edit2->setText(QStringLiteral(".cn"));
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);
    Form1->Edit2->setText(QStringLiteral(".com"));
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);

    // The OR list is in its start state: nothing matches.
    queueFilterDialogs();
    Form1->SpeedButton8->click();
    EXPECT_EQ(counts(), (Rows{"", "", "", "", "4", "0", "3", "1"}));
    EXPECT_EQ(vqtest::readFile(dir.file("m.txt")), "");

    queueFilterDialogs();
    Form1->N27->trigger();
    EXPECT_EQ(counts(), (Rows{"", "", "", "", "4", "1", "2", "1"}));
    EXPECT_EQ(vqtest::readFile(dir.file("m.txt")), "q@w.cn.com\r\n");
    EXPECT_EQ(vqtest::readFile(dir.file("r.txt")), "a@b.cn\r\nx@y.com\r\n");

    // A cancel in the third dialog creates nothing and leaves the panel blank.
    std::remove(dir.file("m.txt").c_str());
    run.script.open(kOpenTitle, dir.file("in.txt"))
        .save(kMatchTitle, dir.file("m.txt"))
        .cancelFile(DialogKind::Save, kRestTitle);
    Form1->SpeedButton6->click();
    EXPECT_EQ(counts(), Rows(8, ""));
    EXPECT_FALSE(vqtest::exists(dir.file("m.txt")));

    run.script.cancelFile(DialogKind::Open, kOpenTitle);
    Form1->N13->trigger();

    // A file error shows the error box and no counts.
    run.script.open(kOpenTitle, dir.file("none.txt"))
        .save(kMatchTitle, dir.file("m.txt"))
        .save(kRestTitle, dir.file("r.txt"))
        .error(QStringLiteral("File not found."));
    Form1->N13->trigger();
    EXPECT_EQ(counts(), Rows(8, ""));
}

TEST_F(FilterWindow, ALargeParameterFileImportsEditsFiltersAndExports) {
    std::string file;
    for (int i = 0; i < 100000; ++i)
        file += "@h" + std::to_string(i) + ".cn\r\n";
    vqtest::writeFile(dir.file("big.txt"), file);
    vqtest::writeFile(dir.file("in.txt"), "a@h7.cn\r\nb@x.cn\r\nc@h99999.cn\r\n");
    run.script.open(QStringLiteral("选择与条件过滤参数文件"), dir.file("big.txt"));
    Form1->N20->trigger();
    QTableView* grid = Form1->StringGrid3;
    ASSERT_EQ(grid->model()->rowCount(), 100000);
    grid->scrollToBottom();
    QTest::qWait(0);
    EXPECT_EQ(grid->model()->index(99999, 0).data().toString(), QStringLiteral("@h99999.cn"));

    // Add and delete on the long list: the last row moves into the deleted one.
    Form1->Edit2->setText(QStringLiteral("@h7."));
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);
    ASSERT_EQ(grid->model()->rowCount(), 100001);
    parameterModel(grid)->remove(5);
    EXPECT_EQ(grid->model()->rowCount(), 100000);
    EXPECT_EQ(grid->model()->index(5, 0).data().toString(), QStringLiteral("@h7."));

    // Every row a line must hold: no line holds them all.
    queueFilterDialogs();
    Form1->N27->trigger();
    EXPECT_EQ(counts(), (std::vector<std::string>{"", "", "", "", "3", "0", "3", "0"}));

    run.script.save(QStringLiteral("过滤参数项文件保存为"), dir.file("back.txt"));
    Form1->N21->trigger();
    std::string expected = file;
    expected.replace(expected.find("@h5.cn\r\n"), 8, "@h7.\r\n");
    EXPECT_EQ(vqtest::readFile(dir.file("back.txt")), expected);
}

TEST_F(FilterWindow, TypingInACellReachesTheFilterAtOnce) {
    QTableView* g = Form1->StringGrid3;
    QLineEdit* editor = editorOf(g);
    ASSERT_NE(editor, nullptr) << "the editor is always shown on the current cell";
    QTest::keyClicks(editor, ".cn");
    EXPECT_EQ(rows(g), (Rows{".cn"}));
    EXPECT_EQ(parameterModel(g)->list().parameterCount(), 0);

    queueFilterDialogs();
    Form1->N27->trigger();
    EXPECT_EQ(vqtest::readFile(dir.file("m.txt")), "a@b.cn\r\nq@w.cn.com\r\n");

    QTest::keyClick(editor, Qt::Key_Backspace);
    queueFilterDialogs();
    Form1->N27->trigger();
    EXPECT_EQ(vqtest::readFile(dir.file("m.txt")), "a@b.cn\r\nx@y.com\r\nq@w.cn.com\r\n");

    // The next add writes into the typed row.
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);
    EXPECT_EQ(rows(g), (Rows{".com"}));
    EXPECT_EQ(editor->text(), QStringLiteral(".com"));
}

TEST_F(FilterWindow, RightClickKeepsTheCurrentRowForTheDelete) {
    for (const char* p : {"a", "b", "c", "d"}) {
        Form1->Edit1->setText(QLatin1String(p));
        QTest::mouseClick(Form1->Button1, Qt::LeftButton);
    }
    QTableView* g = Form1->StringGrid2;
    g->setCurrentIndex(g->model()->index(2, 0));
    g->selectionModel()->select(QItemSelection(g->model()->index(1, 0), g->model()->index(2, 0)),
                                QItemSelectionModel::ClearAndSelect);
    const QPoint row0 = g->visualRect(g->model()->index(0, 0)).center();
    QTest::mousePress(g->viewport(), Qt::RightButton, {}, row0);
    QTest::mouseRelease(g->viewport(), Qt::RightButton, {}, row0);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, row0, g->viewport()->mapToGlobal(row0));
    QCoreApplication::sendEvent(g->viewport(), &menu);
    EXPECT_TRUE(Form1->PopupMenu1->isVisible());
    Form1->PopupMenu1->hide();
    EXPECT_EQ(g->currentIndex().row(), 2);

    Form1->N16->trigger(); // the top row of the selection goes, the last takes its place
    EXPECT_EQ(rows(g), (Rows{"a", "d", "c"}));
}

TEST_F(FilterWindow, UntouchedRowsKeepBytesTheCodePageCannotShow) {
    const std::string odd = "\xFF\x81 .c\xBB";
    vqtest::writeFile(dir.file("p.txt"), odd + "\r\nok\r\n");
    run.script.open(QStringLiteral("选择或条件过滤参数文件"), dir.file("p.txt"))
        .save(QStringLiteral("过滤参数项文件保存为"), dir.file("out.txt"));
    Form1->N18->trigger();
    QTableView* g = Form1->StringGrid2;
    g->setCurrentIndex(g->model()->index(1, 0));
    g->setCurrentIndex(g->model()->index(0, 0)); // the editor opens on the odd row
    ASSERT_NE(editorOf(g), nullptr);
    EXPECT_TRUE(editorOf(g)->text().endsWith(QStringLiteral(" .c\uFFFD")));
    Form1->N19->trigger();
    EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), odd + "\r\nok\r\n");

    QTest::keyClick(editorOf(g), Qt::Key_End);
    QTest::keyClick(editorOf(g), Qt::Key_Backspace);
    EXPECT_EQ(rows(g)[0].substr(rows(g)[0].size() - 3), " .c");
}

TEST_F(FilterWindow, SubtractionFromFirstDialogToCounts) {
    using namespace vq::filtering;
    vqtest::writeFile(dir.file("s1.txt"), "x@Y.COM\r\n");
    vqtest::writeFile(dir.file("s2.txt"), " a@b.cn\r\n");
    run.script.open(kSubtractListTitle, dir.file("in.txt"))
        .openMany(kSuppressionTitle, {dir.file("s1.txt"), dir.file("s2.txt")})
        .save(kKeptTitle, dir.file("k.txt"))
        .save(kRemovedTitle, dir.file("r.txt"));
    Form1->N29->trigger();
    EXPECT_EQ(run.script.lastFileDialog().name, QStringLiteral("SaveDialog2"));
    EXPECT_EQ(counts(), (Rows{"", "", "", "", "4", "2", "1", "1"}));
    EXPECT_EQ(vqtest::readFile(dir.file("k.txt")), "q@w.cn.com\r\n");
    EXPECT_EQ(vqtest::readFile(dir.file("r.txt")), "A@B.CN\r\nx@y.com\r\n");
    // The shared dialog takes several files for this command only.
    EXPECT_FALSE(Form1->OpenDialog2.multiple);

    // A cancel at any dialog leaves the panel blank and creates nothing.
    const std::function<void()> cancels[] = {
        [&] { run.script.cancelFile(DialogKind::Open, kSubtractListTitle); },
        [&] {
            run.script.open(kSubtractListTitle, dir.file("in.txt"))
                .cancelFile(DialogKind::Open, kSuppressionTitle);
        },
        [&] {
            run.script.open(kSubtractListTitle, dir.file("in.txt"))
                .openMany(kSuppressionTitle, {dir.file("s1.txt")})
                .save(kKeptTitle, dir.file("k2.txt"))
                .cancelFile(DialogKind::Save, kRemovedTitle);
        },
        // An output that is an input: refused before anything is written.
        [&] {
            run.script.open(kSubtractListTitle, dir.file("in.txt"))
                .openMany(kSuppressionTitle, {dir.file("s1.txt")})
                .save(kKeptTitle, dir.file("k2.txt"))
                .save(kRemovedTitle, dir.file("s1.txt"))
                .error(QStringLiteral("I/O error 32."));
        },
    };
    for (const auto& queue : cancels) {
        queue();
        Form1->N29->trigger();
        EXPECT_EQ(counts(), Rows(8, ""));
        EXPECT_FALSE(vqtest::exists(dir.file("k2.txt")));
    }
    EXPECT_EQ(vqtest::readFile(dir.file("s1.txt")), "x@Y.COM\r\n");
}

TEST_F(FilterWindow, DomainWindowCountsSortsSavesAndAddsParameters) {
    using namespace vq::filtering;
    vqtest::writeFile(dir.file("in.txt"),
                      "A@B.CN\r\nx@y.com\r\nbad\r\nq@W.CN\r\nz@\xD6\xD0.cn\r\nc@b.cn\r\n");
    run.script.open(kDomainListTitle, dir.file("in.txt"));
    Form1->Label11->setText(QStringLiteral("7"));
    Form1->N30->trigger();
    EXPECT_EQ(Form1->Label11->text(), QStringLiteral("7")); // the panel is left alone
    DomainWindow& w = Form1->domainWindow();
    ASSERT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    auto table = [&] {
        std::vector<std::string> shown;
        const QAbstractItemModel* m = w.table->model();
        for (int r = 0; r < m->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < 3; ++c)
                cells << m->index(r, c).data().toString();
            shown.push_back(cells.join('|').toStdString());
        }
        return shown;
    };
    EXPECT_EQ(table(),
              (Rows{"b.cn|2|40.00%", "w.cn|1|20.00%", "y.com|1|20.00%", "中.cn|1|20.00%"}));
    const Rows totals = {w.read->text().toStdString(), w.valid->text().toStdString(),
                         w.invalid->text().toStdString(), w.domains->text().toStdString()};
    EXPECT_EQ(totals, (Rows{"6", "5", "1", "4"}));

    // A header click sorts; the CSV follows the table as it is sorted.
    QHeaderView* header = w.table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
    const Rows byDomain = table();
    EXPECT_TRUE(
        byDomain == (Rows{"b.cn|2|40.00%", "w.cn|1|20.00%", "y.com|1|20.00%", "中.cn|1|20.00%"}) ||
        byDomain == (Rows{"中.cn|1|20.00%", "y.com|1|20.00%", "w.cn|1|20.00%", "b.cn|2|40.00%"}));
    header->setSortIndicator(0, Qt::DescendingOrder);
    EXPECT_EQ(table().front(), "中.cn|1|20.00%");
    run.script.save(kDomainTableTitle, dir.file("d.csv"));
    QTest::mouseClick(w.saveButton, Qt::LeftButton);
    EXPECT_EQ(run.script.lastFileDialog().defaultExt, QStringLiteral("csv"));
    EXPECT_EQ(vqtest::readFile(dir.file("d.csv")),
              "domain,count\r\n\xD6\xD0.cn,1\r\ny.com,1\r\nw.cn,1\r\nb.cn,2\r\n");

    // A click on a row adds "@domain" to the OR list, with the domain's bytes.
    const QRect first = w.table->visualRect(w.table->model()->index(0, 1));
    QTest::mouseClick(w.table->viewport(), Qt::LeftButton, {}, first.center());
    header->setSortIndicator(1, Qt::DescendingOrder);
    const QRect top = w.table->visualRect(w.table->model()->index(0, 3));
    QTest::mouseClick(w.table->viewport(), Qt::LeftButton, {}, top.center());
    EXPECT_EQ(rows(Form1->StringGrid2), (Rows{"@\xD6\xD0.cn", "@b.cn"}));

    // Another list refreshes the same window; a failure keeps what it shows.
    vqtest::writeFile(dir.file("in2.txt"), "a@x.cn\r\n");
    run.script.open(kDomainListTitle, dir.file("in2.txt"))
        .open(kDomainListTitle, dir.file("none.txt"))
        .error(QStringLiteral("File not found."));
    Form1->N30->trigger();
    Form1->N30->trigger();
    EXPECT_EQ(table(), (Rows{"x.cn|1|100.00%"}));
    EXPECT_EQ(&Form1->domainWindow(), &w);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(CodePage, EncodesAndDecodesWithoutLosingNeighbours) {
    using vq::platform::fromCodePage;
    using vq::platform::toCodePage;
    EXPECT_EQ(toCodePage(QStringLiteral("或条件.cn")), "\xBB\xF2\xCC\xF5\xBC\xFE.cn");
    EXPECT_EQ(toCodePage(QStringLiteral("a\u0E01b")), "a?b"); // no such character
    struct Case {
        std::string bytes;
        QString text;
    };
    const Case cases[] = {
        {"\xBB\xF2.cn", QStringLiteral("或.cn")},
        {"ab\xBB", QStringLiteral("ab\uFFFD")},
        {"\x81 x", QStringLiteral("\uFFFD x")},
        {"\xBB\xF2\x81\x20\xFF.cn", QStringLiteral("或\uFFFD \uF8F5.cn")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fromCodePage(c.bytes), c.text) << c.bytes;
}
