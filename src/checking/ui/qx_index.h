#pragma once
// qxthread: the worker thread of the list check. Its one job is to click a
// button on its own thread; the main window gives it the hidden Button4,
// whose click handler is the de-duplication pass.
#include "checking/ui/hidden_button.h"

#include <QThread>

class qxthread : public QThread {
    Q_OBJECT
public:
    // Created suspended: nothing runs until start().
    explicit qxthread(const THiddenButton& target, QObject* parent = nullptr);

    // With true, the thread object deletes itself (on the thread that owns
    // it) once run() has returned.
    void setFreeOnTerminate(bool free);

protected:
    void run() override;

private:
    const THiddenButton& target_; // not owned
    QMetaObject::Connection freeing_;
};
