// The list check from the main window: N6Click counts the list and starts
// the worker, Button4Click is the de-duplication pass on the worker thread,
// Button3Click is the stop.
#include "app/Unit1.h"
#include "app/gauge.h"
#include "checking/Unit3.h"
#include "checking/check_state.h"
#include "listio/listio.h"

#include <QApplication>
#include <QLabel>
#include <new>

using vq::platform::execute;
using vq::platform::services;
namespace chk = vq::checking;

namespace {

const QString kAlreadyRunning = QStringLiteral("邮件列表校验正在进行中!");

void showProgress(int64_t linesRead, int64_t total) {
    if (!Form3) return;
    Form3->Label1->setText(QString::fromStdString(chk::progressText(linesRead, total)));
    Form3->Label1->repaint();
}

void closeProgressWindow(TForm1& form) {
    form.Gauge1->setProgress(0);
    if (Form3) Form3->hide();
    // Closed while the program is in the notification area: it stays closed
    // when the main window comes back.
    form.hiddenWithMain.removeAll(QPointer<QWidget>(Form3));
}

// The worker's side of the window changes. Each change is sent to the
// interface thread and carried out there in the order sent; the worker never
// touches a widget itself.
class WindowSide : public chk::CheckListener {
public:
    WindowSide(TForm1& form, TForm1::CheckState& state) : form_(form), state_(state) {}

    template <class F> void send(F change) {
        QMetaObject::invokeMethod(&state_.mailbox, wrap(std::move(change)), Qt::QueuedConnection);
    }
    // Also waits until the change is done: the outcome message is modal, and
    // what follows it must wait for it to be closed. A message that comes
    // while the program is in the notification area waits there until the
    // icon brings the main window back, and shows over it.
    template <class F> void sendAndWait(F change) {
        auto whenShown = [form = &form_, change = std::move(change)] {
            if (form->waitWhileInTray()) change();
        };
        QMetaObject::invokeMethod(&state_.mailbox, wrap(std::move(whenShown)),
                                  Qt::BlockingQueuedConnection);
    }

    void passStarted(int64_t total) override {
        send([state = &state_, total] {
            QApplication::setOverrideCursor(Qt::BusyCursor);
            state->busyCursor = true;
            showProgress(0, total);
        });
    }
    void progress(int64_t linesRead, int64_t total) override {
        send([form = &form_, linesRead, total] {
            showProgress(linesRead, total);
            form->Gauge1->setProgress(linesRead);
        });
    }
    void passEnded() override {
        send([form = &form_] { closeProgressWindow(*form); });
    }
    void outcomeReady(chk::Outcome outcome, const chk::CheckCounts& c) override {
        // A stopped check leaves the line total in Label1 and the rest blank.
        if (outcome == chk::Outcome::Stopped) return;
        send([form = &form_, c] {
            form->Label1->setText(QString::number(c.linesRead));
            form->Label6->setText(QString::number(c.kept));
            form->Label3->setText(QString::number(c.duplicates()));
        });
    }

    void showOutcome(chk::Outcome outcome) {
        std::string_view m = chk::messageFor(outcome);
        QString text = QString::fromUtf8(m.data(), static_cast<qsizetype>(m.size()));
        sendAndWait([form = &form_, text] { services().information(form, text); });
    }

    // A failure of the pass: the error box first, then the window closes as
    // at a normal end.
    void showFailure(const std::string& what) {
        sendAndWait([form = &form_, what] {
            vq::platform::showFailure(form, what.c_str());
            closeProgressWindow(*form);
        });
    }

    // The last change of a check: the normal cursor, and the check is over.
    void finish() {
        send([state = &state_] {
            if (state->busyCursor) QApplication::restoreOverrideCursor();
            state->busyCursor = false;
            state->running = false;
        });
    }

private:
    template <class F> auto wrap(F change) {
        return [form = &form_, state = &state_, change = std::move(change)] {
            // Once the program ends, the windows are going: changes lapse.
            if (state->exiting.load()) return;
            vq::platform::guarded(form, change);
        };
    }

    TForm1& form_;
    TForm1::CheckState& state_;
};

} // namespace

void TForm1::CheckStateDeleter::operator()(CheckState* s) const {
    delete s;
}

TForm1::CheckState::CheckState() {
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, &mailbox, [this] { stopForExit(); });
}

TForm1::CheckState::~CheckState() {
    stopForExit();
}

void TForm1::CheckState::stopForExit() {
    exiting = true;
    abort = true;
    if (worker) {
        // The worker may be waiting for the interface thread (the outcome
        // message); its pending changes are delivered, and lapse, meanwhile.
        while (!worker->wait(20))
            QCoreApplication::sendPostedEvents(&mailbox, QEvent::MetaCall);
    }
    QCoreApplication::removePostedEvents(&mailbox);
    if (busyCursor) QApplication::restoreOverrideCursor();
    busyCursor = false;
    running = false;
}

void TForm1::N6Click() {
    if (!listCheck) listCheck.reset(new CheckState);
    CheckState& check = *listCheck;
    if (check.running) {
        // A second check would share the working grid, the abort flag and
        // the progress window with the running one, so it is refused before
        // anything of the running check changes.
        Form3->show();
        Form3->raise();
        Form3->activateWindow();
        services().information(this, kAlreadyRunning);
        return;
    }

    blankStatistics();
    check.abort = false;
    Gauge1->setProgress(0);
    OpenDialog1.title = QStringLiteral("选择待校验邮件列表文件");
    SaveDialog1.title = QStringLiteral("校验后列表另存为");
    if (!execute(OpenDialog1, this)) return;
    if (!execute(SaveDialog1, this)) return;
    // The check keeps its own copy: the shared dialogs may serve another
    // command while the worker runs.
    const std::string input = OpenDialog1.fileName;
    const std::string output = SaveDialog1.fileName;

    vq::listio::TextReader in(input);
    repaint();
    const int64_t total = in.countLines();
    in.close();
    Label1->setText(QString::number(total));
    Gauge1->setMaxValue(total);
    repaint();
    Form3->show();
    Form3->repaint();

    // The previous worker has sent its last change; let it return for good.
    if (check.worker) check.worker->wait();
    check.run = chk::CheckRun{input, output, total, check.afterLine};
    check.running = true;
    auto* worker = new qxthread(Button4);
    worker->setFreeOnTerminate(true);
    check.worker = worker;
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        // The system gave no thread. The progress window stays, silently, but
        // the check is over: the next one must not be refused for it.
        check.worker = nullptr;
        delete worker;
        check.running = false;
    }
}

void TForm1::Button3Click() {
    if (listCheck) listCheck->abort = true;
}

void TForm1::Button4Click() {
    CheckState& check = *listCheck;
    WindowSide side(*this, check);
    // Nothing may leave the worker thread as an exception: each failure is
    // shown in the error box on the interface thread instead.
    try {
        chk::CheckCounts counts;
        chk::Outcome outcome =
            chk::removeDuplicates(check.run, check.StringGrid1, check.abort, side, counts);
        side.showOutcome(outcome);
    } catch (const std::bad_alloc&) {
        check.StringGrid1.clear(); // gives the memory back before the box shows
        side.showFailure("Out of memory");
    } catch (const std::exception& e) {
        side.showFailure(e.what());
    }
    check.StringGrid1.clear();
    side.finish();
}
