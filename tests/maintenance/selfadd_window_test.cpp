// Self-add from the menu, first dialog to last message.
#include "app/Unit1.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QLabel>
#include <gtest/gtest.h>

namespace {

TEST(SelfAddWindow, AppendsTheTypedAddressAndCancelsTouchNothing) {
    const QString prompt = QStringLiteral("提示信息"), open = QStringLiteral("请打开邮件列表文件");
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    const std::string list = dir.file("list.txt");
    vqtest::writeFile(list, "a@example.com");
    vq::platform::ScopedScript run;
    createApplicationWindows();
    Form1->Label8->setText(QStringLiteral("3"));

    run.script.input(prompt, std::nullopt);
    run.script.input(prompt, QStringLiteral("x")).cancelFile(vq::platform::DialogKind::Open, open);
    run.script.input(prompt, QStringLiteral("x")).open(open, dir.file("none.txt"));
    run.script.error(QStringLiteral("File not found."));
    for (int i = 0; i < 3; ++i)
        Form1->N12->trigger();
    EXPECT_EQ(vqtest::readFile(list), "a@example.com");
    EXPECT_FALSE(vqtest::exists(dir.file("none.txt")));

    run.script.input(prompt, QStringLiteral("  你好@Example.com ")).whileShowing([&] {
        EXPECT_EQ(run.script.lastInputValue(), QStringLiteral("someone@example.com"));
    });
    run.script.open(open, list).info(QStringLiteral("邮件地址添加完毕!"));
    Form1->N12->trigger();
    // In code page 936, trimmed, and on a line of its own.
    EXPECT_EQ(vqtest::readFile(list), "a@example.com\r\n\xC4\xE3\xBA\xC3@Example.com\r\n");
    EXPECT_TRUE(Form1->Label8->text().isEmpty());

    for (const QString& f : run.script.failures())
        ADD_FAILURE() << f.toStdString();
    EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
    destroyApplicationWindows();
}

} // namespace
