// Hiding to the notification area: the main window's icon there, the hide
// handler run whenever the window is minimised, and the restore on a click.
#include "app/Unit1.h"

#include "checking/ui/Unit3.h"
#include "checking/ui/check_window.h"
#include "components/about.h"
#include "components/antTaskbarIcon.h"
#include "filtering/ui/domain_window.h"
#include "maintenance/ui/Unit2.h"
#include "platform/ui/codepage.h"
#include "platform/ui/notify_icon.h"

#include <QEvent>
#include <QEventLoop>
#include <QWindowStateChangeEvent>

namespace {

// Runs a handler each time the watched window becomes minimised. The handler
// runs from the event loop, after the window manager has finished the
// minimising, so hiding the window does not fight it.
class MinimizeWatcher : public QObject {
public:
    MinimizeWatcher(QWidget* window, std::function<void()> handler)
        : QObject(window), window_(window), handler_(std::move(handler)) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == window_ && e->type() == QEvent::WindowStateChange) {
            auto* change = static_cast<QWindowStateChangeEvent*>(e);
            if (window_->isMinimized() && !(change->oldState() & Qt::WindowMinimized))
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        // Restored again before we got here: nothing to hide.
                        if (window_->isMinimized()) handler_();
                    },
                    Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget* window_;
    std::function<void()> handler_;
};

} // namespace

void TForm1::createTaskbarIcon() {
    antTaskbarIcon1 = new TantTaskbarIcon(this);
    antTaskbarIcon1->setObjectName(QStringLiteral("antTaskbarIcon1"));
    // The stored properties in their stored order; the picture goes straight
    // into the owned icon, the others through their assignments, so Visible
    // adds the icon before Hint brings the tip up to date.
    antTaskbarIcon1->Icon().Assign(windowIcon());
    antTaskbarIcon1->SetVisible(true);
    antTaskbarIcon1->SetHint(vq::platform::toCodePage(vq::platform::kAppTitle));
    antTaskbarIcon1->OnClick = [this](QObject*) { antTaskbarIcon1Click(); };
    antTaskbarIcon1->Loaded();
}

void TForm1::wireMinimize() {
    new MinimizeWatcher(this, [this] { vq::platform::guarded(this, [this] { N28Click(); }); });
}

void TForm1::N28Click() {
    // Hidden with no icon to click, the program would be out of reach while
    // it still runs: without a notification area it stays minimised instead.
    if (!antTaskbarIcon1 || !antTaskbarIcon1->Visible() ||
        !vq::platform::notifyIcons().trayAvailable())
        return;
    // On this desktop the taskbar entry is the main window's own, so hiding
    // the window takes the entry away with it.
    hide();
    inTray = true;
    // The other windows are independent top-level windows here, and the About
    // and progress windows stay on top: left open, they would float on with
    // no program behind them.
    hiddenWithMain.clear();
    for (QWidget* w : {static_cast<QWidget*>(AboutBox), static_cast<QWidget*>(Form2),
                       static_cast<QWidget*>(Form3), static_cast<QWidget*>(domainWindow_)}) {
        if (w && w->isVisible()) {
            hiddenWithMain.append(w);
            w->hide();
        }
    }
}

void TForm1::antTaskbarIcon1Click() {
    const bool away = !isVisible() || isMinimized();
    // Restore first: a window shown while still minimised would come back as
    // a taskbar entry only.
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible()) show();
    for (const QPointer<QWidget>& w : hiddenWithMain) {
        // The progress window comes back only while its pass still runs.
        const bool passOver = w == Form3 && !(listCheck_ && listCheck_->progressOpen());
        if (w && !passOver) w->show();
    }
    hiddenWithMain.clear();
    // Only a window that was away is brought forward; a click while it is
    // shown changes nothing.
    if (away) {
        raise();
        activateWindow();
    }
    if (inTray) {
        inTray = false;
        Q_EMIT restored();
    }
}

bool TForm1::waitWhileInTray() {
    if (!inTray) return true;
    // A message box of its own, with no window of the program on screen,
    // would be the only trace of the program: it waits for the main window.
    QEventLoop back;
    connect(this, &TForm1::restored, &back, &QEventLoop::quit);
    back.exec();
    // Also woken when the program ends while still hidden.
    return !inTray;
}
