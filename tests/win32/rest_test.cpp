// The watchers rest on a high-resolution waitable timer of their own, armed one-shot for 1 ms
// before every wait and closed when the thread ends. Where the system has no such timer (it
// refuses one, or lacks the function that makes one, as Windows XP does), or the timer does
// not fire, they rest with Sleep(1) and work all the same. Rests are counted against the
// watcher's passes: every pass of the time-limit watcher asks the position once, then rests (once
// more where the player has answered that it plays).
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

    // Plays a playlist that the time limit moves on, until it has done so three times, then
    // unloads the plug-in; the watcher's passes in all.
    long play_until_moved_on_three_times(sim::Timers timers) {
        EXPECT_TRUE(sim::watch_rests(player.module(), timers));
        player.clear_events();
        const long before = player.position_questions();
        player.set_playlist({{"one.mp3", 60000}, {"two.mp3", 60000}});
        player.play(0);
        EXPECT_TRUE(wait_until([&] { return player.count("command key128") >= 3; }));
        EXPECT_TRUE(player.unload());
        const auto confirmed = static_cast<long>(player.count("message playing -> 1"));
        return player.position_questions() - before - confirmed;
    }

    static constexpr int32_t limit_ms = 20;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(TrackThreads, Rest, ::testing::Values(sim::TrackEvents::ui_thread),
                         quarvel_test::track_thread_name);

// Where the system offers no such timer, Sleep(1) serves every rest.
TEST_P(Rest, OnAHighResolutionTimerOfItsOwnArmedOnceFor1msEachTime) {
    const bool offered = sim::system_has_high_resolution_timers();
    const long passes = play_until_moved_on_three_times(sim::Timers::as_the_system_has_them);

    const sim::RestCounts counts = sim::rest_counts();
    EXPECT_EQ(counts.lookups, 1) << "looked up once";
    EXPECT_EQ(counts.timers_made, offered ? 1 : 0) << "one watcher thread, one timer";
    EXPECT_EQ(counts.other_timers, 0);
    EXPECT_EQ(counts.arms, offered ? passes : 0) << "armed before every rest";
    EXPECT_EQ(counts.arms_not_1ms_once, 0);
    EXPECT_EQ(counts.sleeps_1ms, offered ? 0 : passes);
    EXPECT_EQ(counts.timers_open, 0) << "closed when the thread ended";
}

TEST_P(Rest, WhereTheSystemHasNoSuchTimerItSleepsAndStillMovesThePlayerOn) {
    for (sim::Timers timers : {sim::Timers::refused, sim::Timers::absent}) {
        const bool refused = timers == sim::Timers::refused;
        SCOPED_TRACE(refused ? "timer refused" : "no CreateWaitableTimerExW");
        if (!refused) {
            SetUp();  // a fresh load, which looks the function up afresh
            if (HasFatalFailure()) return;
        }
        const long passes = play_until_moved_on_three_times(timers);

        const sim::RestCounts counts = sim::rest_counts();
        EXPECT_EQ(counts.lookups, 1);
        EXPECT_EQ(counts.timers_refused, refused ? 1 : 0);
        EXPECT_EQ(counts.timers_made, 0);
        EXPECT_EQ(counts.arms, 0);
        EXPECT_EQ(counts.sleeps_1ms, passes);
        EXPECT_EQ(counts.timers_open, 0);
    }
}

TEST_P(Rest, ATimerThatNeverFiresIsGivenUpForSleep) {
    const bool offered =
        sim::system_has_high_resolution_timers();  // else no timer is made, and none to give up
    const long passes = play_until_moved_on_three_times(sim::Timers::never_fire);

    const sim::RestCounts counts = sim::rest_counts();
    EXPECT_EQ(counts.timers_made, offered ? 1 : 0);
    EXPECT_EQ(counts.waits_timed_out, offered ? 1 : 0)
        << "given up at the first wait that timed out";
    EXPECT_EQ(counts.arms, offered ? 1 : 0);
    EXPECT_EQ(counts.sleeps_1ms, passes) << "that rest and every later one";
    EXPECT_EQ(counts.timers_open, 0) << "closed when given up";
}
