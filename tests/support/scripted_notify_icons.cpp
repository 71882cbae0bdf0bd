#include "support/scripted_notify_icons.h"

namespace vq::platform {

bool ScriptedNotifyIcons::shellNotifyIcon(std::uint32_t message, const NotifyIconData* data) {
    if (beforeRequest) beforeRequest(message);
    Request r{message, data ? *data : NotifyIconData{}, false};
    r.accepted = NotifyIcons::shellNotifyIcon(message, data);
    requests.push_back(r);
    return r.accepted;
}

std::int16_t ScriptedNotifyIcons::keyState(int virtualKey) const {
    return keysDown.count(virtualKey) ? std::int16_t(-0x8000) : 0;
}

} // namespace vq::platform
