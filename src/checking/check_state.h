#pragma once
// The state of one list check, owned by the main window. Everything the
// worker uses is here and copied at the start, so another command that
// reuses the shared dialogs meanwhile cannot change the running check.
#include "app/Unit1.h"
#include "checking/dedup.h"
#include "checking/kept_lines.h"
#include "checking/qx_index.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <string>

struct TForm1::CheckState {
    CheckState();
    ~CheckState(); // ends a running check first, see stopForExit

    // Ends a running check because the program ends: sets the abort flag,
    // lets the worker's pending window changes lapse, and waits for the
    // worker. A stopped pass writes no file. Interface thread only.
    void stopForExit();

    std::atomic<bool> abort{false}; // set by Button3, read by the pass once a line
    // Set when the program ends: the worker's window changes are dropped.
    std::atomic<bool> exiting{false};
    bool running = false; // from the worker's start until its last window change; interface thread
    bool busyCursor = false;             // the pass's busy cursor is up; interface thread
    vq::checking::CheckRun run;          // files and line total, copied at the start
    vq::checking::KeptLines StringGrid1; // the working grid; the worker's while it runs
    // Receives the worker's window changes on the interface thread, in the
    // order they were sent.
    QObject mailbox;
    QPointer<qxthread> worker;
    // Tests stop the pass at a chosen line with this; called on the worker.
    std::function<void(int64_t linesRead)> afterLine;
};
