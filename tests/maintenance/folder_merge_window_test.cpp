// The folder-merge window: its merge through the scripted save dialog, its
// folder list and drive list, and closing that only hides it.
#include "app/Unit1.h"
#include "maintenance/ui/Unit2.h"
#include "maintenance/ui/folder_pickers.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const QString kSave = QStringLiteral("合并后列表保存为");

class FolderMergeWindow : public ::testing::Test {
protected:
    void SetUp() override {
        createApplicationWindows();
        vqtest::writeFile(dir.file("a.txt"), "A1\r\nA2\r\n");
        vqtest::writeFile(dir.file("b.TXT"), "B1");
        for (const char* sub : {"b", "A", "c.txt"})
            std::filesystem::create_directory(dir.file(sub));
        Form2->DirectoryListBox1->setDirectory(QString::fromStdString(dir.path()));
    }
    void TearDown() override {
        for (const QString& f : run.script.failures())
            ADD_FAILURE() << f.toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor stayed";
        destroyApplicationWindows();
    }
    std::string count() { return Form2->Label2->text().toStdString(); }
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir, elsewhere;
    vq::platform::ScopedScript run;
};

TEST_F(FolderMergeWindow, MergesTheListedFolderAndShowsOnlyTheCount) {
    Form1->Label1->setText(QStringLiteral("7"));
    run.script.save(kSave, elsewhere.file("out.txt")).whileShowing([&] {
        EXPECT_EQ(run.script.lastFileDialog().filter, QStringLiteral("邮件列表[*.txt]|*.txt"));
    });
    Form2->Button1->click();
    EXPECT_EQ(count(), "3");
    std::string out = vqtest::readFile(elsewhere.file("out.txt"));
    EXPECT_TRUE(out == "a1\r\na2\r\nb1\r\n" || out == "b1\r\na1\r\na2\r\n") << out;
    EXPECT_EQ(Form1->Label1->text(), QStringLiteral("7")); // the main panel is not touched

    run.script.cancelFile(vq::platform::DialogKind::Save, kSave);
    Form2->Button1->click();
    // The output inside the folder, under another spelling, is still skipped.
    run.script.save(kSave, dir.path() + "//./out.txt");
    Form2->Button1->click();
    EXPECT_EQ(count(), "3");
    out = vqtest::readFile(dir.file("out.txt"));
    EXPECT_TRUE(out == "a1\r\na2\r\nb1\r\n" || out == "b1\r\na1\r\na2\r\n") << out;
}

TEST_F(FolderMergeWindow, FolderListShowsThePathAndSortedSubFolders) {
    TDirectoryListBox* list = Form2->DirectoryListBox1;
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    const int depth = (int)QString::fromStdString(dir.path()).count(QLatin1Char('/'));
    EXPECT_EQ(rows.first(), QStringLiteral("/"));
    EXPECT_EQ(list->currentRow(), depth);
    EXPECT_EQ(rows.mid(depth + 1), (QStringList{"A", "b", "c.txt"}));
    EXPECT_LE(Form2->Label1->width(), list->width());

    list->openRow(depth + 2); // as a double-click on "b"
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir.file("b")));
    const int drive = Form2->DriveComboBox1->currentIndex();
    ASSERT_GE(drive, 0);
    EXPECT_EQ(Form2->DriveComboBox1->folderOf(drive).toStdString(), dir.file("b"));
    list->openRow(depth - 1); // up to the parent
    EXPECT_EQ(list->directory().toStdString(), std::filesystem::path(dir.path()).parent_path());
}

TEST_F(FolderMergeWindow, ClosingOnlyHidesAndKeepsFolderAndCount) {
    Form2->Label2->setText(QStringLiteral("42"));
    Form1->N24->trigger();
    Form2->Button2->click();
    EXPECT_FALSE(Form2->isVisible());
    Form1->N24->trigger();
    EXPECT_TRUE(Form2->isVisible());
    EXPECT_EQ(count() + " " + Form2->DirectoryListBox1->directory().toStdString(),
              "42 " + dir.path());
    Form2->close();
    EXPECT_FALSE(Form2->isVisible());
}

} // namespace
