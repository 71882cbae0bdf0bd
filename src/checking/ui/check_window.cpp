#include "checking/ui/check_window.h"

#include "checking/ui/Unit3.h"
#include "components/gauge.h"
#include "listio/errors.h"
#include "listio/listio.h"

#include <QApplication>
#include <QLabel>

using vq::platform::execute;
using vq::platform::services;

namespace vq::checking {

namespace {

const QString kAlreadyRunning = QStringLiteral("邮件列表校验正在进行中!");

void showProgress(TForm3* progress, int64_t linesRead, int64_t total) {
    if (!progress) return;
    progress->Label1->setText(QString::fromStdString(progressText(linesRead, total)));
    progress->Label1->repaint();
}

} // namespace

// The worker's side of the window changes. Each change is sent to the
// interface thread and carried out there in the order sent; the worker never
// touches a widget itself.
class WindowSide : public CheckListener {
public:
    explicit WindowSide(ListCheck& check) : check_(check) {}

    template <class F> void send(F change) {
        QMetaObject::invokeMethod(&check_.mailbox_, wrap(std::move(change)), Qt::QueuedConnection);
    }
    // Also waits until the change is done: the outcome message is modal, and
    // what follows it must wait for it to be closed. A message that comes
    // while the program is in the notification area waits there until the
    // icon brings the main window back, and shows over it.
    template <class F> void sendAndWait(F change) {
        auto whenShown = [check = &check_, change = std::move(change)] {
            if (check->parts_.waitUntilShown()) change();
        };
        QMetaObject::invokeMethod(&check_.mailbox_, wrap(std::move(whenShown)),
                                  Qt::BlockingQueuedConnection);
    }

    void passStarted(int64_t total) override {
        send([check = &check_, total] {
            QApplication::setOverrideCursor(Qt::BusyCursor);
            check->busyCursor_ = true;
            showProgress(check->parts_.progress, 0, total);
        });
        if (check_.watcher) check_.watcher->passStarted(total);
    }
    void progress(int64_t linesRead, int64_t total) override {
        send([parts = &check_.parts_, linesRead, total] {
            showProgress(parts->progress, linesRead, total);
            parts->gauge->setProgress(linesRead);
        });
        if (check_.watcher) check_.watcher->progress(linesRead, total);
    }
    void passEnded() override {
        send([check = &check_] { check->closeProgress(); });
        if (check_.watcher) check_.watcher->passEnded();
    }
    void outcomeReady(Outcome outcome, const CheckCounts& c) override {
        if (check_.watcher) check_.watcher->outcomeReady(outcome, c);
        // A stopped check leaves the line total in Label1 and the rest blank.
        if (outcome == Outcome::Stopped) return;
        send([parts = &check_.parts_, c] {
            parts->total->setText(QString::number(c.linesRead));
            parts->kept->setText(QString::number(c.kept));
            parts->duplicates->setText(QString::number(c.duplicates()));
        });
    }

    void showOutcome(Outcome outcome) {
        std::string_view m = messageFor(outcome);
        QString text = QString::fromUtf8(m.data(), static_cast<qsizetype>(m.size()));
        sendAndWait(
            [parts = &check_.parts_, text] { services().information(parts->window, text); });
    }

    // A failure of the pass: the error box first, then the window closes as
    // at a normal end.
    void showFailure(const std::string& what) {
        sendAndWait([check = &check_, what] {
            platform::showFailure(check->parts_.window, what.c_str());
            check->closeProgress();
        });
    }

    // The last change of a check: the normal cursor, and the check is over.
    void finish() {
        send([check = &check_] {
            if (check->busyCursor_) QApplication::restoreOverrideCursor();
            check->busyCursor_ = false;
            check->running_ = false;
        });
    }

private:
    template <class F> auto wrap(F change) {
        return [check = &check_, change = std::move(change)] {
            // Once the program ends, the windows are going: changes lapse.
            if (check->exiting_.load()) return;
            platform::guarded(check->parts_.window, change);
        };
    }

    ListCheck& check_;
};

ListCheck::ListCheck(CheckWindowParts parts) : parts_(std::move(parts)) {
    Button3.OnClick = [this] { Button3Click(); };
    Button4.OnClick = [this] { Button4Click(); };
    if (parts_.progress) parts_.progress->stopButton = &Button3;
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, &mailbox_, [this] { stopForExit(); });
}

ListCheck::~ListCheck() {
    stopForExit();
    if (parts_.progress) parts_.progress->stopButton = nullptr;
}

void ListCheck::stopForExit() {
    exiting_ = true;
    stop_ = true;
    if (worker) {
        // The worker may be waiting for the interface thread (the outcome
        // message); its pending changes are delivered, and lapse, meanwhile.
        while (!worker->wait(20))
            QCoreApplication::sendPostedEvents(&mailbox_, QEvent::MetaCall);
    }
    QCoreApplication::removePostedEvents(&mailbox_);
    if (busyCursor_) QApplication::restoreOverrideCursor();
    busyCursor_ = false;
    running_ = false;
}

void ListCheck::start() {
    QWidget* window = parts_.window;
    if (running_) {
        // A second check would share the working grid, the stop flag and
        // the progress window with the running one, so it is refused before
        // anything of the running check changes.
        if (parts_.progress) {
            parts_.progress->show();
            parts_.progress->raise();
            parts_.progress->activateWindow();
        }
        services().information(window, kAlreadyRunning);
        return;
    }

    parts_.blankStatistics();
    stop_ = false;
    parts_.gauge->setProgress(0);
    parts_.openDialog->title = QStringLiteral("选择待校验邮件列表文件");
    parts_.saveDialog->title = QStringLiteral("校验后列表另存为");
    if (!execute(*parts_.openDialog, window)) return;
    if (!execute(*parts_.saveDialog, window)) return;
    // The check keeps its own copy: the shared dialogs may serve another
    // command while the worker runs.
    const std::string input = parts_.openDialog->fileName;
    const std::string output = parts_.saveDialog->fileName;

    listio::TextReader in(input);
    window->repaint();
    const int64_t total = in.countLines();
    in.close();
    parts_.total->setText(QString::number(total));
    parts_.gauge->setMaxValue(total);
    window->repaint();
    if (parts_.progress) {
        parts_.progress->show();
        parts_.progress->repaint();
    }
    progressOpen_ = true;

    // The previous worker has sent its last change; let it return for good.
    if (worker) worker->wait();
    run_ = CheckRun{input, output, total, progressEvery, memory};
    running_ = true;
    auto* thread = new qxthread(Button4);
    thread->setFreeOnTerminate(true);
    worker = thread;
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        // The system gave no thread. The progress window stays, silently, but
        // the check is over: the next one must not be refused for it.
        worker = nullptr;
        delete thread;
        running_ = false;
    }
}

void ListCheck::closeProgress() {
    parts_.gauge->setProgress(0);
    if (parts_.progress) parts_.progress->hide();
    progressOpen_ = false;
}

void ListCheck::Button3Click() {
    stop_ = true;
}

void ListCheck::Button4Click() {
    WindowSide side(*this);
    // Nothing may leave the worker thread as an exception: each failure is
    // shown in the error box on the interface thread instead.
    try {
        CheckCounts counts;
        const Outcome outcome = removeDuplicates(run_, StringGrid1, stop_, side, counts);
        side.showOutcome(outcome);
    } catch (...) {
        const Failure failure = currentFailure();
        StringGrid1.clear(); // gives the memory back before the box shows
        side.showFailure(failure.text);
    }
    StringGrid1.clear();
    side.finish();
}

} // namespace vq::checking
