#include "checking/ui/qx_index.h"

qxthread::qxthread(const THiddenButton& target, QObject* parent)
    : QThread(parent), target_(target) {
    setObjectName(QStringLiteral("qxthread"));
}

void qxthread::setFreeOnTerminate(bool free) {
    if (free == static_cast<bool>(freeing_)) return;
    if (free)
        freeing_ = connect(this, &QThread::finished, this, &QObject::deleteLater);
    else {
        disconnect(freeing_);
        freeing_ = {};
    }
}

void qxthread::run() {
    target_.Click();
}
