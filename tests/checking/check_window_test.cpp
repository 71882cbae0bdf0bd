// The list check from the main window, first dialog to last message, with a
// real worker thread.
#include "app/Unit1.h"
#include "check_cases.h"
#include "checking/ui/Unit3.h"
#include "checking/ui/check_window.h"
#include "components/gauge.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <semaphore>
#include <thread>

namespace {

const QString kOpenTitle = QStringLiteral("选择待校验邮件列表文件");
const QString kSaveTitle = QStringLiteral("校验后列表另存为");
const QString kFinished = QStringLiteral("邮件列表校验完毕!");
const QString kNoDuplicates = QStringLiteral("邮件列表没有重复!");
const QString kStopped = QStringLiteral("邮件列表校验终止!");
const QString kRefused = QStringLiteral("邮件列表校验正在进行中!");
const std::string kSixLines = "a\r\nb\r\na\r\nc\r\nb\r\na\r\n";

// Holds the worker after a chosen line until the test lets it go on.
struct LineGate : vq::checking::CheckListener {
    explicit LineGate(int64_t line) : at(line) {}
    int64_t at;
    std::function<void()> whileHeld; // instead of waiting for go
    std::binary_semaphore reached{0}, go{0};
    void progress(int64_t n, int64_t) override {
        if (n != at) return;
        reached.release();
        if (whileHeld)
            whileHeld();
        else
            go.acquire();
    }
    // The limit only keeps a broken check from hanging the suite.
    bool waitReached() { return reached.try_acquire_for(std::chrono::seconds(60)); }
};

class CheckWindow : public ::testing::Test {
protected:
    void SetUp() override { createApplicationWindows(); }
    void TearDown() override {
        for (const QString& f : run.script.failures())
            ADD_FAILURE() << f.toStdString();
        EXPECT_TRUE(run.script.done()) << "a queued dialog was never shown";
        destroyApplicationWindows();
        vq::listio::faults::setHook({});
    }
    vq::checking::ListCheck& state() { return Form1->listCheck(); }
    // Every line is reported to the gate.
    void hold(LineGate* gate) {
        state().progressEvery = std::chrono::milliseconds(0);
        state().watcher = gate;
    }
    void chooseFiles(const std::string& input, const std::string& output) {
        run.script.open(kOpenTitle, input).save(kSaveTitle, output);
    }
    bool waitForEnd() {
        QDeadlineTimer limit(60000);
        while (state().running() && !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return !state().running();
    }
    // What every check leaves behind, whatever its outcome.
    void expectCleanEnd() {
        EXPECT_FALSE(Form3->isVisible());
        EXPECT_EQ(Form1->Gauge1->progress(), 0);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(state().StringGrid1.empty());
    }
    std::string labels() {
        return (Form1->Label1->text() + "|" + Form1->Label3->text() + "|" + Form1->Label6->text())
            .toStdString();
    }

    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    std::string in = dir.file("in.txt"), out = dir.file("out.txt");
    vq::platform::ScopedScript run;
};

} // namespace

TEST_F(CheckWindow, EveryCaseFromTheToolbarButton) {
    for (const auto& way : vqtest::checkWays()) {
        if (way.partitions > 0 || way.uncounted) continue;
        state().memory = way.memory;
        for (const auto& c : vqtest::checkCases()) {
            SCOPED_TRACE(way.name + ", " + c.name);
            vqtest::writeFile(in, c.input);
            vqtest::writeFile(out, "old\r\n");
            chooseFiles(in, out);
            run.script.info(c.written.empty() ? kNoDuplicates : kFinished).whileShowing([] {
                // The busy cursor stays up while the outcome is on screen.
                EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
                EXPECT_FALSE(Form3->isVisible());
            });
            Form1->SpeedButton3->click();
            ASSERT_TRUE(waitForEnd());
            EXPECT_EQ(labels(), std::to_string(c.lines) + "|" + std::to_string(c.lines - c.kept) +
                                    "|" + std::to_string(c.kept));
            EXPECT_EQ(vqtest::readFile(out), c.written.empty() ? "old\r\n" : c.written);
            // The last line's count was shown before the window closed.
            EXPECT_EQ(Form3->Label1->text().toStdString(),
                      std::to_string(c.lines) + " of Total " + std::to_string(c.lines) + "...");
            EXPECT_EQ(Form1->Gauge1->maxValue(), c.lines);
            expectCleanEnd();
        }
    }
}

TEST_F(CheckWindow, StopEndsThePassAfterTheCurrentLineAndTheNextCheckStartsEmpty) {
    // In memory the stop comes after line 3; partitioned, while the one
    // partition is decided: the count then stands at two thirds.
    for (const auto& [memory, at] : {std::pair<uint64_t, int64_t>{0, 3}, {1, 4}}) {
        SCOPED_TRACE(memory);
        state().memory = memory;
        LineGate gate(at);
        hold(&gate);
        vqtest::writeFile(in, kSixLines);
        chooseFiles(in, out);
        run.script.info(kStopped);
        Form1->N6->trigger();
        ASSERT_TRUE(gate.waitReached());
        ASSERT_TRUE(Form3->isVisible());
        QTest::mouseClick(Form3->Button1, Qt::LeftButton);
        gate.go.release();
        ASSERT_TRUE(waitForEnd());
        EXPECT_EQ(labels(), "6||");
        EXPECT_EQ(Form3->Label1->text().toStdString(), std::to_string(at) + " of Total 6...");
        EXPECT_FALSE(vqtest::exists(out));
        expectCleanEnd();
    }

    state().memory = 0;
    hold(nullptr);
    vqtest::writeFile(in, "z\r\nz\r\nz\r\n");
    chooseFiles(in, out);
    run.script.info(kFinished);
    Form1->N6->trigger();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(vqtest::readFile(out), "z\r\n");
}

TEST_F(CheckWindow, CloseBoxOnlyHidesAndASecondCheckIsRefused) {
    LineGate gate(2);
    hold(&gate);
    vqtest::writeFile(in, kSixLines);
    chooseFiles(in, out);
    run.script.info(kRefused).info(kFinished);
    Form1->N6->trigger();
    ASSERT_TRUE(gate.waitReached());
    Form3->close();
    EXPECT_FALSE(Form3->isVisible());
    Form1->SpeedButton3->click(); // no dialog, no change to the running check
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_EQ(labels(), "6||");
    gate.go.release();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(vqtest::readFile(out), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(labels(), "6|3|3");
    expectCleanEnd();
}

TEST_F(CheckWindow, FailuresShowTheErrorBoxAndEndAsANormalCheck) {
    vqtest::writeFile(in, kSixLines);
    const std::string noFolder = dir.file("no/out.txt");
    // Reads of the input fail once the worker has opened it (second opening).
    std::atomic<int> openings{0};
    auto failPassReads = [&](vq::listio::faults::Op op, const std::string& path) {
        if (path != in) return 0;
        if (op == vq::listio::faults::Op::Open) ++openings;
        return op == vq::listio::faults::Op::Read && openings >= 2 ? EIO : 0;
    };
    struct Row {
        const char* name;
        std::string input, output;
        std::string error;
        std::string labelsAfter;
        bool readsFail = false;
    };
    const Row rows[] = {
        {"InputGoneBeforeCounting", dir.file("gone.txt"), out, "File not found.", "||"},
        {"OutputCannotBeCreated", in, noFolder,
         vq::withFullStop(vq::EFCreateError(noFolder).what()), "6|3|3"},
        {"InputReadFailsDuringThePass", in, out,
         vq::withFullStop(vq::EInOutError(vq::codeFromErrno(EIO, in)).what()), "6||", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        openings = 0;
        if (r.readsFail) vq::listio::faults::setHook(failPassReads);
        chooseFiles(r.input, r.output);
        run.script.error(QString::fromStdString(r.error));
        Form1->N6->trigger();
        ASSERT_TRUE(waitForEnd());
        vq::listio::faults::setHook({});
        EXPECT_EQ(labels(), r.labelsAfter);
        EXPECT_FALSE(vqtest::exists(r.output));
        expectCleanEnd();
    }
}

TEST_F(CheckWindow, EndingTheProgramDuringACheckWritesNothing) {
    LineGate gate(2);
    vq::checking::ListCheck* check = &state();
    // The worker goes on only once the program's end has set the stop flag.
    gate.whileHeld = [check] {
        while (!check->stopRequested())
            std::this_thread::yield();
    };
    hold(&gate);
    vqtest::writeFile(in, kSixLines);
    chooseFiles(in, out);
    Form1->N6->trigger();
    ASSERT_TRUE(gate.waitReached());
    destroyApplicationWindows(); // waits for the worker; no message is shown
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"in.txt"});
}
