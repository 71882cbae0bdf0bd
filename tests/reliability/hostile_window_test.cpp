// Hostile inputs through the windows: a FIFO, a device or a folder chosen
// in a dialog, odd bytes in file names, and a parameter file that is not
// GBK. The window must show the refusal and come back to normal; nothing
// may hang.
#include "app/Unit1.h"
#include "checking/ui/Unit3.h"
#include "checking/ui/check_window.h"
#include "filtering/ui/parameter_grid.h"
#include "maintenance/ui/Unit2.h"
#include "maintenance/ui/folder_pickers.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using vq::platform::DialogKind;

const QString kCheckOpen = QStringLiteral("选择待校验邮件列表文件");
const QString kCheckSave = QStringLiteral("校验后列表另存为");
const QString kImport = QStringLiteral("选择或条件过滤参数文件");
const QString kExport = QStringLiteral("过滤参数项文件保存为");

class HostileWindow : public ::testing::Test {
protected:
    void SetUp() override { createApplicationWindows(); }
    void TearDown() override {
        for (const QString& f : run.script.failures())
            ADD_FAILURE() << f.toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        destroyApplicationWindows();
    }
    void expectNormal() {
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(Form1->Panel1->cursor().shape(), Qt::ArrowCursor);
        EXPECT_FALSE(Form3->isVisible());
        EXPECT_FALSE(Form1->listCheck().running());
    }
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    vq::platform::ScopedScript run;
};

TEST_F(HostileWindow, NonListsChosenInTheDialogsAreRefusedAtOnce) {
    const std::string fifo = dir.file("fifo.txt"), folder = dir.file("folder.txt"),
                      list = dir.file("list.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directory(folder);
    vqtest::writeFile(list, "a@b.cn\r\n");
    const QString denied = QStringLiteral("File access denied.");
    for (const std::string& bad : {fifo, folder, std::string("/dev/zero")}) {
        SCOPED_TRACE(bad);
        // The check refuses before its progress window shows.
        run.script.open(kCheckOpen, bad).save(kCheckSave, dir.file("out.txt")).error(denied);
        Form1->N6->trigger();
        run.script.open(QStringLiteral("选择待合并邮件列表文件A"), list)
            .open(QStringLiteral("选择待合并邮件列表文件B"), bad)
            .error(denied);
        Form1->N4->trigger();
        run.script.input(QStringLiteral("提示信息"), QStringLiteral("x@y.cn"))
            .open(QStringLiteral("请打开邮件列表文件"), bad)
            .error(denied);
        Form1->N12->trigger();
        run.script.open(kImport, bad).error(denied);
        Form1->N18->trigger();
        expectNormal();
    }
    EXPECT_FALSE(vqtest::exists(dir.file("out.txt")));

    // The same FIFO in the merged folder ends the folder merge, without a hang.
    Form2->DirectoryListBox1->setDirectory(QString::fromStdString(dir.path()));
    run.script.save(QStringLiteral("合并后列表保存为"), dir.file("merged.out")).error(denied);
    Form2->Button1->click();
    expectNormal();
}

TEST_F(HostileWindow, OddBytesInFileNamesReachTheFilesUnchanged) {
    const std::string a = dir.file("new\nline -a.txt"), b = dir.file("\xff\xfe b.txt"),
                      out = dir.file(" -out\t.txt");
    vqtest::writeFile(a, "a1\r\n");
    vqtest::writeFile(b, "b1");
    run.script.open(QStringLiteral("选择待合并邮件列表文件A"), a)
        .open(QStringLiteral("选择待合并邮件列表文件B"), b)
        .save(QStringLiteral("合并后列表另存为"), out)
        .info(QStringLiteral("邮件列表合并成功!"));
    Form1->N4->trigger();
    EXPECT_EQ(vqtest::readFile(out), "a1\r\nb1\r\n");
    // The folder of the chosen name became current, raw bytes and all.
    EXPECT_EQ(fs::current_path(), fs::path(dir.path()));

    // A whole-file error names the file; bytes that are no UTF-8 show as
    // replacement characters rather than vanishing.
    const std::string missingFolder = dir.file("\xff gone/p.txt");
    run.script.open(kImport, dir.file("list \xff.txt")).error(QStringLiteral("File not found."));
    Form1->N18->trigger();
    run.script.save(kExport, missingFolder)
        .error(QStringLiteral("Cannot create file ") + QString::fromUtf8(missingFolder) + ".");
    Form1->N19->trigger();
    expectNormal();
}

TEST_F(HostileWindow, ParameterFileThatIsNotGbkShowsAndComesBackByteForByte) {
    using namespace std::string_literals;
    const std::string params = dir.file("p.txt"), back = dir.file("back.txt");
    // A lone lead byte; a character; a lead byte whose next byte cannot trail.
    const std::string rows = "\x81\r\n\xb0\xa1.cn\r\nok\x81\x7f\r\n"s;
    vqtest::writeFile(params, rows);
    run.script.open(kImport, params);
    Form1->N18->trigger();
    TParameterListModel* m = parameterModel(Form1->StringGrid2);
    ASSERT_EQ(m->rowCount(), 3);
    auto shown = [&](int row) { return m->data(m->index(row, 0)).toString(); };
    EXPECT_EQ(shown(0), QString(QChar::ReplacementCharacter));
    EXPECT_EQ(shown(1), QStringLiteral("啊.cn"));
    EXPECT_EQ(shown(2), QStringLiteral("ok") + QChar::ReplacementCharacter + QChar(0x7f));

    // Editing one row re-encodes that row only; the others keep their bytes.
    ASSERT_TRUE(m->setData(m->index(1, 0), QStringLiteral("吧.com")));
    run.script.save(kExport, back);
    Form1->N19->trigger();
    EXPECT_EQ(vqtest::readFile(back), "\x81\r\n\xb0\xc9.com\r\nok\x81\x7f\r\n"s);
}

} // namespace
