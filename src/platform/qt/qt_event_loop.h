#pragma once

// The real EventLoop on Qt: one QTimer per timer id and posted commands as queued calls, all in
// the thread that owns the QtEventLoop. Every event reaches the EventSink given at construction,
// which must outlive this object. Destroying the loop stops its timers and drops any command
// still waiting to be delivered.

#include <map>
#include <memory>

#include <QObject>
#include <QTimer>

#include "platform/event_loop.h"

namespace tarnvelox::platform::qt {

class QtEventLoop final : public EventLoop {
public:
    explicit QtEventLoop(EventSink& sink);
    ~QtEventLoop() override;

    QtEventLoop(const QtEventLoop&) = delete;
    QtEventLoop& operator=(const QtEventLoop&) = delete;
    QtEventLoop(QtEventLoop&&) = delete;
    QtEventLoop& operator=(QtEventLoop&&) = delete;

    void start_timer(int timer_id, int period_ms) override;
    void kill_timer(int timer_id) override;
    [[nodiscard]] bool timer_running(int timer_id) const override;
    void post_command(int command_id) override;

private:
    EventSink& sink_;
    // Parent of the timers and receiver of the queued commands: deleting it drops both.
    std::unique_ptr<QObject> context_;
    // Borrowed from context_, which owns them. A killed timer leaves the map at once but is
    // deleted later, since it may be the one whose timeout is being handled right now.
    std::map<int, QTimer*> timers_;
};

}  // namespace tarnvelox::platform::qt
