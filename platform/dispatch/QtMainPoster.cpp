#include "platform/dispatch/QtMainPoster.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "platform/dispatch/MainThreadDispatcher.h"

namespace vantry::platform {

void installQtMainPoster() {
    QPointer<QCoreApplication> app = QCoreApplication::instance();
    setMainPoster([app](MainTask task) {
        if (!app) return;  // the application is gone: nothing left to notify
        QMetaObject::invokeMethod(app.data(), std::move(task), Qt::QueuedConnection);
    });
    drainMainQueue();
}

}  // namespace vantry::platform
