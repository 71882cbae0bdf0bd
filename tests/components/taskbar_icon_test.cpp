// TantTaskbarIcon driven through the scripted notification service and by
// messages sent straight to its icon window.
#include "components/antTaskbarIcon.h"
#include "platform/ui/codepage.h"
#include "support/scripted_notify_icons.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPixmap>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vq::platform;

namespace {

// Records every message its window procedure receives.
class RecordingIcon : public TantTaskbarIcon {
public:
    using TantTaskbarIcon::TantTaskbarIcon;
    std::vector<std::uint32_t> messages;
    LRESULT HandleIconMessage(std::uint32_t Msg, WPARAM W, LPARAM L) override {
        messages.push_back(Msg);
        return TantTaskbarIcon::HandleIconMessage(Msg, W, L);
    }
};

class TaskbarIcon : public ::testing::Test {
protected:
    TaskbarIcon() {
        icon = new RecordingIcon(nullptr);
        icon->setObjectName(QStringLiteral("tray"));
        icon->OnMouseDown = [this](QObject* s, TMouseButton b, TShiftState sh, int x, int y) {
            log.push_back(mouse("down", s, b, sh, x, y));
        };
        icon->OnMouseUp = [this](QObject* s, TMouseButton b, TShiftState sh, int x, int y) {
            log.push_back(mouse("up", s, b, sh, x, y));
        };
        icon->OnClick = [this](QObject*) { log.push_back("click"); };
        icon->OnDblClick = [this](QObject*) { log.push_back("dblclick"); };
        icon->OnPopupMenu = [this](QObject*) { log.push_back("popup"); };
        icon->OnShow = [this](QObject*) { log.push_back("show"); };
        icon->OnHide = [this](QObject*) { log.push_back("hide"); };
        QPixmap picture(16, 16);
        picture.fill(Qt::blue);
        icon->Icon().Assign(QIcon(picture));
    }
    ~TaskbarIcon() override { delete icon; }

    std::string mouse(const char* what, QObject* s, TMouseButton b, TShiftState sh, int x, int y) {
        EXPECT_EQ(s, icon);
        std::string text = std::string(what) + (b == mbLeft ? " L " : b == mbRight ? " R " : " M ");
        for (auto [flag, name] :
             {std::pair{ssShift, "S"}, {ssCtrl, "C"}, {ssAlt, "A"}, {ssLeft, "l"}, {ssRight, "r"}})
            if (sh & flag) text += name;
        return text + " " + std::to_string(x) + "," + std::to_string(y);
    }
    void send(std::initializer_list<LPARAM> reported) {
        for (LPARAM l : reported)
            sendMessage(icon->IconWindow(), 0x401, 0, l);
    }
    std::string tipOf(const ScriptedNotifyIcons::Request& r) { return r.data.szTip; }

    ScopedNotifyIcons desk;
    RecordingIcon* icon = nullptr;
    std::vector<std::string> log;
};

TEST_F(TaskbarIcon, LoadingInStoredOrderAddsThenUpdatesTheTipThenAddsAgainQuietly) {
    EXPECT_TRUE(isWindow(icon->IconWindow()));
    EXPECT_TRUE(desk.icons.requests.empty()) << "creation asks the desktop nothing";
    icon->SetVisible(true);
    icon->SetHint("VeskoQindra V3.4");
    icon->Loaded();
    const auto& r = desk.icons.requests;
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].message, NIM_ADD);
    EXPECT_TRUE(r[0].accepted);
    const NotifyIconData& d = r[0].data;
    EXPECT_EQ(d.cbSize, 88u);
    EXPECT_EQ(d.hWnd, icon->IconWindow());
    EXPECT_EQ(d.uFlags, 7u) << "message, icon and tip";
    EXPECT_EQ(d.uCallbackMessage, 1025u);
    EXPECT_EQ(iconFromHandle(d.hIcon).pixmap(16).toImage().pixelColor(3, 3), QColor(Qt::blue));
    EXPECT_EQ(tipOf(r[0]), "") << "Visible comes before Hint";
    EXPECT_EQ(r[1].message, NIM_MODIFY);
    EXPECT_EQ(tipOf(r[1]), "VeskoQindra V3.4");
    EXPECT_EQ(r[2].message, NIM_ADD);
    EXPECT_FALSE(r[2].accepted);
    EXPECT_EQ(log, (std::vector<std::string>{"show", "show"}));
    EXPECT_EQ(desk.icons.find(icon->IconWindow(), 0)->tip, "VeskoQindra V3.4");
    icon->SetVisible(false);
    EXPECT_EQ(desk.icons.requests.back().data.uFlags, 5u) << "the icon bit goes with HideIcon";
}

