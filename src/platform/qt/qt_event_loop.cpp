#include "platform/qt/qt_event_loop.h"

#include <algorithm>

#include <QMetaObject>

namespace tarnvelox::platform::qt {

QtEventLoop::QtEventLoop(EventSink& sink) : sink_(sink), context_(std::make_unique<QObject>()) {}

QtEventLoop::~QtEventLoop() = default;  // context_ takes its timers and queued calls with it

void QtEventLoop::start_timer(int timer_id, int period_ms) {
    QTimer*& timer = timers_[timer_id];
    if (timer == nullptr) {
        timer = new QTimer(context_.get());
        QObject::connect(timer, &QTimer::timeout, context_.get(),
                         [this, timer_id] { sink_.on_timer(timer_id); });
    }
    // QTimer::start restarts a running timer with the new period.
    timer->start(std::max(period_ms, 0));
}

void QtEventLoop::kill_timer(int timer_id) {
    auto it = timers_.find(timer_id);
    if (it == timers_.end()) {
        return;
    }
    QTimer* timer = it->second;
    timers_.erase(it);
    timer->stop();
    timer->disconnect();
    timer->deleteLater();
}

bool QtEventLoop::timer_running(int timer_id) const {
    auto it = timers_.find(timer_id);
    return it != timers_.end() && it->second->isActive();
}

void QtEventLoop::post_command(int command_id) {
    QMetaObject::invokeMethod(
        context_.get(), [this, command_id] { sink_.on_command(command_id); },
        Qt::QueuedConnection);
}

}  // namespace tarnvelox::platform::qt
