// A list written on Linux through every command of the window, against the
// same list with CR LF line ends: the same counts and the same output bytes.
#include "app/Unit1.h"
#include "filtering/ui/domain_window.h"
#include "filtering/ui/subtract_command.h"
#include "maintenance/ui/Unit2.h"
#include "maintenance/ui/folder_pickers.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace {

using vqtest::kMixedList;
using vqtest::kOtherList;

struct Results {
    std::map<std::string, std::string> files; // every output, by name
    std::vector<std::string> labels;          // the statistics panel after each command
};

Results runEveryCommand(bool linuxList) {
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    vqtest::writeCommandLists(dir, linuxList);
    vq::platform::ScopedScript run;
    createApplicationWindows();
    Results r;
    auto panel = [&] {
        std::string all;
        for (QLabel* l : {Form1->Label8, Form1->Label1, Form1->Label3, Form1->Label6,
                          Form1->Label11, Form1->Label13, Form1->Label15, Form1->Label17})
            all += l->text().toStdString() + " ";
        r.labels.push_back(all);
    };
    auto& s = run.script;
    s.open(QStringLiteral("选择待合并邮件列表文件A"), dir.file("in.txt"))
        .open(QStringLiteral("选择待合并邮件列表文件B"), dir.file("b.txt"))
        .save(QStringLiteral("合并后列表另存为"), dir.file("merged.txt"))
        .info(QStringLiteral("邮件列表合并成功!"));
    Form1->N4->trigger();
    panel();

    const QString filterOpen = QStringLiteral("选择待过滤邮件列表文件-请确认已添加过滤参数项!");
    const QString match = QStringLiteral("符合过滤条件的列表文件保存为");
    const QString rest = QStringLiteral("不符合过滤条件列表文件保存为");
    Form1->Edit1->setText(QStringLiteral(".cn"));
    Form1->Button1->click();
    s.open(filterOpen, dir.file("in.txt")).save(match, dir.file("or-m.txt"));
    s.save(rest, dir.file("or-r.txt"));
    Form1->N13->trigger();
    panel();
    Form1->Edit2->setText(QStringLiteral("@"));
    Form1->Button2->click();
    s.open(filterOpen, dir.file("in.txt")).save(match, dir.file("and-m.txt"));
    s.save(rest, dir.file("and-r.txt"));
    Form1->N27->trigger();
    panel();

    const QString prompt = QStringLiteral("提示信息");
    s.open(QStringLiteral("选择待分割邮件列表文件"), dir.file("in.txt"))
        .input(prompt, QStringLiteral("3"))
        .input(prompt, QStringLiteral("part"))
        .info(QStringLiteral("邮件列表分割成功!"));
    Form1->N5->trigger();
    panel();

    s.input(prompt, QStringLiteral("new@x.cn"))
        .open(QStringLiteral("请打开邮件列表文件"), dir.file("add.txt"))
        .info(QStringLiteral("邮件地址添加完毕!"));
    Form1->N12->trigger();
    panel();

    using namespace vq::filtering;
    s.open(kSubtractListTitle, dir.file("in.txt"))
        .openMany(kSuppressionTitle, {dir.file("unsub.txt"), dir.file("b.txt")})
        .save(kKeptTitle, dir.file("kept.txt"))
        .save(kRemovedTitle, dir.file("removed.txt"));
    Form1->N29->trigger();
    panel();
    s.open(kDomainListTitle, dir.file("in.txt")).save(kDomainTableTitle, dir.file("domains.csv"));
    Form1->N30->trigger();
    Form1->domainWindow().saveButton->click();

    Form2->DirectoryListBox1->setDirectory(QString::fromStdString(dir.file("folder")));
    s.save(QStringLiteral("合并后列表保存为"), dir.file("folder-merged.txt"));
    Form2->Button1->click();
    r.labels.push_back(Form2->Label2->text().toStdString());

    for (const QString& f : s.failures())
        ADD_FAILURE() << f.toStdString();
    EXPECT_TRUE(s.done()) << "a queued dialog was never shown";
    destroyApplicationWindows();
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.is_regular_file()) r.files[e.path().filename()] = vqtest::readFile(e.path());
    return r;
}

} // namespace

TEST(LinuxListsWindow, EveryCommandGivesWhatTheCrLfListGives) {
    const Results crLf = runEveryCommand(false), lf = runEveryCommand(true);
    EXPECT_EQ(lf.labels, crLf.labels);
    EXPECT_EQ(crLf.files.at("or-m.txt"), "a@b.cn\r\npad@z.cn\r\nq@w.cn.com\r\nlast@x.cn\r\n");
    EXPECT_EQ(crLf.files.at("part3.txt"), "q@w.cn.com\r\nlast@x.cn\r\n");
    EXPECT_EQ(crLf.files.at("kept.txt"), "A@B.CN\r\n  pad@z.cn \r\nq@w.cn.com\r\n");
    EXPECT_EQ(crLf.files.at("domains.csv"),
              "domain,count\r\ny.com,2\r\nb.cn,1\r\nw.cn.com,1\r\nx.cn,1\r\nz.cn,1\r\n");
    for (const auto& [name, bytes] : crLf.files) {
        // The inputs keep their own line ends; the self-add follows a Linux
        // list's last LF with no empty line between.
        if (name == "in.txt" || name == "b.txt" || name == "unsub.txt") continue;
        const std::string expected =
            name == "add.txt" ? vqtest::writtenOnLinux(kOtherList) + "new@x.cn\r\n" : bytes;
        EXPECT_EQ(lf.files.count(name) ? lf.files.at(name) : "(none)", expected) << name;
    }
    EXPECT_EQ(lf.files.size(), crLf.files.size());
}
