#pragma once
// The desktop's notification area and the small window-message layer that the
// tray icon component talks to: hidden message windows with a window
// procedure, messages posted to them through the event loop, icon handles,
// and the notification-icon service that keeps one icon per (window,
// identifier). notifyIcons() is the real service over QSystemTrayIcon unless
// tests install a scripted one (tests/support/scripted_notify_icons.h).
#include <QIcon>
#include <QObject>
#include <QPoint>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vq::platform {

using HWND = std::uint32_t;  // a message window; 0 is none
using HICON = std::uint32_t; // an icon picture; 0 is none
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr std::uint32_t WM_NULL = 0x0000;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr std::uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr std::uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr std::uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr std::uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr std::uint32_t WM_MBUTTONDOWN = 0x0207;
inline constexpr std::uint32_t WM_MBUTTONUP = 0x0208;
inline constexpr std::uint32_t WM_USER = 0x0400;

inline constexpr std::uint32_t NIM_ADD = 0;
inline constexpr std::uint32_t NIM_MODIFY = 1;
inline constexpr std::uint32_t NIM_DELETE = 2;
inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;

inline constexpr int VK_SHIFT = 0x10;
inline constexpr int VK_CONTROL = 0x11;
inline constexpr int VK_MENU = 0x12;

// The application's own top-level window, the one that stands for the
// program on the taskbar. It is never a message window.
inline constexpr HWND kApplicationWindow = 1;

// The record of a request in its first form: 88 bytes with a 64-byte tip.
struct NotifyIconData {
    std::uint32_t cbSize;
    HWND hWnd;
    std::uint32_t uID;
    std::uint32_t uFlags;
    std::uint32_t uCallbackMessage;
    HICON hIcon;
    char szTip[64];
};
static_assert(sizeof(NotifyIconData) == 88, "the record keeps its first form");

// ---- message windows ----
using WindowProc = std::function<LRESULT(std::uint32_t msg, WPARAM wParam, LPARAM lParam)>;
HWND createMessageWindow(WindowProc proc);
// Pending messages of the window are dropped, and so are its icons.
void destroyMessageWindow(HWND window);
bool isWindow(HWND window);
// Queues a message; the event loop hands it to the window procedure. Any
// exception a procedure throws ends in the error box, never in the loop.
// False when the window does not exist.
bool postMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam);
// Calls the window procedure at once; 0 when the window does not exist.
LRESULT sendMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam);
// What a window procedure answers for a message it leaves alone.
LRESULT defWindowProc(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam);

// ---- icon handles ----
// A handle names a copy of the picture until it is destroyed.
HICON createIconHandle(const QIcon& picture);
void destroyIconHandle(HICON icon);
QIcon iconFromHandle(HICON icon); // null for an unknown handle

// ---- the notification-icon service ----
class NotifyIcons {
public:
    // What the service holds for one icon; fields are taken from a request
    // only when its flags say they are valid.
    struct Entry {
        HWND window = 0;
        std::uint32_t id = 0;
        std::uint32_t flags = 0; // union of the valid-field flags seen so far
        std::uint32_t callbackMessage = 0;
        QIcon picture;
        std::string tip; // bytes in the system code page
    };
    // What the desktop reports about a user's mouse on an icon.
    enum class Report { Click, DoubleClick, ContextMenu, MiddleClick };

    virtual ~NotifyIcons() = default;

    // Add (a second add is refused), modify or delete (refused for an icon
    // that is not there). Returns whether the request was carried out.
    virtual bool shellNotifyIcon(std::uint32_t message, const NotifyIconData* data);
    const Entry* find(HWND window, std::uint32_t id) const;
    std::size_t count() const { return entries_.size(); }
    // Posts the mouse messages the report stands for to the icon's window,
    // with the icon's callback message: a click is a left press and release,
    // a double click a double-click notification and a release, a context
    // request a right press and release.
    void report(HWND window, std::uint32_t id, Report what);
    // Posts one mouse message (WM_LBUTTONDOWN ...) of the icon to its window.
    void reportMouse(HWND window, std::uint32_t id, std::uint32_t mouseMessage);
    // The window is gone; its icons go with it.
    void dropWindow(HWND window);

    // Whether the desktop has a notification area to show icons in.
    virtual bool trayAvailable() const = 0;
    virtual QPoint cursorPos() const = 0;
    // High bit set (a negative value) while the key is down.
    virtual std::int16_t keyState(int virtualKey) const = 0;
    virtual void setForegroundWindow(HWND window) = 0;

protected:
    virtual void added(const Entry&) {}
    virtual void modified(const Entry&) {}
    virtual void removed(const Entry&) {}

private:
    std::map<std::pair<HWND, std::uint32_t>, Entry> entries_;
};

// Turns Qt's activations of one tray icon into its mouse messages. Qt has
// no release report: its X11 icon window says "activated" from its press
// handler. So when an activation comes while the application sees the left
// button go down on one of its own windows (the icon's), the press is
// reported at once and the release when the application sees the button come
// up; an activation without such a press (a desktop that reports over D-Bus)
// stands for a whole click. The second press of a double click is Qt's
// activation too, but reports only the double-click notification.
class TrayActivations : public QObject {
public:
    using Post = std::function<void(std::uint32_t mouseMessage)>;
    TrayActivations(QObject* parent, Post post);
    // A QSystemTrayIcon::ActivationReason.
    void activated(int reason);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    Post post_;
    bool pressBeginsDoubleClick_ = false; // of the left press being delivered
    bool releaseDue_ = false;             // the press was the icon's; its release comes
};

NotifyIcons& notifyIcons();
// Installs another service (tests); nullptr restores the real one.
void setNotifyIcons(NotifyIcons* service);

} // namespace vq::platform
