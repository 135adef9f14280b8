// The threads that deliver track opens and closes to the plug-in: a new one for each change (as
// XMPlay does), the player's UI thread, or one playback thread.
#include <chrono>

#include "playback_thread.h"

namespace sim {

namespace {

thread_local bool on_worker = false;  // a thread the player started for a track change

// Waits for `done`; meanwhile, unless `answering` is false (a caller busy elsewhere), the caller
// answers messages sent to its own windows, as it would inside SendMessage.
void wait_answering(HANDLE done, bool answering) {
    if (!answering) {
        WaitForSingleObject(done, INFINITE);
        return;
    }
    while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

void Player::mark_worker_thread() {
    on_worker = true;
}

bool Player::on_worker_thread() {
    return on_worker;
}

Player::PlaybackThread::PlaybackThread(Player& player) : player_(player) {
    thread_ = std::thread([this] { main(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return id_ != 0; });
}

Player::PlaybackThread::~PlaybackThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Player::PlaybackThread::call(const std::function<void()>& work, bool answering) {
    if (GetCurrentThreadId() == id_) {
        work();
        return;
    }
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back([&] {
            work();
            SetEvent(done);
        });
    }
    changed_.notify_all();
    wait_answering(done, answering);
    CloseHandle(done);
}

void Player::PlaybackThread::main() {
    std::unique_lock<std::mutex> lock(mutex_);
    id_ = GetCurrentThreadId();
    changed_.notify_all();
    while (!stopping_) {
        if (queue_.empty()) changed_.wait_for(lock, std::chrono::milliseconds(5));
        while (!queue_.empty()) {
            std::function<void()> work = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            work();
            lock.lock();
        }
        if (player_.track_events() == TrackEvents::playback_thread) {
            lock.unlock();
            player_.transport_->check_end();
            lock.lock();
        }
    }
}

void Player::run_on_track_thread(std::function<void()> work, bool answering) {
    switch (track_events()) {
        case TrackEvents::ui_thread:
            return run_on_player_thread(std::move(work));
        case TrackEvents::playback_thread:
            return playback_->call(work, answering);
        case TrackEvents::new_thread: {
            HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            std::thread change([&] {
                on_worker = true;
                work();
                SetEvent(done);
            });
            wait_answering(done, answering);
            change.join();
            CloseHandle(done);
        }
    }
}

DWORD Player::playback_thread_id() const {
    return playback_->id();
}

void Player::set_track_events(TrackEvents thread) {
    track_events_ = thread;
}

}  // namespace sim