TEST_F(TaskbarIcon, TurnsReportedMouseMessagesIntoEvents) {
    desk.icons.cursor = QPoint(10, 20);
    desk.icons.keysDown = {VK_SHIFT, VK_MENU};
    struct Case {
        const char* name;
        std::vector<LPARAM> reported;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"click", {0x201, 0x202}, {"down L SAl 10,20", "up L SAl 10,20", "click"}},
        {"double click",
         {0x201, 0x202, 0x203, 0x202},
         {"down L SAl 10,20", "up L SAl 10,20", "click", "dblclick", "up L SAl 10,20"}},
        {"release without press", {0x202}, {"up L SAl 10,20"}},
        {"right click without menu", {0x204, 0x205}, {"down R SAr 10,20", "up R SAr 10,20"}},
        {"moves and middle button", {0x200, 0x207, 0x208, 0x209}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        for (LPARAM l : c.reported)
            send({l});
        EXPECT_EQ(log, c.events);
    }
    // Every release brings the application forward, a right press the icon's window.
    EXPECT_EQ(
        std::count(desk.icons.foreground.begin(), desk.icons.foreground.end(), kApplicationWindow),
        5);
    EXPECT_EQ(
        std::count(desk.icons.foreground.begin(), desk.icons.foreground.end(), icon->IconWindow()),
        1);
}

TEST_F(TaskbarIcon, DisabledIconRaisesNothingAndForgetsThePressMadeMeanwhile) {
    icon->SetEnabled(false);
    send({0x201, 0x204, 0x205});
    EXPECT_TRUE(log.empty());
    send({0x201});
    icon->SetEnabled(true);
    send({0x202});
    EXPECT_EQ(log, (std::vector<std::string>{"up L l 0,0"}));
}

TEST_F(TaskbarIcon, ADoubleClickReportedByTheDesktopRestoresOnce) {
    icon->SetVisible(true);
    log.clear();
    // Desktops that send a click for the first press of a double click.
    desk.icons.report(icon->IconWindow(), 0, NotifyIcons::Report::Click);
    desk.icons.report(icon->IconWindow(), 0, NotifyIcons::Report::DoubleClick);
    EXPECT_TRUE(log.empty());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(std::count(log.begin(), log.end(), "click"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "dblclick"), 1);
}

TEST_F(TaskbarIcon, CutsTheHintWithoutSplittingACharacter) {
    icon->SetVisible(true);
    struct Case {
        std::string given;
        std::size_t kept;
    };
    const std::string latin(70, 'x');
    const std::string chinese = toCodePage(QString(35, QChar(0x4E2D))); // 70 bytes
    const std::string mixed = "a" + chinese;                            // 71 bytes
    for (const Case& c : {Case{latin, 63}, Case{chinese, 62}, Case{mixed, 63}, Case{"short", 5}}) {
        icon->SetHint(c.given);
        EXPECT_EQ(icon->Hint(), c.given.substr(0, c.kept));
        EXPECT_EQ(tipOf(desk.icons.requests.back()), c.given.substr(0, c.kept));
        EXPECT_EQ(desk.icons.find(icon->IconWindow(), 0)->tip, c.given.substr(0, c.kept));
    }
}

TEST_F(TaskbarIcon, ChangesWhileHiddenAreRefusedQuietlyAndShowUpWithTheNextAdd) {
    icon->SetHint("later");
    QPixmap green(16, 16);
    green.fill(Qt::green);
    icon->SetIcon(QIcon(green));
    ASSERT_EQ(desk.icons.requests.size(), 2u);
    EXPECT_FALSE(desk.icons.requests[0].accepted);
    EXPECT_FALSE(desk.icons.requests[1].accepted);
    icon->SetVisible(true);
    const NotifyIcons::Entry* e = desk.icons.find(icon->IconWindow(), 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tip, "later");
    EXPECT_EQ(e->picture.pixmap(16).toImage().pixelColor(1, 1), QColor(Qt::green));
}

