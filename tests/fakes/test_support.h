// Shared by the native tests: a fresh fake player per test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fake_controls.h"
#include "fake_host.h"
#include "fake_threads.h"
#include "watchers/watcher_control.h"

using Lines = std::vector<std::string>;

// Looping armed for the track playing now, as an Apply that begins now arms it.
inline void start_loop_watcher() {
    quarvel::start_loop_watcher(quarvel::track_close_stamp());
}

class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        fake::open_dialog = nullptr;
    }
    void TearDown() override {
        fake::reset();
        fake::open_dialog = nullptr;
    }
    // The calls logged, without the position questions of the watchers that run meanwhile.
    Lines calls_but_positions() const {
        Lines out;
        for (auto& l : player.log())
            if (l != "position") out.push_back(l);
        return out;
    }

    fake::Player& player = fake::player();
};

// Hold points on the fake player's calls: the first call that logs one of the lines given waits
// there, on the thread that made it, until the test releases it. Made before the threads that
// reach them start; release every point that was reached before this goes.
class CallHolds {
  public:
    CallHolds(fake::Player& player, const std::vector<std::string>& lines) {
        for (const auto& line : lines) points_.emplace_back(line);
        hook_ = player.on_call.install([this](const std::string& line) {
            for (auto& point : points_) {
                if (line != point.at || point.taken.exchange(true)) continue;
                point.reached.set_value();
                point.go.get_future().wait();
            }
        });
    }

    void wait_until_held(size_t point) { points_[point].reached.get_future().wait(); }
    void release(size_t point) { points_[point].go.set_value(); }

  private:
    struct Point {
        explicit Point(std::string line) : at(std::move(line)) {}
        std::string at;
        std::atomic<bool> taken{false};
        std::promise<void> reached, go;
    };
    std::deque<Point> points_;
    fake::Installed hook_;
};
