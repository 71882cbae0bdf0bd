#pragma once
// The list check from the main window: the counting pass on the interface
// thread, the de-duplication pass on the worker qxthread, the progress
// window TForm3 and its stop. Everything the worker uses is copied at the
// start, so another command that reuses the shared dialogs meanwhile cannot
// change the running check.
#include "checking/dedup.h"
#include "checking/kept_lines.h"
#include "checking/ui/hidden_button.h"
#include "checking/ui/qx_index.h"
#include "platform/ui/services.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <functional>

class QLabel;
class TForm3;
class TGauge;

namespace vq::checking {

// What of the main window a check shows its work in.
struct CheckWindowParts {
    QWidget* window = nullptr; // owns the dialogs and messages
    platform::FileDialog* openDialog = nullptr;
    platform::FileDialog* saveDialog = nullptr;
    QLabel *total = nullptr, *duplicates = nullptr, *kept = nullptr; // Label1, Label3, Label6
    TGauge* gauge = nullptr;
    QPointer<TForm3> progress;
    std::function<void()> blankStatistics;
    // Returns at once while the main window is shown; while it is in the
    // notification area, waits until it is back (true) or the program ends
    // first (false).
    std::function<bool()> waitUntilShown;
};

// One list check at a time. A check still running when the window goes is
// stopped first, and writes nothing.
class ListCheck {
public:
    explicit ListCheck(CheckWindowParts parts);
    ~ListCheck();
    ListCheck(const ListCheck&) = delete;
    ListCheck& operator=(const ListCheck&) = delete;

    // The check from its menu item or toolbar button: refused while one
    // runs; otherwise the dialogs, the count, and the worker is started.
    void start();
    // From the worker's start until its last window change; interface thread.
    bool running() const { return running_; }
    bool stopRequested() const { return stop_.load(); }
    // From the progress window's showing at the start until the pass has
    // ended: a window brought back from the notification area shows it only
    // meanwhile.
    bool progressOpen() const { return progressOpen_; }
    // Ends a running check because the program ends: sets the stop flag, lets
    // the worker's pending window changes lapse, and waits for the worker.
    void stopForExit();

    // The main window's hidden buttons: Button3, clicked by the progress
    // window's "终 止", sets the stop flag; Button4 is clicked on the worker
    // thread and runs the de-duplication pass.
    THiddenButton Button3{"Button3"};
    THiddenButton Button4{"Button4"};
    void Button3Click();
    void Button4Click();

    KeptLines StringGrid1; // the working grid; the worker's while it runs
    QPointer<qxthread> worker;
    // How often the worker reports its count (zero: after every line), and
    // who else hears its reports, after the window: tests hold a pass at a
    // chosen line with these.
    std::chrono::milliseconds progressEvery = kProgressInterval;
    CheckListener* watcher = nullptr;
    // The memory budget; 0, the window's own, is derived from the machine.
    uint64_t memory = 0;

private:
    friend class WindowSide;
    void closeProgress();
    CheckWindowParts parts_;
    std::atomic<bool> stop_{false}; // read by the pass once a line
    // Set when the program ends: the worker's window changes are dropped.
    std::atomic<bool> exiting_{false};
    bool running_ = false;
    bool busyCursor_ = false; // the pass's busy cursor is up
    bool progressOpen_ = false;
    CheckRun run_; // files and line total, copied at the start
    // Receives the worker's window changes on the interface thread, in the
    // order they were sent.
    QObject mailbox_;
};

} // namespace vq::checking
