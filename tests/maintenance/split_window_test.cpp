// The splitter from the toolbar and the menu, first dialog to last message.
#include "app/Unit1.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QToolButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const QString kOpen = QStringLiteral("选择待分割邮件列表文件");
const QString kPrompt = QStringLiteral("提示信息");
const QString kDone = QStringLiteral("邮件列表分割成功!");

std::string lines(int from, int n) {
    std::string s;
    for (int i = from; i < from + n; ++i)
        s += "u" + std::to_string(i) + "@example.com\r\n";
    return s;
}

class SplitWindow : public ::testing::Test {
protected:
    void SetUp() override {
        createApplicationWindows();
        vqtest::writeFile(in, lines(1, 2500));
    }
    void TearDown() override {
        for (const QString& f : run.script.failures())
            ADD_FAILURE() << f.toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor stayed";
        destroyApplicationWindows();
    }
    std::string label(QLabel* l) { return l->text().toStdString(); }
    long files() { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); }
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    std::string in = dir.file("in.txt");
    vq::platform::ScopedScript run;
};

TEST_F(SplitWindow, SplitsNextToTheInputAndShowsTheCounts) {
    Form1->Label17->setText(QStringLiteral("9"));
    auto prefilled = [&](const char* v) {
        return [&, v] { EXPECT_EQ(run.script.lastInputValue(), QString::fromUtf8(v)); };
    };
    run.script.open(kOpen, in)
        .input(kPrompt, QStringLiteral("1000"))
        .whileShowing(prefilled("1000"));
    run.script.input(kPrompt, QStringLiteral("part ")).whileShowing(prefilled("qx@mail"));
    run.script.info(kDone);
    Form1->SpeedButton4->click();
    EXPECT_EQ(label(Form1->Label1) + " " + label(Form1->Label8) + label(Form1->Label17), "2500 3");
    EXPECT_EQ(vqtest::readFile(dir.file("part 3.txt")), lines(2001, 500));
    EXPECT_EQ(files(), 4);
}

TEST_F(SplitWindow, CancelsAndRefusals) {
    Form1->Label1->setText(QStringLiteral("7"));
    run.script.cancelFile(vq::platform::DialogKind::Open, kOpen);
    Form1->N5->trigger();
    EXPECT_EQ(label(Form1->Label1), "");
    run.script.open(kOpen, in).input(kPrompt, std::nullopt);
    Form1->N5->trigger();
    EXPECT_EQ(label(Form1->Label1), "2500");

    const std::pair<const char*, const char*> refused[] = {
        {"abc", "'abc' is not a valid integer value."},
        {"0", "'0' 不是有效的分割列表基准数，每个分割文件至少须有 1 行!"},
    };
    for (const auto& [size, message] : refused) {
        run.script.open(kOpen, in).input(kPrompt, QString::fromUtf8(size));
        run.script.input(kPrompt, QStringLiteral("p")).error(QString::fromUtf8(message));
        Form1->N5->trigger();
        EXPECT_EQ(label(Form1->Label1), "2500");
    }
    EXPECT_EQ(files(), 1);
    // A cancelled name is no cancel: the files are named 1.txt, 2.txt, ...
    run.script.open(kOpen, in).input(kPrompt, QStringLiteral("2000")).input(kPrompt, {});
    run.script.info(kDone);
    Form1->N5->trigger();
    EXPECT_EQ(vqtest::readFile(dir.file("2.txt")), lines(2001, 500));
}

TEST_F(SplitWindow, ANumberedFileThatIsTheInputStopsWithTheSharingCode) {
    std::string input = dir.file("p2.txt");
    vqtest::writeFile(input, lines(1, 3));
    run.script.open(kOpen, input).input(kPrompt, QStringLiteral("1"));
    run.script.input(kPrompt, QStringLiteral("p")).error(QStringLiteral("I/O error 32."));
    Form1->N5->trigger();
    EXPECT_EQ(vqtest::readFile(dir.file("p1.txt")), lines(1, 1));
    EXPECT_EQ(vqtest::readFile(input), lines(1, 3));
}

} // namespace
