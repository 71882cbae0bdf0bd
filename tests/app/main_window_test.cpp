// The main window as a user meets it: start state, menus, toolbar, exit,
// help, home page, feedback and the error box.
#include "app/Unit1.h"
#include "components/gauge.h"
#include "listio/errors.h"
#include "maintenance/ui/Unit2.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        createApplicationWindows();
        Form1->show();
    }
    void TearDown() override {
        EXPECT_TRUE(run.script.failures().empty()) << run.script.failures().front().toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        destroyApplicationWindows();
    }
    vq::platform::ScopedScript run;
    vqtest::KeepCurrentFolder keepFolder;
};

TEST_F(MainWindow, StartsWithBlankStatisticsAndEmptyGauge) {
    EXPECT_EQ(Form1->windowTitle().toStdString(), "VeskoQindra V3.4");
    for (QLabel* l : {Form1->Label1, Form1->Label3, Form1->Label6, Form1->Label8, Form1->Label11,
                      Form1->Label13, Form1->Label15, Form1->Label17})
        EXPECT_TRUE(l->text().isEmpty()) << l->objectName().toStdString();
    EXPECT_EQ(Form1->Gauge1->text().toStdString(), "0%");
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0, 255, 0));
    EXPECT_EQ(Form1->Edit1->text().toStdString(), ".cn");
    EXPECT_EQ(Form1->Edit2->text().toStdString(), ".com");
}

TEST_F(MainWindow, StatisticsShowEightDigitCountsWholeBesideTheirNeighbours) {
    // A list of tens of millions of lines must not lose a digit; each value
    // ends before the next caption (or the gauge) begins.
    const std::pair<QLabel*, QWidget*> row1[] = {{Form1->Label8, Form1->Label4},
                                                 {Form1->Label1, Form1->Label2},
                                                 {Form1->Label3, Form1->Label5},
                                                 {Form1->Label6, Form1->Gauge1}};
    for (const auto& [value, next] : row1) {
        const int need = QFontMetrics(value->font()).horizontalAdvance(QStringLiteral("99999999"));
        EXPECT_LE(need, value->width()) << value->objectName().toStdString();
        EXPECT_LE(value->geometry().right(), next->geometry().left())
            << value->objectName().toStdString();
    }
}

TEST_F(MainWindow, NeverSmallerThanItsDesignSizeAndGrowsAsTheDesignsWindowDoes) {
    const QSize design = Form1->size();
    EXPECT_EQ(design.width(), 602);
    EXPECT_EQ(Form1->minimumSize(), design);
    Form1->resize(503, 250);
    QApplication::processEvents();
    EXPECT_EQ(Form1->size(), design);

    // Grown, the toolbar, the left list and every control inside the panels
    // stay where they are; the right list keeps to the right edge and the
    // two statistics rows to the bottom, as aligned panels do.
    QWidget* client = Form1->centralWidget();
    auto where = [client](QWidget* w) { return QRect(w->mapTo(client, QPoint(0, 0)), w->size()); };
    const QSize grow(300, 200);
    const struct {
        QWidget* w;
        QPoint moves;
    } parts[] = {
        {Form1->SpeedButton9, {0, 0}},
        {Form1->Edit1, {0, 0}},
        {Form1->StringGrid2, {0, 0}},
        {Form1->Edit2, {grow.width(), 0}},
        {Form1->StringGrid3, {grow.width(), 0}},
        {Form1->Label7, {0, grow.height()}},
        {Form1->Gauge1, {0, grow.height()}},
        {Form1->Label17, {0, grow.height()}},
    };
    std::vector<QRect> before;
    for (const auto& p : parts)
        before.push_back(where(p.w));
    Form1->resize(design + grow);
    QApplication::processEvents();
    ASSERT_EQ(Form1->size(), design + grow);
    for (std::size_t i = 0; i < std::size(parts); ++i)
        EXPECT_EQ(where(parts[i].w), before[i].translated(parts[i].moves))
            << parts[i].w->objectName().toStdString();
    EXPECT_EQ(where(Form1->Panel4).bottom(), client->height() - 1);
    EXPECT_EQ(where(Form1->Panel5).right() + 2 + 2, client->width() - 1);
}

