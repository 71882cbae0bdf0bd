// The splitter from the menu and the toolbar, first dialog to last message.
#include "app/Unit1.h"
#include "platform/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QToolButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using vq::platform::DialogKind;
const QString kOpenTitle = QStringLiteral("选择待分割邮件列表文件");
const QString kPrompt = QStringLiteral("提示信息");
const QString kDone = QStringLiteral("邮件列表分割成功!");

std::string lines(int n) {
    std::string s;
    for (int i = 1; i <= n; ++i)
        s += "u" + std::to_string(i) + "@example.com\r\n";
    return s;
}

class SplitWindow : public ::testing::Test {
protected:
    void SetUp() override {
        createApplicationWindows();
        vqtest::writeFile(in, lines(2500));
        Form1->Label17->setText(QStringLiteral("9"));
    }
    void TearDown() override {
        for (const QString& f : run.script.failures())
            ADD_FAILURE() << f.toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor stayed";
        destroyApplicationWindows();
    }
    std::string shown(QLabel* l) { return l->text().toStdString(); }
    int filesIn() {
        return (int)std::distance(std::filesystem::directory_iterator(dir.path()), {});
    }
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    std::string in = dir.file("in.txt");
    vq::platform::ScopedScript run;
};

TEST_F(SplitWindow, SplitsNextToTheInputAndShowsTheCounts) {
    run.script.open(kOpenTitle, in)
        .input(kPrompt, QStringLiteral("1000"))
        .whileShowing([&] {
            EXPECT_EQ(run.script.lastInputValue(), QStringLiteral("1000"));
            EXPECT_EQ(shown(Form1->Label1), "2500");
        })
        .input(kPrompt, QStringLiteral("part "))
        .whileShowing([&] { EXPECT_EQ(run.script.lastInputValue(), QStringLiteral("qx@mail")); })
        .info(kDone)
        .whileShowing([&] { EXPECT_EQ(QApplication::overrideCursor(), nullptr); });
    Form1->SpeedButton4->click();
    EXPECT_EQ(shown(Form1->Label1), "2500");
    EXPECT_EQ(shown(Form1->Label8), "3");
    EXPECT_EQ(shown(Form1->Label17), "");
    EXPECT_EQ(vqtest::readFile(dir.file("part 3.txt")), lines(2500).substr(lines(2000).size()));
    EXPECT_EQ(filesIn(), 4);
}

TEST_F(SplitWindow, CancelsEndOrGoOnAsTheyShould) {
    run.script.cancelFile(DialogKind::Open, kOpenTitle);
    Form1->N5->trigger();
    EXPECT_EQ(shown(Form1->Label1), "");

    run.script.open(kOpenTitle, in).input(kPrompt, std::nullopt);
    Form1->N5->trigger();
    EXPECT_EQ(shown(Form1->Label1), "2500");
    EXPECT_EQ(filesIn(), 1);

    // Cancelling the name is no cancel: the files are named 1.txt, 2.txt, ...
    run.script.open(kOpenTitle, in)
        .input(kPrompt, QStringLiteral("2000"))
        .input(kPrompt, std::nullopt);
    run.script.info(kDone);
    Form1->N5->trigger();
    EXPECT_EQ(vqtest::readFile(dir.file("2.txt")), lines(2500).substr(lines(2000).size()));
    EXPECT_EQ(shown(Form1->Label8), "2");
}

TEST_F(SplitWindow, RefusalsShowTheErrorBoxAndWriteNothing) {
    const std::pair<QString, QString> refused[] = {
        {QStringLiteral("abc"), QStringLiteral("'abc' is not a valid integer value.")},
        {QStringLiteral("50 "), QStringLiteral("'50 ' is not a valid integer value.")},
        {QStringLiteral("0"),
         QStringLiteral("'0' 不是有效的分割列表基准数，每个分割文件至少须有 1 行.")},
    };
    for (const auto& [size, message] : refused) {
        run.script.open(kOpenTitle, in).input(kPrompt, size).input(kPrompt, QStringLiteral("p"));
        run.script.error(message);
        Form1->N5->trigger();
        EXPECT_EQ(shown(Form1->Label1), "2500");
        EXPECT_EQ(filesIn(), 1) << size.toStdString();
    }
    run.script.open(kOpenTitle, dir.file("none.txt")).error(QStringLiteral("File not found."));
    Form1->N5->trigger();
}

TEST_F(SplitWindow, ANumberedFileThatIsTheInputStopsWithTheSharingCode) {
    std::string input = dir.file("p2.txt");
    vqtest::writeFile(input, lines(3));
    run.script.open(kOpenTitle, input).input(kPrompt, QStringLiteral("1"));
    run.script.input(kPrompt, QStringLiteral("p")).error(QStringLiteral("I/O error 32."));
    Form1->N5->trigger();
    EXPECT_EQ(vqtest::readFile(dir.file("p1.txt")), lines(1));
    EXPECT_EQ(vqtest::readFile(input), lines(3));
}

} // namespace
