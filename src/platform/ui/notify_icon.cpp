#include "platform/ui/notify_icon.h"

#include "platform/ui/codepage.h"
#include "platform/ui/services.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QSystemTrayIcon>

#include <cstring>
#include <memory>

namespace vq::platform {

namespace {

// One posted message on its way to a window procedure.
class WindowMessageEvent : public QEvent {
public:
    static QEvent::Type kind() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    WindowMessageEvent(std::uint32_t m, WPARAM w, LPARAM l)
        : QEvent(kind()), msg(m), wParam(w), lParam(l) {}
    std::uint32_t msg;
    WPARAM wParam;
    LPARAM lParam;
};

// A hidden window: an object of the interface thread whose only job is to
// hand the messages posted to it to its procedure.
class MessageWindow : public QObject {
public:
    explicit MessageWindow(WindowProc p) : proc(std::move(p)) {}
    WindowProc proc;

protected:
    void customEvent(QEvent* e) override {
        if (e->type() != WindowMessageEvent::kind()) return;
        auto* m = static_cast<WindowMessageEvent*>(e);
        // A copy, since the procedure may destroy its own window.
        const WindowProc p = proc;
        if (!p) return;
        // A window procedure runs handlers of the program; their failures go
        // to the error box like those of any other handler.
        guarded(nullptr, [&] { p(m->msg, m->wParam, m->lParam); });
    }
};

std::map<HWND, MessageWindow*>& windows() {
    static std::map<HWND, MessageWindow*> table;
    return table;
}
HWND lastWindow = kApplicationWindow;

std::map<HICON, QIcon>& icons() {
    static std::map<HICON, QIcon> table;
    return table;
}
HICON lastIcon = 0;

// The real desktop: one QSystemTrayIcon for each icon the bookkeeping holds.
class QtNotifyIcons : public NotifyIcons {
public:
    bool trayAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
    QPoint cursorPos() const override { return QCursor::pos(); }
    std::int16_t keyState(int virtualKey) const override {
        const Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
        Qt::KeyboardModifier wanted = virtualKey == VK_SHIFT     ? Qt::ShiftModifier
                                      : virtualKey == VK_CONTROL ? Qt::ControlModifier
                                      : virtualKey == VK_MENU    ? Qt::AltModifier
                                                                 : Qt::NoModifier;
        return wanted != Qt::NoModifier && mods.testFlag(wanted) ? std::int16_t(-0x8000) : 0;
    }
    // X11 hands the focus only to mapped windows, and neither the icon's
    // window nor the application window is one; the restore handler
    // activates the main window itself when it shows it.
    void setForegroundWindow(HWND) override {}

protected:
    void added(const Entry& e) override {
        auto* tray = new QSystemTrayIcon(qApp);
        const HWND window = e.window;
        const std::uint32_t id = e.id;
        auto* clicks = new TrayActivations(tray, [this, window, id](std::uint32_t mouseMessage) {
            reportMouse(window, id, mouseMessage);
        });
        QObject::connect(tray, &QSystemTrayIcon::activated, clicks,
                         [clicks](QSystemTrayIcon::ActivationReason r) { clicks->activated(r); });
        trays_[{window, id}] = tray;
        apply(tray, e);
    }
    void modified(const Entry& e) override {
        if (auto it = trays_.find({e.window, e.id}); it != trays_.end() && it->second)
            apply(it->second, e);
    }
    void removed(const Entry& e) override {
        if (auto it = trays_.find({e.window, e.id}); it != trays_.end()) {
            delete it->second.data();
            trays_.erase(it);
        }
    }

private:
    static void apply(QSystemTrayIcon* tray, const Entry& e) {
        tray->setIcon(e.picture);
        tray->setToolTip(fromCodePage(e.tip));
        // Qt cannot show an icon without a picture; it appears with the
        // first request that brings one. Without a tray host Qt keeps it and
        // places it once a host appears.
        tray->setVisible(!e.picture.isNull());
    }
    std::map<std::pair<HWND, std::uint32_t>, QPointer<QSystemTrayIcon>> trays_;
};

NotifyIcons* installed = nullptr;

} // namespace

HWND createMessageWindow(WindowProc proc) {
    const HWND handle = ++lastWindow;
    windows()[handle] = new MessageWindow(std::move(proc));
    return handle;
}

void destroyMessageWindow(HWND window) {
    auto it = windows().find(window);
    if (it == windows().end()) return;
    MessageWindow* gone = it->second;
    windows().erase(it);
    // The window may be destroyed from inside its own procedure, so the
    // object goes later; from now on it neither runs nor receives anything.
    gone->proc = nullptr;
    QCoreApplication::removePostedEvents(gone);
    gone->deleteLater();
    notifyIcons().dropWindow(window);
}

bool isWindow(HWND window) {
    return windows().count(window) != 0;
}

bool postMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam) {
    auto it = windows().find(window);
    if (it == windows().end()) return false;
    QCoreApplication::postEvent(it->second, new WindowMessageEvent(msg, wParam, lParam));
    return true;
}

LRESULT sendMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam) {
    auto it = windows().find(window);
    if (it == windows().end()) return 0;
    // Copy the procedure: it may destroy its own window while it runs.
    WindowProc proc = it->second->proc;
    return proc(msg, wParam, lParam);
}

LRESULT defWindowProc(HWND, std::uint32_t, WPARAM, LPARAM) {
    return 0;
}

HICON createIconHandle(const QIcon& picture) {
    const HICON handle = ++lastIcon;
    icons()[handle] = picture;
    return handle;
}