TEST_F(MainWindow, MenuItemsHaveTheirCaptionsInOrder) {
    struct Item {
        QMenu* menu;
        std::vector<std::string> captions;
    };
    const Item menus[] = {
        {Form1->N1,
         {"手动合并器(&H)", "自动合并器(&A)", "自动分割器(&C)", "自添加列表(&T)", "",
          "退 出(&Exit)"}},
        // The design's three, then the two commands beyond it.
        {Form1->N23,
         {"列表校验器(&V)", "或条件过滤(&H)", "与条件过滤(&Y)", "剔除退订列表(&T)",
          "域名统计(&D)"}},
        {Form1->N2, {"帮助主题(&H)", "反馈改进意见(&F)", "访问Vesko主页(&V)", "关于本软件(&A)"}},
    };
    for (const Item& m : menus) {
        std::vector<std::string> got;
        for (QAction* a : m.menu->actions())
            got.push_back(a->text().toStdString());
        EXPECT_EQ(got, m.captions) << m.menu->title().toStdString();
        for (QAction* a : m.menu->actions())
            EXPECT_TRUE(a->isEnabled());
    }
    std::vector<std::string> bar;
    for (QAction* a : Form1->menuBar()->actions())
        bar.push_back(a->text().toStdString());
    EXPECT_EQ(bar,
              (std::vector<std::string>{"列表维护(&W)", "列表过滤(&G)", "帮助(&H)", "退出(&E)"}));
    EXPECT_EQ(Form1->N8->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_FALSE(Form1->N28->isVisible());
}

TEST_F(MainWindow, ToolbarButtonsSitSideBySide) {
    struct Button {
        QToolButton* b;
        int x;
        const char* caption;
        const char* hint;
    };
    const Button buttons[] = {
        {Form1->SpeedButton5, 2, "自动合并", "列表自动合并"},
        {Form1->SpeedButton4, 60, "自动分割", "列表自动分割"},
        {Form1->SpeedButton3, 118, "校验重复", "剔除重复电邮"},
        {Form1->SpeedButton8, 176, "或过滤", "或条件过滤"},
        {Form1->SpeedButton6, 234, "与过滤", "与条件过滤"},
        {Form1->SpeedButton2, 292, "如何使用", "如何使用软件"},
        {Form1->SpeedButton9, 350, "更新版本", "下载最新版本"},
    };
    for (const Button& b : buttons) {
        EXPECT_EQ(b.b->geometry(), QRect(b.x, 2, 57, 55)) << b.caption;
        EXPECT_EQ(b.b->text().toStdString(), b.caption);
        EXPECT_EQ(b.b->toolTip().toStdString(), b.hint);
        EXPECT_TRUE(b.b->autoRaise());
    }
}

TEST(ToolbarAndMenu, EachButtonDoesWhatItsMenuItemDoes) {
    vqtest::KeepCurrentFolder keepFolder;
    vq::platform::ScopedScript quiet; // between the two observations
    createApplicationWindows();
    Form1->show();
    // What a click leads to: the dialogs it shows (each answered with a
    // cancel, so the command ends at its first one) and the documents it opens.
    auto observe = [&quiet](const std::function<void()>& click) {
        vq::platform::ScriptedServices script;
        vq::platform::setServices(&script);
        click();
        vq::platform::setServices(&quiet.script);
        std::vector<QString> seen = script.failures();
        seen.insert(seen.end(), script.opened().begin(), script.opened().end());
        return seen;
    };
    const struct {
        QToolButton* button;
        QAction* item;
    } pairs[] = {
        {Form1->SpeedButton4, Form1->N5},  {Form1->SpeedButton3, Form1->N6},
        {Form1->SpeedButton8, Form1->N13}, {Form1->SpeedButton6, Form1->N27},
        {Form1->SpeedButton2, Form1->N8},  {Form1->SpeedButton9, Form1->N10},
    };
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.button->objectName().toStdString());
        const std::vector<QString> byButton = observe([&] { p.button->click(); });
        const std::vector<QString> byItem = observe([&] { p.item->trigger(); });
        EXPECT_FALSE(byButton.empty()) << "the button did nothing";
        EXPECT_EQ(byButton, byItem);
    }
    Form1->SpeedButton5->click();
    EXPECT_TRUE(Form2->isVisible()) << "the folder-merge window, as N24 shows it";
    Form2->hide();
    Form1->N24->trigger();
    EXPECT_TRUE(Form2->isVisible());
    destroyApplicationWindows();
}

