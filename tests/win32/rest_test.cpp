// The watchers rest on a high-resolution waitable timer of their own, armed one-shot for 1 ms
// before every wait and closed when the thread ends; where the system refuses such a timer
// they rest with Sleep(1) and work all the same.
#include "rest_watch.h"
#include "wine_test_support.h"

using namespace quarvel_test;

namespace {

class Rest : public PluginTest {
  protected:
    void SetUp() override {
        SetUpWithStore({{key("check_time_limit"), 1},
                        {key("time_limit"), limit_ms},
                        {key("subsong_limit"), 0}});
        player.quiet_positions = true;
        sim::reset_rest_counts();
    }

    // Plays a playlist that the time limit moves on, until it has done so three times.
    void play_until_moved_on_three_times() {
        player.set_playlist({{"one.mp3", 60000}, {"two.mp3", 60000}});
        player.play(0);
        EXPECT_TRUE(wait_until([&] { return player.count("command key128") >= 3; }));
        EXPECT_TRUE(player.unload());
    }

    static constexpr int32_t limit_ms = 50;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(TrackThreads, Rest, ::testing::Values(sim::TrackEvents::ui_thread),
                         quarvel_test::track_thread_name);

TEST_P(Rest, OnAHighResolutionTimerOfItsOwnArmedOnceFor1msEachTime) {
    ASSERT_TRUE(sim::watch_rests(player.module(), false));

    play_until_moved_on_three_times();

    const sim::RestCounts counts = sim::rest_counts();
    EXPECT_EQ(counts.timers_made, 1) << "one watcher thread, one timer";
    EXPECT_EQ(counts.other_timers, 0);
    EXPECT_GT(counts.arms, 3 * limit_ms / 2) << "armed before every rest";
    EXPECT_EQ(counts.arms_not_1ms_once, 0);
    EXPECT_EQ(counts.sleeps_1ms, 0);
    EXPECT_EQ(counts.timers_open, 0) << "closed when the thread ended";
}

TEST_P(Rest, WithTheTimerRefusedItSleepsAndStillMovesThePlayerOn) {
    ASSERT_TRUE(sim::watch_rests(player.module(), true));

    play_until_moved_on_three_times();

    const sim::RestCounts counts = sim::rest_counts();
    EXPECT_EQ(counts.timers_refused, 1);
    EXPECT_EQ(counts.timers_made, 0);
    EXPECT_EQ(counts.arms, 0);
    EXPECT_GT(counts.sleeps_1ms, 3 * limit_ms / 2);
}