void destroyIconHandle(HICON icon) {
    icons().erase(icon);
}

QIcon iconFromHandle(HICON icon) {
    auto it = icons().find(icon);
    return it == icons().end() ? QIcon() : it->second;
}

bool NotifyIcons::shellNotifyIcon(std::uint32_t message, const NotifyIconData* data) {
    if (!data || data->cbSize < sizeof(NotifyIconData) || !isWindow(data->hWnd)) return false;
    const auto key = std::make_pair(data->hWnd, data->uID);
    auto it = entries_.find(key);
    auto take = [data](Entry& e) {
        if (data->uFlags & NIF_MESSAGE) e.callbackMessage = data->uCallbackMessage;
        if (data->uFlags & NIF_ICON) e.picture = iconFromHandle(data->hIcon);
        if (data->uFlags & NIF_TIP) e.tip.assign(data->szTip, strnlen(data->szTip, 64));
        e.flags |= data->uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP);
    };
    switch (message) {
    case NIM_ADD: {
        if (it != entries_.end()) return false;
        Entry e;
        e.window = data->hWnd;
        e.id = data->uID;
        take(e);
        added(entries_.emplace(key, std::move(e)).first->second);
        return true;
    }
    case NIM_MODIFY:
        if (it == entries_.end()) return false;
        take(it->second);
        modified(it->second);
        return true;
    case NIM_DELETE: {
        if (it == entries_.end()) return false;
        Entry gone = std::move(it->second);
        entries_.erase(it);
        removed(gone);
        return true;
    }
    default:
        return false;
    }
}

const NotifyIcons::Entry* NotifyIcons::find(HWND window, std::uint32_t id) const {
    auto it = entries_.find({window, id});
    return it == entries_.end() ? nullptr : &it->second;
}

void NotifyIcons::report(HWND window, std::uint32_t id, Report what) {
    const Entry* e = find(window, id);
    // Without a valid callback message the icon's owner asked for no news.
    if (!e || !(e->flags & NIF_MESSAGE)) return;
    std::uint32_t first = 0, second = 0;
    switch (what) {
    // Desktops that report the first press of a double click as a click
    // too still give one click only: the double-click notification never
    // counts as a press.
    case Report::Click:
        first = WM_LBUTTONDOWN, second = WM_LBUTTONUP;
        break;
    case Report::DoubleClick:
        first = WM_LBUTTONDBLCLK, second = WM_LBUTTONUP;
        break;
    case Report::ContextMenu:
        first = WM_RBUTTONDOWN, second = WM_RBUTTONUP;
        break;
    case Report::MiddleClick:
        first = WM_MBUTTONDOWN, second = WM_MBUTTONUP;
        break;
    }
    reportMouse(window, id, first);
    reportMouse(window, id, second);
}

void NotifyIcons::reportMouse(HWND window, std::uint32_t id, std::uint32_t mouseMessage) {
    const Entry* e = find(window, id);
    if (!e || !(e->flags & NIF_MESSAGE)) return;
    postMessage(window, e->callbackMessage, id, static_cast<LPARAM>(mouseMessage));
}

TrayActivations::TrayActivations(QObject* parent, Post post)
    : QObject(parent), post_(std::move(post)) {
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

void TrayActivations::activated(int reason) {
    const bool pressing = QGuiApplication::mouseButtons().testFlag(Qt::LeftButton);
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        if (!pressing) {
            post_(WM_LBUTTONDOWN);
            post_(WM_LBUTTONUP);
            break;
        }
        releaseDue_ = true;
        if (!pressBeginsDoubleClick_) post_(WM_LBUTTONDOWN);
        break;
    case QSystemTrayIcon::DoubleClick:
        post_(WM_LBUTTONDBLCLK);
        if (!releaseDue_) post_(WM_LBUTTONUP);
        break;
    case QSystemTrayIcon::Context:
        post_(WM_RBUTTONDOWN);
        post_(WM_RBUTTONUP);
        break;
    case QSystemTrayIcon::MiddleClick:
        post_(WM_MBUTTONDOWN);
        post_(WM_MBUTTONUP);
        break;
    default:
        break;
    }
}

bool TrayActivations::eventFilter(QObject* watched, QEvent* e) {
    // A window's mouse event reaches the filter once for the QWindow and once
    // for the widget; the widget's is the one Qt's icon window acts on.
    if ((e->type() != QEvent::MouseButtonPress && e->type() != QEvent::MouseButtonRelease) ||
        !watched->isWidgetType())
        return false;
    auto* m = static_cast<QMouseEvent*>(e);
    if (m->button() != Qt::LeftButton) return false;
    if (e->type() == QEvent::MouseButtonPress) {
        // A release that never came (the press went to another window)
        // must not be taken for this press's.
        releaseDue_ = false;
        pressBeginsDoubleClick_ = m->flags().testFlag(Qt::MouseEventCreatedDoubleClick);
    } else if (releaseDue_) {
        releaseDue_ = false;
        post_(WM_LBUTTONUP);
    }
    return false;
}

void NotifyIcons::dropWindow(HWND window) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->first.first != window) {
            ++it;
            continue;
        }
        Entry gone = std::move(it->second);
        it = entries_.erase(it);
        removed(gone);
    }
}

NotifyIcons& notifyIcons() {
    if (installed) return *installed;
    // Never destroyed: its tray icons belong to the application object.
    static NotifyIcons* real = new QtNotifyIcons;
    return *real;
}

void setNotifyIcons(NotifyIcons* service) {
    installed = service;
}

} // namespace vq::platform