TEST_F(MainWindow, ExitAsksAndCancelKeepsTheWindow) {
    QSignalSpy closing(Form1, &TForm1::closing);
    // Close box, N3 and N7 all ask; "放弃" keeps the window.
    run.script.confirmAnswer(QStringLiteral("退出VeskoQindra?"), false)
        .confirmAnswer(QStringLiteral("退出VeskoQindra?"), false)
        .confirmAnswer(QStringLiteral("退出VeskoQindra?"), false);
    Form1->close();
    Form1->N3->trigger();
    Form1->N7->trigger();
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_EQ(closing.count(), 0);

    run.script.confirmAnswer(QStringLiteral("退出VeskoQindra?"), true);
    Form1->N7->trigger();
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_EQ(closing.count(), 1);
}

TEST_F(MainWindow, HelpOpensTheHelpFileOrItsPagesFromTheProgramFolder) {
    const struct {
        bool viewer;
        const char* opened;
    } cases[] = {{true, "Open brevant.chm"}, {false, "Open brevant/index.html"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opened);
        vqtest::TempDir elsewhere;
        std::filesystem::current_path(elsewhere.path());
        run.script.setCanOpenDocuments(c.viewer);
        QApplication::setActiveWindow(Form1); // shortcuts go to the active window
        QTest::keyClick(Form1, Qt::Key_F1);
        Form1->SpeedButton2->click();
        ASSERT_EQ(run.script.opened().size(), 2u);
        EXPECT_EQ(run.script.opened()[0].toStdString(), c.opened);
        EXPECT_EQ(run.script.opened()[1].toStdString(), c.opened);
        EXPECT_EQ(std::filesystem::current_path(),
                  std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()));
        run.script.clearOpened();
    }
    // The pages are built beside the program, where help looks for them.
    EXPECT_TRUE(std::filesystem::is_regular_file("brevant/index.html"));
}

TEST_F(MainWindow, HomePageLeavesTheHandCursorAndFeedbackOpensMail) {
    Form1->SpeedButton9->click();
    EXPECT_EQ(Form1->cursor().shape(), Qt::PointingHandCursor);
    Form1->N22->trigger();
    ASSERT_EQ(run.script.opened().size(), 2u);
    EXPECT_TRUE(run.script.opened()[0].startsWith(QStringLiteral("open http")));
    EXPECT_TRUE(run.script.opened()[1].startsWith(QStringLiteral("Open mailto:")));
    EXPECT_TRUE(run.script.opened()[1].contains(QStringLiteral("example.com")));
}

TEST_F(MainWindow, FailuresReachTheErrorBoxWithTheFullStopRule) {
    const std::pair<std::string, std::string> cases[] = {
        {"File not found", "File not found."},
        {"I/O error 32", "I/O error 32."},
        {"Stream write error", "Stream write error."},
        {"already ends.", "already ends."},
        {"shout!", "shout!"},
        {"(aside)", "(aside)"},
        {"中文", "中文."},
    };
    for (const auto& [text, shown] : cases) {
        run.script.error(QString::fromStdString(shown));
        vq::platform::guarded(Form1, [&] { throw vq::Exception(text); });
    }
    // The program goes on: a later command still runs.
    run.script.error(QStringLiteral("File not found."));
    vq::platform::guarded(Form1, [] { throw vq::EInOutError(2); });
}

} // namespace
