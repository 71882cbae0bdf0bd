// Self-add from the menu, first dialog to last message.
#include "app/Unit1.h"
#include "platform/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QLabel>
#include <gtest/gtest.h>

namespace {

using vq::platform::DialogKind;
const QString kPrompt = QStringLiteral("提示信息");
const QString kOpenTitle = QStringLiteral("请打开邮件列表文件");

class SelfAddWindow : public ::testing::Test {
protected:
    void SetUp() override {
        createApplicationWindows();
        vqtest::writeFile(list, "a@example.com");
        Form1->Label8->setText(QStringLiteral("3"));
    }
    void TearDown() override {
        for (const QString& f : run.script.failures())
            ADD_FAILURE() << f.toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        EXPECT_TRUE(Form1->Label8->text().isEmpty());
        destroyApplicationWindows();
    }
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    std::string list = dir.file("list.txt");
    vq::platform::ScopedScript run;
};

TEST_F(SelfAddWindow, AppendsTheTypedAddressInCodePage936) {
    run.script.input(kPrompt, QStringLiteral("  你好@Example.com "))
        .whileShowing([&] { EXPECT_EQ(run.script.lastInputValue(), "someone@example.com"); })
        .open(kOpenTitle, list)
        .info(QStringLiteral("邮件地址添加完毕!"));
    Form1->N12->trigger();
    EXPECT_EQ(vqtest::readFile(list), "a@example.com\r\n\xC4\xE3\xBA\xC3@Example.com\r\n");
}

TEST_F(SelfAddWindow, CancelsAndAMissingFileTouchNothing) {
    run.script.input(kPrompt, std::nullopt);
    Form1->N12->trigger();
    run.script.input(kPrompt, QStringLiteral("x@example.com"))
        .cancelFile(DialogKind::Open, kOpenTitle);
    Form1->N12->trigger();
    run.script.input(kPrompt, QStringLiteral("x@example.com"))
        .open(kOpenTitle, dir.file("none.txt"))
        .error(QStringLiteral("File not found."));
    Form1->N12->trigger();
    EXPECT_EQ(vqtest::readFile(list), "a@example.com");
    EXPECT_FALSE(vqtest::exists(dir.file("none.txt")));
}

} // namespace
