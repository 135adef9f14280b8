// The player's log of every call, command and message, with the thread that made it; the hooks
// that watch it and replace the player's reaction to a command; and the hold points.
#include "dialog_driver.h"
#include "sim_player.h"
#include "thread_watch.h"

namespace sim {

void Player::log(const std::string& what, bool message) {
    Event e;
    e.at_ms = now_ms();
    e.thread = GetCurrentThreadId();
    e.what = what;
    e.message = message;
    e.player_worker = on_worker_thread();
    e.track_ms = transport_->track_ms(e.at_ms);
    std::shared_ptr<const EventHook> hook;
    {
        std::lock_guard<std::mutex> lock(log_mutex_);
        events_.push_back(e);
        hook = on_event_;
    }
    if (hook) (*hook)(e);
}

void Player::set_on_command(CommandHook hook) {
    auto made = hook ? std::make_shared<const CommandHook>(std::move(hook)) : nullptr;
    std::lock_guard<std::mutex> lock(log_mutex_);
    on_command_.swap(made);
}

void Player::set_on_event(EventHook hook) {
    auto made = hook ? std::make_shared<const EventHook>(std::move(hook)) : nullptr;
    std::lock_guard<std::mutex> lock(log_mutex_);
    on_event_.swap(made);
}

std::vector<Event> Player::events() {
    std::lock_guard<std::mutex> lock(log_mutex_);
    return events_;
}

std::vector<Event> Player::events(const std::string& prefix) {
    std::vector<Event> out;
    for (auto& e : events())
        if (e.what.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
}

size_t Player::count(const std::string& prefix) {
    return events(prefix).size();
}

void Player::clear_events() {
    std::lock_guard<std::mutex> lock(log_mutex_);
    events_.clear();
}

void Player::hold_once(std::string at, std::function<void()> work) {
    std::lock_guard<std::mutex> lock(hold_mutex_);
    hold_at_ = std::move(at);
    hold_work_ = std::move(work);
}

void Player::hold_point(const std::string& what) {
    std::function<void()> work;
    {
        std::lock_guard<std::mutex> lock(hold_mutex_);
        if (!hold_work_ || what.compare(0, hold_at_.size(), hold_at_) != 0) return;
        work = std::move(hold_work_);
        hold_work_ = nullptr;
    }
    log("held at \"" + what + "\"");
    work();
}

bool Player::wait_for_positions(long n, DWORD guard_ms) {
    const long target = position_questions() + n;
    return wait_until([&] { return position_questions() >= target; }, guard_ms);
}

long Player::plugin_threads_running() const {
    return sim::plugin_threads_running();
}

}  // namespace sim
