// Every command's whole run, from the first dialog to the last message, with
// one injected fault at a time: the k-th open, read, write, sync, close or
// rename fails with EIO, ENOSPC or EACCES, or the disk fills up at every
// byte of the output. Each case checks the error the user sees, which
// files exist and what they hold, that a file being replaced survives a
// failed save, that no temporary file stays behind, and that the cursor
// and the windows are back to normal.
#include "app/Unit1.h"
#include "checking/ui/Unit3.h"
#include "checking/ui/check_window.h"
#include "components/gauge.h"
#include "filtering/ui/domain_window.h"
#include "filtering/ui/parameter_grid.h"
#include "filtering/ui/subtract_command.h"
#include "maintenance/ui/Unit2.h"
#include "maintenance/ui/folder_pickers.h"
#include "support/fault_injection.h"
#include "sweep_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>

namespace {

namespace fs = std::filesystem;
using vq::listio::faults::Call;
using vq::listio::faults::Injector;
using vq::listio::faults::Op;

const Op kOps[] = {Op::Open, Op::Read, Op::Write, Op::Sync, Op::Close, Op::Rename};
const int kErrnos[] = {EIO, ENOSPC, EACCES};

QString fromUtf8(const std::string& s) {
    return QString::fromStdString(s);
}

// What a text-file mode shows for each injected errno.
QString textError(int err) {
    switch (err) {
    case EACCES:
        return QStringLiteral("File access denied.");
    case ENOSPC:
        return QStringLiteral("Disk full.");
    default:
        return QStringLiteral("I/O error %1.").arg(1000 + err);
    }
}

// The whole-file saver replacing `target`: a failed step before the rename
// leaves the old file, and says which step failed. A folder that allows no
// temporary file (EACCES on its opening) is refused like any other.
QString saverError(const Call& c, int, const std::string& target) {
    if (c.op == Op::Open || c.op == Op::Rename)
        return fromUtf8("Cannot create file " + target + ".");
    return QStringLiteral("Stream write error.");
}

enum class Kind { Text, WholeFile, Appended };

struct Output {
    Output(std::string p, std::string f, Kind k = Kind::Text, std::string o = {})
        : path(std::move(p)), full(std::move(f)), kind(k), old(std::move(o)) {}
    std::string path;
    std::string full; // what a run without faults leaves there
    Kind kind;
    std::string old; // the content before the run (whole-file and appended outputs)
};

struct Command {
    std::string name;
    std::function<void()> prepare;   // before every run
    std::function<void()> run;       // the click, until the command has ended
    std::vector<std::string> inputs; // never changed
    std::vector<Output> outputs;
    QStringList success;                                  // messages of a run without failure
    std::function<QString(const Call&, int err)> failure; // empty: the command recovers
    QString fullDisk;                                     // the error when the disk fills up
    std::function<void(bool failed)> settled;
    uint64_t scratch = 0; // the bytes the run writes to a scratch file
};

class FaultSweep : public ::testing::Test {
protected:
    void SetUp() override {
        vq::platform::setServices(&services);
        createApplicationWindows();
    }
    void TearDown() override {
        destroyApplicationWindows();
        vq::platform::setServices(nullptr);
    }

    std::map<std::string, std::string> snapshot(const std::vector<std::string>& files) {
        std::map<std::string, std::string> m;
        for (const auto& f : files)
            m[f] = vqtest::readFile(f);
        return m;
    }

