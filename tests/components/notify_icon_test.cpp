// The notification-icon service: one icon per (window, identifier), refusals,
// and the mouse messages it delivers through the event loop.
#include "platform/ui/notify_icon.h"
#include "support/scripted_notify_icons.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTest>
#include <QWidget>
#include <cstring>
#include <gtest/gtest.h>

using namespace vq::platform;

namespace {

struct Received {
    std::uint32_t msg;
    WPARAM wParam;
    LPARAM lParam;
};

class NotifyIconService : public ::testing::Test {
protected:
    NotifyIconService() {
        window = createMessageWindow([this](std::uint32_t m, WPARAM w, LPARAM l) {
            got.push_back({m, w, l});
            return LRESULT(0);
        });
    }
    ~NotifyIconService() override { destroyMessageWindow(window); }

    NotifyIconData record(std::uint32_t id, std::uint32_t flags, const char* tip = "") {
        NotifyIconData d{};
        d.cbSize = sizeof d;
        d.hWnd = window;
        d.uID = id;
        d.uFlags = flags;
        d.uCallbackMessage = 0x401;
        std::strncpy(d.szTip, tip, sizeof d.szTip - 1);
        return d;
    }
    bool ask(std::uint32_t message, std::uint32_t id, std::uint32_t flags = NIF_MESSAGE | NIF_TIP,
             const char* tip = "") {
        NotifyIconData d = record(id, flags, tip);
        return scripted.icons.shellNotifyIcon(message, &d);
    }

    ScopedNotifyIcons scripted;
    HWND window = 0;
    std::vector<Received> got;
};

TEST_F(NotifyIconService, KeepsOneIconPerWindowAndIdentifierAndRefusesTheRest) {
    struct Step {
        std::uint32_t message;
        std::uint32_t id;
        bool accepted;
        std::size_t icons;
    };
    const Step steps[] = {
        {NIM_MODIFY, 0, false, 0}, // nothing to change yet
        {NIM_DELETE, 0, false, 0}, {NIM_ADD, 0, true, 1},
        {NIM_ADD, 0, false, 1}, // a second add of the same icon
        {NIM_ADD, 7, true, 2},  // another identifier is another icon
        {NIM_MODIFY, 0, true, 2},  {NIM_DELETE, 0, true, 1},
        {NIM_DELETE, 0, false, 1},                   // already gone
        {NIM_MODIFY, 7, true, 1},  {3, 7, false, 1}, // no such request
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "request " << s.message << " id " << s.id);
        EXPECT_EQ(ask(s.message, s.id), s.accepted);
        EXPECT_EQ(scripted.icons.count(), s.icons);
    }
    NotifyIconData d = record(1, NIF_TIP);
    d.hWnd = window + 1000; // no such window
    EXPECT_FALSE(scripted.icons.shellNotifyIcon(NIM_ADD, &d));
    d = record(1, NIF_TIP);
    d.cbSize = 40;
    EXPECT_FALSE(scripted.icons.shellNotifyIcon(NIM_ADD, &d));
    EXPECT_EQ(scripted.icons.count(), 1u);
}

TEST_F(NotifyIconService, ReportsArriveAsMouseMessagesThroughTheEventLoop) {
    ASSERT_TRUE(ask(NIM_ADD, 3));
    scripted.icons.report(window, 3, NotifyIcons::Report::Click);
    scripted.icons.report(window, 3, NotifyIcons::Report::DoubleClick);
    scripted.icons.report(window, 3, NotifyIcons::Report::ContextMenu);
    EXPECT_TRUE(got.empty()) << "nothing is delivered before the event loop runs";
    QCoreApplication::sendPostedEvents();
    const LPARAM expected[] = {0x201, 0x202, 0x203, 0x202, 0x204, 0x205};
    ASSERT_EQ(got.size(), std::size(expected));
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].msg, 0x401u);
        EXPECT_EQ(got[i].wParam, 3u);
        EXPECT_EQ(got[i].lParam, expected[i]) << "message " << i;
    }
    got.clear();
    ASSERT_TRUE(ask(NIM_ADD, 4, NIF_TIP)); // asked for no news
    scripted.icons.report(window, 4, NotifyIcons::Report::Click);
    scripted.icons.report(window, 9, NotifyIcons::Report::Click); // no such icon
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(got.empty());
}

TEST_F(NotifyIconService, ADestroyedWindowTakesItsIconsAndPendingMessagesAlong) {
    std::vector<Received> other;
    HWND second = createMessageWindow([&](std::uint32_t m, WPARAM w, LPARAM l) {
        other.push_back({m, w, l});
        return LRESULT(0);
    });
    NotifyIconData d = record(0, NIF_MESSAGE);
    d.hWnd = second;
    ASSERT_TRUE(scripted.icons.shellNotifyIcon(NIM_ADD, &d));
    scripted.icons.report(second, 0, NotifyIcons::Report::Click);
    destroyMessageWindow(second);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(other.empty());
    EXPECT_EQ(scripted.icons.find(second, 0), nullptr);
    EXPECT_FALSE(postMessage(second, 0x401, 0, 0x201));
}

// Stands in for Qt's X11 icon window: it reports "activated" from its press
// handler and a double click from its double-click handler, as Qt's does.
class FakeIconWindow : public QWidget {
public:
    explicit FakeIconWindow(QSystemTrayIcon& tray) : tray_(tray) { resize(22, 22); }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) Q_EMIT tray_.activated(QSystemTrayIcon::Trigger);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) Q_EMIT tray_.activated(QSystemTrayIcon::DoubleClick);
    }

private:
    QSystemTrayIcon& tray_;
};

TEST(TrayActivations, ALeftClickIsReportedAsPressThenRelease) {
    QSystemTrayIcon tray;
    std::vector<std::uint32_t> got;
    auto* clicks = new TrayActivations(&tray, [&](std::uint32_t m) { got.push_back(m); });
    QObject::connect(&tray, &QSystemTrayIcon::activated, clicks,
                     [clicks](QSystemTrayIcon::ActivationReason r) { clicks->activated(r); });
    FakeIconWindow icon(tray);
    icon.show();
    QWindow* w = icon.windowHandle();
    const QPoint middle(11, 11);
    using Messages = std::vector<std::uint32_t>;

    QTest::mousePress(w, Qt::LeftButton, {}, middle);
    EXPECT_EQ(got, Messages{WM_LBUTTONDOWN}) << "the press alone is no click";
    QTest::mouseRelease(w, Qt::LeftButton, {}, middle);
    EXPECT_EQ(got, (Messages{WM_LBUTTONDOWN, WM_LBUTTONUP}));

    got.clear();
    QTest::mouseDClick(w, Qt::LeftButton, {}, middle);
    EXPECT_EQ(got, (Messages{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}))
        << "the second press is the double-click notification only";

    // Activations with no press of ours (a desktop that reports over D-Bus).
    got.clear();
    Q_EMIT tray.activated(QSystemTrayIcon::Trigger);
    Q_EMIT tray.activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(got, (Messages{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
}

} // namespace
