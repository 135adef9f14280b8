// The simulated player's playback thread (track_threads.cpp).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "sim_player.h"

namespace sim {

// The playback thread: runs what is handed to it and, while it delivers the track events,
// notices the end of a track playing in real time (every 5 ms, as the UI thread's timer does
// otherwise). It has no window, so nothing is sent to it while it waits for the plug-in.
class Player::PlaybackThread {
  public:
    explicit PlaybackThread(Player& player);
    ~PlaybackThread();
    DWORD id() const { return id_; }

    // Runs `work` on this thread and returns when it is done. Meanwhile the caller answers
    // messages sent to its own windows, as it would inside SendMessage, unless `answering` is
    // false (a caller busy elsewhere).
    void call(const std::function<void()>& work, bool answering);

  private:
    void main();

    Player& player_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    DWORD id_ = 0;
    std::thread thread_;
};

}  // namespace sim
