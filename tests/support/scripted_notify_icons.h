#pragma once
// The notification-area service for tests: no desktop needed.
#include "platform/ui/notify_icon.h"

#include <functional>
#include <set>
#include <vector>

namespace vq::platform {

// Test double: records each request and answers the desktop's questions from
// its fields, with the same bookkeeping as the real service.
class ScriptedNotifyIcons : public NotifyIcons {
public:
    struct Request {
        std::uint32_t message;
        NotifyIconData data;
        bool accepted;
    };
    std::vector<Request> requests;
    std::vector<HWND> foreground; // windows brought to the foreground, in order
    bool tray = true;
    QPoint cursor;
    std::set<int> keysDown;
    // When set, runs before each request and may throw, as a failing desktop.
    std::function<void(std::uint32_t message)> beforeRequest;

    bool shellNotifyIcon(std::uint32_t message, const NotifyIconData* data) override;
    bool trayAvailable() const override { return tray; }
    QPoint cursorPos() const override { return cursor; }
    std::int16_t keyState(int virtualKey) const override;
    void setForegroundWindow(HWND window) override { foreground.push_back(window); }
};

// Installs a ScriptedNotifyIcons for the lifetime of this object.
class ScopedNotifyIcons {
public:
    ScopedNotifyIcons() { setNotifyIcons(&icons); }
    ~ScopedNotifyIcons() { setNotifyIcons(nullptr); }
    ScriptedNotifyIcons icons;
};

} // namespace vq::platform
