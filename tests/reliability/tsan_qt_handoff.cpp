// ThreadSanitizer builds only. Qt is not built with ThreadSanitizer, so the
// locks inside Qt's event queue are invisible to it, and everything a worker
// hands to the interface thread through a queued call looked like a race.
// This states what Qt guarantees, and nothing more: whatever a thread did
// before it posted a call happens before the events its queue delivers
// next; and what the call did happens before it is destroyed, and before a
// blocking call returns. Posting is caught by
// wrapping QMetaObject::invokeMethodImpl at link time, delivery by Qt's own
// event-notify callback.
#include <QCoreApplication>
#include <sanitizer/tsan_interface.h>

#define VQ_INVOKE_IMPL                                                                             \
    _ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv
#define VQ_GLUE(a, b) a##b
#define VQ_NAME(prefix, name) VQ_GLUE(prefix, name)

extern "C" bool VQ_NAME(__real_, VQ_INVOKE_IMPL)(QObject* receiver,
                                                 QtPrivate::QSlotObjectBase* call,
                                                 Qt::ConnectionType type, void* result);

namespace {

// Qt keeps one queue per receiving thread behind one lock, and every call
// our code posts goes to the interface thread: one token stands for it.
char queueLock;

// A posted call, seen through: marks the end of the call, which Qt orders
// before the call is destroyed and before a blocking call returns.
class MarkedCall : public QtPrivate::QSlotObjectBase {
public:
    explicit MarkedCall(QtPrivate::QSlotObjectBase* inner)
        : QSlotObjectBase(&impl), inner_(inner) {}

private:
    static void impl(int which, QSlotObjectBase* self, QObject* r, void** args, bool* ret) {
        auto* me = static_cast<MarkedCall*>(self);
        switch (which) {
        case Destroy:
            // Qt destroys the call on whichever thread lets go of it last,
            // after the call has run (or been dropped from the queue).
            __tsan_acquire(&queueLock);
            me->inner_->destroyIfLastRef();
            delete me;
            break;
        case Call:
            me->inner_->call(r, args);
            __tsan_release(&queueLock);
            break;
        case Compare:
            if (ret) *ret = false;
            break;
        }
    }
    QtPrivate::QSlotObjectBase* inner_;
};

// Returning false lets the event go on to its receiver.
bool acquireBeforeDelivery(void**) {
    __tsan_acquire(&queueLock);
    return false;
}

const bool registered =
    QInternal::registerCallback(QInternal::EventNotifyCallback, acquireBeforeDelivery);

} // namespace

extern "C" bool VQ_NAME(__wrap_, VQ_INVOKE_IMPL)(QObject* receiver,
                                                 QtPrivate::QSlotObjectBase* call,
                                                 Qt::ConnectionType type, void* result) {
    auto* marked = new MarkedCall(call);
    __tsan_release(&queueLock);
    const bool done = VQ_NAME(__real_, VQ_INVOKE_IMPL)(receiver, marked, type, result);
    // Only a blocking call waits for the other thread.
    if (type == Qt::BlockingQueuedConnection) __tsan_acquire(&queueLock);
    return done;
}