TEST_F(TaskbarIcon, NewIdentifierMovesAShownIconAndIsOnlyStoredWhileHidden) {
    icon->SetIconID(4);
    EXPECT_TRUE(desk.icons.requests.empty());
    icon->SetVisible(true);
    log.clear();
    desk.icons.requests.clear();
    icon->SetIconID(4);
    EXPECT_TRUE(desk.icons.requests.empty());
    icon->SetIconID(9);
    ASSERT_EQ(desk.icons.requests.size(), 2u);
    EXPECT_EQ(desk.icons.requests[0].message, NIM_DELETE);
    EXPECT_EQ(desk.icons.requests[0].data.uID, 4u);
    EXPECT_EQ(desk.icons.requests[1].message, NIM_ADD);
    EXPECT_EQ(desk.icons.requests[1].data.uID, 9u);
    EXPECT_EQ(log, (std::vector<std::string>{"hide", "show"}));
    EXPECT_EQ(desk.icons.find(icon->IconWindow(), 4), nullptr);
    EXPECT_NE(desk.icons.find(icon->IconWindow(), 9), nullptr);
}

TEST_F(TaskbarIcon, PopUpMenuClosesBeforeItsEventAndTheReleaseAndIsForgottenWhenDestroyed) {
    auto* menu = new QMenu;
    QObject::connect(menu, &QMenu::aboutToShow, [&] {
        log.push_back("menu shown");
        QTimer::singleShot(0, menu, &QMenu::close);
    });
    icon->SetPopupMenu(menu);
    desk.icons.cursor = QPoint(5, 6);
    send({0x205});
    EXPECT_EQ(log, (std::vector<std::string>{"menu shown", "popup", "up R r 5,6"}));
    icon->messages.clear();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(icon->messages, std::vector<std::uint32_t>{WM_NULL});
    delete menu;
    EXPECT_EQ(icon->PopupMenu(), nullptr);
    log.clear();
    send({0x205});
    EXPECT_EQ(log, (std::vector<std::string>{"up R r 5,6"}));
}

TEST_F(TaskbarIcon, TakesPicturesFromAnImageListAndForgetsOneThatIsDestroyed) {
    auto* images = new TImageList;
    QPixmap yellow(16, 16);
    yellow.fill(Qt::yellow);
    images->Add(QIcon());
    images->Add(QIcon(yellow));
    icon->SetImageIndex(1); // no list yet: the picture stays
    EXPECT_EQ(icon->Icon().picture().pixmap(16).toImage().pixelColor(0, 0), QColor(Qt::blue));
    icon->SetImageList(images);
    EXPECT_EQ(icon->Icon().picture().pixmap(16).toImage().pixelColor(0, 0), QColor(Qt::yellow));
    icon->SetImageIndex(5);
    EXPECT_EQ(desk.icons.requests.back().data.hIcon, 0u) << "no such picture: an empty icon";
    delete images;
    EXPECT_EQ(icon->ImageList(), nullptr);
}

TEST_F(TaskbarIcon, AFailingDesktopSurfacesAsTheComponentsOwnError) {
    struct Case {
        std::function<void()> act;
        const char* message;
    };
    const Case cases[] = {
        {[this] { icon->SetVisible(true); }, "tray.AddToTaskbar failed"},
        {[this] { icon->SetHint("x"); }, "tray.UpDate failed"},
        {[this] { icon->SetVisible(false); }, "tray.DeleteFromTaskbar failed"},
    };
    desk.icons.beforeRequest = [](std::uint32_t) { throw std::runtime_error("desktop gone"); };
    for (const Case& c : cases) {
        try {
            c.act();
            ADD_FAILURE() << "no failure for " << c.message;
        } catch (const EantTaskbarIcon& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_EQ(icon->Hint(), "x") << "the new value stays after a failed request";
    desk.icons.beforeRequest = nullptr;
}

TEST_F(TaskbarIcon, DestructionTakesTheIconAndItsWindowAway) {
    icon->SetVisible(true);
    const HWND window = icon->IconWindow();
    log.clear();
    delete icon;
    icon = nullptr;
    EXPECT_EQ(log, (std::vector<std::string>{"hide"}));
    EXPECT_EQ(desk.icons.count(), 0u);
    EXPECT_EQ(desk.icons.requests.back().message, NIM_DELETE);
    EXPECT_FALSE(isWindow(window));
}

} // namespace
