#include "window/rules/HeapTrim.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace heaptrim {

namespace {
constexpr int kQuietMs = 1000;
} // namespace

void returnFreedPagesSoon()
{
    // Owned by the application, so it goes with it.
    static QPointer<QTimer> timer;
    if (!timer) {
        timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setTimerType(Qt::CoarseTimer);
        QObject::connect(timer, &QTimer::timeout, [] {
#if defined(__GLIBC__)
            ::malloc_trim(0);
#endif
        });
    }
    timer->start(kQuietMs);
}

} // namespace heaptrim
