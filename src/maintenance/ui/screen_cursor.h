#pragma once
// The busy cursor over the whole screen for as long as a command works
// through its files; a failure that unwinds the command puts the normal
// cursor back too.
#include <QApplication>

namespace vq::maintenance {

class BusyScreenCursor {
public:
    BusyScreenCursor() { QApplication::setOverrideCursor(Qt::BusyCursor); }
    ~BusyScreenCursor() { restore(); }
    BusyScreenCursor(const BusyScreenCursor&) = delete;
    BusyScreenCursor& operator=(const BusyScreenCursor&) = delete;
    void restore() {
        if (active_) QApplication::restoreOverrideCursor();
        active_ = false;
    }

private:
    bool active_ = true;
};

} // namespace vq::maintenance
