// The manual merge from the menu, first dialog to last message.
#include "app/Unit1.h"
#include "components/gauge.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const QString kTitleA = QStringLiteral("选择待合并邮件列表文件A");
const QString kTitleB = QStringLiteral("选择待合并邮件列表文件B");
const QString kTitleOut = QStringLiteral("合并后列表另存为");
const QString kDone = QStringLiteral("邮件列表合并成功!");

class ManualMerge : public ::testing::Test {
protected:
    void SetUp() override {
        createApplicationWindows();
        vqtest::writeFile(a, "a1\r\na2\r\na3");
        vqtest::writeFile(b, "b1\r\nb2\r\n");
        Form1->Label1->setText(QStringLiteral("7"));
        Form1->Label17->setText(QStringLiteral("9"));
        Form1->Gauge1->setProgress(45);
    }
    void TearDown() override {
        for (const QString& f : run.script.failures())
            ADD_FAILURE() << f.toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        destroyApplicationWindows();
    }
    void expectStatisticsBlank() {
        EXPECT_TRUE(Form1->Label1->text().isEmpty());
        EXPECT_TRUE(Form1->Label17->text().isEmpty());
    }
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    std::string a = dir.file("a.txt"), b = dir.file("b.txt"), out = dir.file("out.txt");
    vq::platform::ScopedScript run;
};

TEST_F(ManualMerge, CopiesAThenBAndSaysSo) {
    // Busy only over Panel1's own strip: its children and theirs show the
    // normal cursor, and an edit box keeps its text cursor.
    const QWidget* normal[] = {Form1->Panel3, Form1->Panel5, Form1->Button1,
                               Form1->StringGrid3->viewport()};
    run.script.open(kTitleA, a).open(kTitleB, b).save(kTitleOut, out).info(kDone).whileShowing([&] {
        EXPECT_EQ(Form1->Panel1->cursor().shape(), Qt::BusyCursor);
        for (const QWidget* w : normal)
            EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor) << w->objectName().toStdString();
        EXPECT_EQ(Form1->Edit1->cursor().shape(), Qt::IBeamCursor);
    });
    Form1->N4->trigger();
    EXPECT_EQ(vqtest::readFile(out), "a1\r\na2\r\na3\r\nb1\r\nb2\r\n");
    EXPECT_EQ(Form1->Panel1->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(Form1->Panel3->testAttribute(Qt::WA_SetCursor)) << "the children inherit again";
    expectStatisticsBlank();
    EXPECT_EQ(Form1->Gauge1->text().toStdString(), "45%");
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir.path()));
    EXPECT_EQ(Form1->SaveDialog1.fileName, out); // remembered for the next showing
}

TEST_F(ManualMerge, SameFileTwiceGivesItsLinesTwice) {
    run.script.open(kTitleA, a).open(kTitleB, a).save(kTitleOut, out).info(kDone);
    Form1->N4->trigger();
    EXPECT_EQ(vqtest::readFile(out), "a1\r\na2\r\na3\r\na1\r\na2\r\na3\r\n");
}

TEST_F(ManualMerge, CancelAtAnyDialogChangesNothing) {
    using vq::platform::DialogKind;
    vqtest::writeFile(out, "keep");
    for (int at = 0; at < 3; ++at) {
        Form1->Label1->setText(QStringLiteral("7"));
        if (at == 0) run.script.cancelFile(DialogKind::Open, kTitleA);
        if (at >= 1) run.script.open(kTitleA, a);
        if (at == 1) run.script.cancelFile(DialogKind::Open, kTitleB);
        if (at == 2) run.script.open(kTitleB, b).cancelFile(DialogKind::Save, kTitleOut);
        Form1->N4->trigger();
        expectStatisticsBlank();
        EXPECT_EQ(vqtest::readFile(out), "keep") << "cancel at dialog " << at;
        EXPECT_EQ(vqtest::readFile(a), "a1\r\na2\r\na3");
    }
}

TEST_F(ManualMerge, FailuresReachTheErrorBoxAndWriteNothing) {
    // A missing input: the open dialogs accept the typed name.
    run.script.open(kTitleA, dir.file("missing.txt")).error(QStringLiteral("File not found."));
    Form1->N4->trigger();

    // The output is A itself: refused under the sharing rule, A unchanged,
    // and the panel's cursor is not left busy.
    run.script.open(kTitleA, a)
        .open(kTitleB, b)
        .save(kTitleOut, a)
        .error(QStringLiteral("I/O error 32."));
    Form1->N4->trigger();
    EXPECT_EQ(vqtest::readFile(a), "a1\r\na2\r\na3");
    EXPECT_EQ(Form1->Panel1->cursor().shape(), Qt::ArrowCursor);

    run.script.open(kTitleA, a)
        .open(kTitleB, b)
        .save(kTitleOut, b)
        .error(QStringLiteral("I/O error 32."));
    Form1->N4->trigger();
    EXPECT_EQ(vqtest::readFile(b), "b1\r\nb2\r\n");
}

} // namespace
