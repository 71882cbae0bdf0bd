// The main window and its notification-area icon: placed while the window is
// built, hiding on minimise, back on a click.
#include "app/Unit1.h"
#include "checking/ui/Unit3.h"
#include "checking/ui/check_window.h"
#include "components/about.h"
#include "components/antTaskbarIcon.h"
#include "filtering/ui/domain_window.h"
#include "maintenance/ui/Unit2.h"
#include "platform/ui/notify_icon.h"
#include "support/scripted_notify_icons.h"
#include "support/scripted_services.h"
#include "testutil.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>
#include <semaphore>

using namespace vq::platform;

namespace {

class HidingToTheTray : public ::testing::Test {
protected:
    void SetUp() override {
        createApplicationWindows();
        Form1->show();
        QApplication::processEvents();
    }
    void TearDown() override { destroyApplicationWindows(); }

    void minimise() {
        Form1->setWindowState(Form1->windowState() | Qt::WindowMinimized);
        QApplication::processEvents();
    }
    void report(NotifyIcons::Report what) {
        desk.icons.report(Form1->antTaskbarIcon1->IconWindow(), 0, what);
        QApplication::processEvents();
    }

    ScopedScript run;
    ScopedNotifyIcons desk;
};

TEST_F(HidingToTheTray, IconIsPlacedWithTheTipWhileTheWindowIsBuilt) {
    EXPECT_EQ(desk.icons.requests.size(), 3u)
        << "add, tip, and the refused add of the loaded notification";
    const NotifyIcons::Entry* e = desk.icons.find(Form1->antTaskbarIcon1->IconWindow(), 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tip, "VeskoQindra V3.4");
    EXPECT_EQ(e->picture.pixmap(32).toImage(), Form1->windowIcon().pixmap(32).toImage());
    EXPECT_EQ(Form1->antTaskbarIcon1->objectName().toStdString(), "antTaskbarIcon1");
}

TEST_F(HidingToTheTray, MinimisingHidesAndAClickBringsTheWindowBack) {
    minimise();
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_NE(desk.icons.find(Form1->antTaskbarIcon1->IconWindow(), 0), nullptr)
        << "the icon stays while the window is hidden";
    report(NotifyIcons::Report::Click);
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(Form1->isMinimized());
    minimise();
    EXPECT_FALSE(Form1->isVisible()) << "hides again on the next minimise";
    report(NotifyIcons::Report::DoubleClick);
    EXPECT_FALSE(Form1->isVisible()) << "a double click alone is no click";
    report(NotifyIcons::Report::ContextMenu);
    EXPECT_FALSE(Form1->isVisible());
}

TEST_F(HidingToTheTray, OpenWindowsGoAndComeBackWithTheMainWindow) {
    AboutBox->show();
    Form1->domainWindow().show();
    QApplication::processEvents();
    minimise();
    EXPECT_FALSE(AboutBox->isVisible()) << "no window of the program stays on screen";
    EXPECT_FALSE(Form1->domainWindow().isVisible());
    EXPECT_FALSE(Form2->isVisible());
    report(NotifyIcons::Report::Click);
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_TRUE(AboutBox->isVisible()) << "what was open comes back";
    EXPECT_TRUE(Form1->domainWindow().isVisible());
    EXPECT_FALSE(Form2->isVisible()) << "what was closed stays closed";

    // Closed meanwhile by the user: the next round does not bring it back.
    AboutBox->close();
    minimise();
    report(NotifyIcons::Report::Click);
    EXPECT_FALSE(AboutBox->isVisible());
}

TEST_F(HidingToTheTray, ARunningCheckHidesWithTheWindowAndItsOutcomeWaitsForIt) {
    vqtest::KeepCurrentFolder keepFolder;
    vqtest::TempDir dir;
    const std::string in = dir.file("in.txt"), out = dir.file("out.txt");
    vqtest::writeFile(in, "a\r\nb\r\na\r\n");
    // The worker stands after its first line until the test lets it go on.
    struct Gate : vq::checking::CheckListener {
        std::binary_semaphore reached{0}, go{0};
        void progress(int64_t n, int64_t) override {
            if (n != 1) return;
            reached.release();
            go.acquire();
        }
    } gate;
    std::binary_semaphore &reached = gate.reached, &go = gate.go;
    Form1->listCheck().progressEvery = std::chrono::milliseconds(0);
    Form1->listCheck().watcher = &gate;
    run.script.open(QStringLiteral("选择待校验邮件列表文件"), in)
        .save(QStringLiteral("校验后列表另存为"), out);
    Form1->N6->trigger();
    ASSERT_TRUE(reached.try_acquire_for(std::chrono::seconds(60)));
    ASSERT_TRUE(Form3->isVisible());

    minimise();
    EXPECT_FALSE(Form3->isVisible()) << "the progress window goes with the main window";
    report(NotifyIcons::Report::Click);
    EXPECT_TRUE(Form3->isVisible()) << "and comes back while the check runs";

    // The pass ends while hidden: the outcome waits for the icon's click and
    // then shows over the main window; the progress window stays closed.
    minimise();
    run.script.info(QStringLiteral("邮件列表校验完毕!")).whileShowing([] {
        EXPECT_TRUE(Form1->isVisible());
        EXPECT_FALSE(Form3->isVisible());
    });
    bool countsShown = false, clicked = false;
    QTimer lookAgain;
    QObject::connect(&lookAgain, &QTimer::timeout, [&] {
        // The counts come just before the message; one more look later the
        // message, had it not waited, would have been shown already.
        if (clicked) return;
        if (countsShown) {
            EXPECT_FALSE(run.script.done()) << "the message came while hidden";
            EXPECT_FALSE(Form1->isVisible());
            clicked = true;
            report(NotifyIcons::Report::Click);
        }
        countsShown = !Form1->Label6->text().isEmpty();
    });
    lookAgain.start(10);
    go.release();
    QDeadlineTimer limit(60000); // only keeps a broken check from hanging the suite
    while (Form1->listCheck().running() && !limit.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(run.script.done());
    EXPECT_TRUE(run.script.failures().empty());
    EXPECT_EQ(vqtest::readFile(out), "a\r\nb\r\n");
}

TEST_F(HidingToTheTray, ClickWhileShownChangesNothing) {
    const QRect before = Form1->geometry();
    report(NotifyIcons::Report::Click);
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(Form1->isMinimized());
    EXPECT_EQ(Form1->geometry(), before);
}

TEST_F(HidingToTheTray, WithoutANotificationAreaTheWindowStaysMinimisedInReach) {
    desk.icons.tray = false;
    minimise();
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_TRUE(Form1->isMinimized());
}

TEST_F(HidingToTheTray, ClosingTheProgramRemovesTheIcon) {
    destroyApplicationWindows();
    EXPECT_EQ(desk.icons.count(), 0u);
    EXPECT_EQ(desk.icons.requests.back().message, NIM_DELETE);
    createApplicationWindows(); // for TearDown
}

} // namespace