    // One run with the injector armed (or limited) by the caller.
    void verify(const Command& c, const QString& expectedError, uint64_t sizeLimit,
                const std::map<std::string, std::string>& inputsBefore) {
        const bool failed = !expectedError.isEmpty();
        if (failed) {
            EXPECT_EQ(services.errors, QStringList{expectedError});
            EXPECT_TRUE(services.messages.isEmpty()) << services.messages.join('|').toStdString();
        } else {
            EXPECT_TRUE(services.errors.isEmpty()) << services.errors.join('|').toStdString();
            EXPECT_EQ(services.messages, c.success);
        }
        EXPECT_EQ(snapshot(c.inputs), inputsBefore) << "an input changed";

        const std::vector<Call> calls = injector.calls();
        for (const Output& o : c.outputs) {
            SCOPED_TRACE(o.path);
            const std::string now = vqtest::readFile(o.path);
            switch (o.kind) {
            case Kind::WholeFile:
                // Replaced completely or not at all.
                EXPECT_EQ(now, failed ? o.old : o.full);
                break;
            case Kind::Appended:
                // The whole line added, or the file as it was, cut bytes included.
                EXPECT_EQ(now, failed ? o.old : o.full);
                break;
            case Kind::Text: {
                // Plain names (the splitter's) are relative to the folder the
                // dialog made current, which is still current here.
                bool created = false;
                for (const Call& call : calls)
                    if (call.op == Op::Open && !call.failed && fs::absolute(call.path) == o.path)
                        created = true;
                EXPECT_EQ(vqtest::exists(o.path), created);
                // Whatever was written is the start of the right output.
                EXPECT_EQ(o.full.substr(0, now.size()), now);
                EXPECT_LE(now.size(), sizeLimit);
                if (!failed) {
                    EXPECT_EQ(now, o.full);
                }
                break;
            }
            }
        }
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            EXPECT_EQ(e.path().filename().string().rfind(".vq-save-", 0), std::string::npos)
                << "temporary file left: " << e.path();

        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "busy cursor left";
        EXPECT_EQ(Form1->Panel1->cursor().shape(), Qt::ArrowCursor);
        EXPECT_FALSE(Form3->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        if (c.settled) c.settled(failed);
    }

    // The reference run, then every call of every kind failed in turn with
    // every errno, then the disk filling up at every output size.
    void sweep(const Command& c) {
        SCOPED_TRACE(c.name);
        int cases = 0;
        auto start = [&] {
            c.prepare();
            services.clear();
            injector.reset();
            return snapshot(c.inputs);
        };

        auto before = start();
        c.run();
        verify(c, {}, UINT64_MAX, before);
        std::map<Op, int> counts;
        for (Op op : kOps)
            counts[op] = injector.count(op);
        EXPECT_GT(counts[Op::Open], 0);

        for (Op op : kOps) {
            for (int n = 1; n <= counts[op]; ++n) {
                for (int err : kErrnos) {
                    SCOPED_TRACE(std::string(vq::listio::faults::opName(op)) + " #" +
                                 std::to_string(n) + " errno " + std::to_string(err));
                    before = start();
                    injector.failNth(op, n, err);
                    c.run();
                    const auto fired = injector.fired();
                    ASSERT_TRUE(fired.has_value()) << "the run made fewer calls than the reference";
                    SCOPED_TRACE("on " + fired->path);
                    verify(c, c.failure(*fired, err), UINT64_MAX, before);
                    ++cases;
                }
            }
        }

        std::size_t largest = c.scratch;
        for (const Output& o : c.outputs)
            largest = std::max(largest, o.full.size());
        for (uint64_t limit = 0; limit <= largest; ++limit) {
            SCOPED_TRACE("files limited to " + std::to_string(limit) + " bytes");
            before = start();
            injector.limitFileSize(limit);
            c.run();
            injector.liftLimit();
            // An append may write anywhere up to the larger of the file's old
            // and new sizes.
            bool fits = c.scratch <= limit;
            for (const Output& o : c.outputs)
                fits = fits && std::max(o.full.size(), o.old.size()) <= limit;
            verify(c, fits ? QString() : c.fullDisk, limit, before);
            ++cases;
        }
        std::cout << "[ sweep    ] " << c.name << ": " << cases << " faulted runs\n";
    }

    void waitForCheck() {
        QDeadlineTimer limit(60000); // only keeps a broken check from hanging the suite
        while (Form1->listCheck().running() && !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_FALSE(Form1->listCheck().running()) << "the check never ended";
        if (Form1->listCheck().worker) Form1->listCheck().worker->wait();
    }

    static bool labelsBlank(std::initializer_list<QLabel*> labels) {
        for (QLabel* l : labels)
            if (!l->text().isEmpty()) return false;
        return true;
    }

    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    vqtest::SweepServices services;
    Injector injector;
};

TEST_F(FaultSweep, ManualMerge) {
    const std::string a = dir.file("a.txt"), b = dir.file("b.txt"), out = dir.file("out.txt");
    services.files = {{QStringLiteral("选择待合并邮件列表文件A"), a},
                      {QStringLiteral("选择待合并邮件列表文件B"), b},
                      {QStringLiteral("合并后列表另存为"), out}};
    Command c;
    c.name = "manual merge";
    c.prepare = [&] {
        vqtest::writeFile(a, "a1\r\na2\r\na3");
        vqtest::writeFile(b, "b1\r\nb2\r\n");
        fs::remove(out);
    };
    c.run = [] { Form1->N4->trigger(); };
    c.inputs = {a, b};
    c.outputs = {{out, "a1\r\na2\r\na3\r\nb1\r\nb2\r\n"}};
    c.success = {QStringLiteral("邮件列表合并成功!")};
    c.failure = [](const Call&, int err) { return textError(err); };
    c.fullDisk = QStringLiteral("Disk full.");
    c.settled = [](bool) { EXPECT_TRUE(Form1->Label1->text().isEmpty()); };
    sweep(c);
}

TEST_F(FaultSweep, Splitter) {
    const std::string in = dir.file("in.txt");
    services.files = {{QStringLiteral("选择待分割邮件列表文件"), in}};
    services.inputs = {{QStringLiteral("请输入分割列表基准数"), QStringLiteral("2")},
                       {QStringLiteral("请输入分割后文件名称"), QStringLiteral("part")}};
    Command c;
    c.name = "splitter";
    c.prepare = [&] {
        vqtest::writeFile(in, "l1\r\nl2\r\nl3\r\nl4\r\nl5");
        for (const char* f : {"part1.txt", "part2.txt", "part3.txt"})
            fs::remove(dir.file(f));
    };
    c.run = [] { Form1->N5->trigger(); };
    c.inputs = {in};
    // A plain base name lands beside the input, whose folder the dialog made current.
    c.outputs = {{dir.file("part1.txt"), "l1\r\nl2\r\n"},
                 {dir.file("part2.txt"), "l3\r\nl4\r\n"},
                 {dir.file("part3.txt"), "l5\r\n"}};
    c.success = {QStringLiteral("邮件列表分割成功!")};
    c.failure = [](const Call&, int err) { return textError(err); };
    c.fullDisk = QStringLiteral("Disk full.");
    c.settled = [](bool failed) {
        EXPECT_EQ(Form1->Label8->text(), failed ? QString() : QStringLiteral("3"));
    };
    sweep(c);
}

TEST_F(FaultSweep, SelfAdd) {
    const std::string list = dir.file("list.txt");
    services.files = {{QStringLiteral("请打开邮件列表文件"), list}};
    services.inputs = {{QStringLiteral("请添加电子邮件地址"), QStringLiteral("  new@z.cn ")}};
    // Without an end-of-file mark, and with marks whose cut bytes are fewer
    // or more than the bytes added.
    for (const std::string& tail :
         {std::string(), std::string("\x1Aj"), "\x1A" + std::string(20, 'j')}) {
        Command c;
        c.name = "self-add, " + std::to_string(tail.size()) + " bytes cut";
        c.prepare = [&] { vqtest::writeFile(list, "x@y.com\r\n" + tail); };
        c.run = [] { Form1->N12->trigger(); };
        c.outputs = {{list, "x@y.com\r\nnew@z.cn\r\n", Kind::Appended, "x@y.com\r\n" + tail}};
        c.success = {QStringLiteral("邮件地址添加完毕!")};
        c.failure = [](const Call&, int err) { return textError(err); };
        c.fullDisk = QStringLiteral("Disk full.");
        sweep(c);
    }
}

// In memory, and partitioned in a scratch file: its failures, the full disk
// among them, end the check as the save's would.
TEST_F(FaultSweep, ListCheckOnItsWorkerThread) {
    const std::string in = dir.file("in.txt"), out = dir.file("out.txt");
    services.files = {{QStringLiteral("选择待校验邮件列表文件"), in},
                      {QStringLiteral("校验后列表另存为"), out}};
    for (const uint64_t memory : {0, 1}) {
        Form1->listCheck().memory = memory;
        Command c;
        c.name = memory ? "partitioned list check" : "list check";
        // The three lines with their CRs, and a byte of their bits.
        c.scratch = memory ? 7 : 0;
        c.prepare = [&] {
            vqtest::writeFile(in, "a\r\nb\r\na\r\n");
            vqtest::writeFile(out, "old\r\n");
        };
        c.run = [&] {
            Form1->N6->trigger();
            waitForCheck();
        };
        c.inputs = {in};
        c.outputs = {{out, "a\r\nb\r\n", Kind::WholeFile, "old\r\n"}};
        c.success = {QStringLiteral("邮件列表校验完毕!")};
        c.failure = [in, out](const Call& call, int err) {
            return call.path == in ? textError(err) : saverError(call, err, out);
        };
        c.fullDisk = QStringLiteral("Stream write error.");
        c.settled = [](bool) {
            EXPECT_EQ(Form1->Gauge1->progress(), 0);
            EXPECT_TRUE(Form1->listCheck().StringGrid1.empty());
        };
        sweep(c);
    }
}

TEST_F(FaultSweep, OrAndAndFilters) {
    const std::string in = dir.file("in.txt"), match = dir.file("match.txt"),
                      rest = dir.file("rest.txt");
    services.files = {{QStringLiteral("选择待过滤邮件列表文件-请确认已添加过滤参数项!"), in},
                      {QStringLiteral("符合过滤条件的列表文件保存为"), match},
                      {QStringLiteral("不符合过滤条件列表文件保存为"), rest}};
    Form1->Button1Click(); // ".cn" into the OR list
    Form1->Button2Click(); // ".com" into the AND list
    for (QAction* action : {Form1->N13, Form1->N27}) {
        const bool orFilter = action == Form1->N13;
        Command c;
        c.name = orFilter ? "OR filter" : "AND filter";
        c.prepare = [&] {
            vqtest::writeFile(in, "a@b.cn\r\n  C@D.COM\r\nbad\r\n");
            fs::remove(match);
            fs::remove(rest);
        };
        c.run = [action] { action->trigger(); };
        c.inputs = {in};
        c.outputs = {{match, orFilter ? "a@b.cn\r\n" : "c@d.com\r\n"},
                     {rest, orFilter ? "c@d.com\r\n" : "a@b.cn\r\n"}};
        c.failure = [](const Call&, int err) { return textError(err); };
        c.fullDisk = QStringLiteral("Disk full.");
        c.settled = [](bool failed) {
            // A failed pass shows no count of its run.
            const QString shown = Form1->Label11->text() + "|" + Form1->Label13->text() + "|" +
                                  Form1->Label15->text() + "|" + Form1->Label17->text();
            EXPECT_EQ(shown, failed ? QStringLiteral("|||") : QStringLiteral("3|1|1|1"));
        };
        sweep(c);
    }
}

TEST_F(FaultSweep, SubtractionAndDomainCount) {
    using namespace vq::filtering;
    const std::string in = dir.file("in.txt"), unsub = dir.file("unsub.txt"),
                      kept = dir.file("kept.txt"), removed = dir.file("removed.txt"),
                      csv = dir.file("domains.csv");
    services.files = {{kSubtractListTitle, in}, {kSuppressionTitle, unsub},
                      {kKeptTitle, kept},       {kRemovedTitle, removed},
                      {kDomainListTitle, in},   {kDomainTableTitle, csv}};
    auto prepare = [&] {
        vqtest::writeFile(in, "a@b.cn\r\n  C@D.COM\r\nbad\r\n");
        vqtest::writeFile(unsub, "c@d.com\r\n");
        vqtest::writeFile(csv, "old\r\n");
        fs::remove(kept);
        fs::remove(removed);
    };
    Command subtract;
    subtract.name = "subtraction";
    subtract.prepare = prepare;
    subtract.run = [] { Form1->N29->trigger(); };
    subtract.inputs = {in, unsub};
    subtract.outputs = {{kept, "a@b.cn\r\n"}, {removed, "  C@D.COM\r\n"}};
    subtract.failure = [](const Call&, int err) { return textError(err); };
    subtract.fullDisk = QStringLiteral("Disk full.");
    subtract.settled = [](bool failed) {
        const QString shown = Form1->Label11->text() + "|" + Form1->Label13->text() + "|" +
                              Form1->Label15->text() + "|" + Form1->Label17->text();
        EXPECT_EQ(shown, failed ? QStringLiteral("|||") : QStringLiteral("3|1|1|1"));
    };
    sweep(subtract);

    // The count, then the table saved from its window.
    Command domains;
    domains.name = "domain count";
    domains.prepare = prepare;
    domains.run = [this] {
        Form1->N30->trigger();
        // A failed count leaves the window with the table it had.
        if (services.errors.isEmpty()) Form1->domainWindow().saveButton->click();
    };
    domains.inputs = {in};
    domains.outputs = {{csv, "domain,count\r\nb.cn,1\r\nd.com,1\r\n", Kind::WholeFile, "old\r\n"}};
    domains.failure = [in, csv](const Call& call, int err) {
        return call.path == in ? textError(err) : saverError(call, err, csv);
    };
    domains.fullDisk = QStringLiteral("Stream write error.");
    sweep(domains);
}

TEST_F(FaultSweep, ParameterImportAndExport) {
    const std::string params = dir.file("params.txt"), before = dir.file("before.txt"),
                      exported = dir.file("export.txt");
    services.files = {{QStringLiteral("选择或条件过滤参数文件"), params},
                      {QStringLiteral("过滤参数项文件保存为"), exported}};
    TParameterListModel* list = parameterModel(Form1->StringGrid2);
    auto reset = [&] {
        vqtest::writeFile(before, ".old\r\n");
        list->importFile(before);
        vqtest::writeFile(params, ".cn\r\n\r\n.com");
        vqtest::writeFile(exported, "old\r\n");
    };

    Command import;
    import.name = "parameter import";
    import.prepare = reset;
    import.run = [] { Form1->N18->trigger();
};
import.inputs = {params};
// The file is counted with the text-file reader (its first opening),
// then loaded whole (its second).
import.failure = [params](const Call& call, int err) { if (call.opening < 2) return textError(err);
if (call.op == Op::Open) return fromUtf8("Cannot open file " + params + ".");
return QStringLiteral("Stream read error.");
}; // namespace
import.settled = [list](bool failed) {
    const auto expected =
        failed ? std::vector<std::string>{".old"} : std::vector<std::string>{".cn", " ", ".com"};
EXPECT_EQ(list->list().shownRows(), expected) << "a failed import changed the list";
EXPECT_EQ(list->list().parameterCount(), failed ? 1 : 3);
}
;
sweep(import);

Command exporting;
exporting.name = "parameter export";
exporting.prepare = reset;
exporting.run = [] { Form1->N19->trigger(); };
exporting.outputs = {{exported, ".old\r\n", Kind::WholeFile, "old\r\n"}};
exporting.failure = [exported](const Call& call, int err) {
    return saverError(call, err, exported);
};
exporting.fullDisk = QStringLiteral("Stream write error.");
sweep(exporting);
}

TEST_F(FaultSweep, FolderMerge) {
    vqtest::TempDir lists;
    const std::string out = dir.file("merged.txt");
    vqtest::writeFile(lists.file("a.txt"), "A1\r\nA2\r\n");
    vqtest::writeFile(lists.file("b.txt"), "B1");
    Form2->DirectoryListBox1->setDirectory(fromUtf8(lists.path()));
    Form2->show();
    services.files = {{QStringLiteral("合并后列表保存为"), out}};

    // The folder search returns the files in the file system's order.
    services.clear();
    Form2->Button1->click();
    const std::string full = vqtest::readFile(out);
    ASSERT_TRUE(full == "a1\r\na2\r\nb1\r\n" || full == "b1\r\na1\r\na2\r\n") << full;

    Command c;
    c.name = "folder merge";
    c.prepare = [&] {
        fs::remove(out);
        Form2->Label2->setText(QStringLiteral("0"));
    };
    c.run = [] { Form2->Button1->click(); };
    c.inputs = {lists.file("a.txt"), lists.file("b.txt")};
    c.outputs = {{out, full}};
    c.failure = [](const Call&, int err) { return textError(err); };
    c.fullDisk = QStringLiteral("Disk full.");
    c.settled = [](bool failed) {
        EXPECT_TRUE(Form2->isVisible());
        if (!failed) {
            EXPECT_EQ(Form2->Label2->text(), QStringLiteral("3"));
        }
        EXPECT_LE(Form2->Label2->text().toInt(), 3);
    };
    sweep(c);
}

} // namespace
