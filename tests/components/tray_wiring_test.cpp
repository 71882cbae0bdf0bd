// The main window and its notification-area icon: placed while the window is
// built, hiding on minimise, back on a click.
#include "app/Unit1.h"
#include "components/about.h"
#include "components/antTaskbarIcon.h"
#include "maintenance/Unit2.h"
#include "platform/notify_icon.h"
#include "platform/scripted_services.h"

#include <QApplication>
#include <gtest/gtest.h>

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
    QApplication::processEvents();
    minimise();
    EXPECT_FALSE(AboutBox->isVisible()) << "no window of the program stays on screen";
    EXPECT_FALSE(Form2->isVisible());
    report(NotifyIcons::Report::Click);
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_TRUE(AboutBox->isVisible()) << "what was open comes back";
    EXPECT_FALSE(Form2->isVisible()) << "what was closed stays closed";

    // Closed meanwhile by the user: the next round does not bring it back.
    AboutBox->close();
    minimise();
    report(NotifyIcons::Report::Click);
    EXPECT_FALSE(AboutBox->isVisible());
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
