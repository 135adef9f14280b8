#include "watchers/watcher_control.h"

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "settings/settings.h"
#include "test_support.h"

namespace {

// Counts the passes that ask for the position and notices two of them at once.
struct PassMonitor {
    std::atomic<int> in_pass{0};
    std::atomic<int> overlaps{0};
    std::atomic<long> passes{0};
    fake::Installed hook;

    void install(fake::Player& player) {
        player.log_enabled = false;
        hook = player.position_script.install([this] {
            if (in_pass.fetch_add(1) != 0) overlaps.fetch_add(1);
            passes.fetch_add(1);
            std::this_thread::yield();  // widen the window for a second pass to slip in
            in_pass.fetch_sub(1);
            return 10;
        });
    }
};

// Whether the watchers made `count` passes in all (the wait is only a guard).
[[nodiscard]] bool passes_reach(const PassMonitor& monitor, long count) {
    return fake::wait_for([&] { return monitor.passes.load() >= count; });
}

class WatcherControlTest : public PlayerTest {
  protected:
    void SetUp() override {
        PlayerTest::SetUp();
        quarvel::set(quarvel::settings.time_limit, 1000);  // never reached: idle passes
        quarvel::set(quarvel::settings.start_loop_time, 100);
        quarvel::set(quarvel::settings.end_loop_time, 200);
    }
};

}  // namespace

TEST_F(WatcherControlTest, StartTwiceLeavesOneWatcherAndStopEndsIt) {
    PassMonitor monitor;
    monitor.install(player);
    quarvel::start_time_watcher();
    quarvel::start_time_watcher();
    EXPECT_TRUE(quarvel::time_watch_running());
    EXPECT_EQ(fake::live_watcher_threads(), 1);
    ASSERT_TRUE(passes_reach(monitor, 5));

    quarvel::stop_time_watcher();
    EXPECT_FALSE(quarvel::time_watch_running());
    const long at_stop = monitor.passes.load();
    fake::wait_for_watcher_threads();
    EXPECT_LE(monitor.passes.load(), at_stop + 1);  // only the pass it was in
    EXPECT_EQ(monitor.overlaps.load(), 0);
}

TEST_F(WatcherControlTest, StoppingAStoppedWatcherChangesNothing) {
    quarvel::stop_loop_watcher();
    quarvel::stop_time_watcher();
    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_FALSE(quarvel::time_watch_running());
    EXPECT_EQ(fake::live_watcher_threads(), 0);
    EXPECT_TRUE(player.log().empty());
}

TEST_F(WatcherControlTest, AFailedThreadStartPutsTheFlagBack) {
    fake::fail_thread_starts(true);
    start_loop_watcher();
    EXPECT_FALSE(quarvel::loop_watch_running());

    fake::fail_thread_starts(false);
    start_loop_watcher();
    EXPECT_TRUE(quarvel::loop_watch_running());
    EXPECT_EQ(fake::live_watcher_threads(), 1);
}

TEST_F(WatcherControlTest, QuickStopAndStartKeepsOneWatcherPerKind) {
    PassMonitor monitor;
    monitor.install(player);
    quarvel::start_time_watcher();
    ASSERT_TRUE(passes_reach(monitor, 3));
    for (int i = 0; i < 200; ++i) {
        quarvel::stop_time_watcher();
        quarvel::start_time_watcher();
    }
    ASSERT_TRUE(passes_reach(monitor, monitor.passes.load() + 20));
    EXPECT_EQ(monitor.overlaps.load(), 0);
    quarvel::stop_time_watcher();
    fake::wait_for_watcher_threads();
}

// Many threads starting and stopping both kinds at once, as the player's threads and the
// dialog might. Only the kind under test asks the player anything, so any two positions
// asked at the same time come from two live watchers of that kind.
class WatcherStress : public WatcherControlTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WatcherStress, PassesOfOneKindNeverOverlapAndEndAfterTheLastStop) {
    const bool loop_kind = GetParam();
    if (loop_kind)
        quarvel::set(quarvel::settings.time_limit, 0);  // time passes still ask; keep them out
    PassMonitor monitor;
    monitor.install(player);
    auto start = loop_kind ? start_loop_watcher : quarvel::start_time_watcher;
    auto stop = loop_kind ? quarvel::stop_loop_watcher : quarvel::stop_time_watcher;

    constexpr int threads = 4;
    constexpr int cycles = 2500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([=] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int i = 0; i < cycles; ++i) {
                start();
                if (random() % 8 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
                stop();
                if (random() % 4 == 0) start();
            }
        });
    }
    for (auto& w : workers) w.join();

    start();  // whatever state the workers left: one watcher that gets to run
    ASSERT_TRUE(passes_reach(monitor, monitor.passes.load() + 3));
    stop();
    const long at_stop = monitor.passes.load();
    fake::wait_for_watcher_threads();
    EXPECT_EQ(monitor.overlaps.load(), 0);
    EXPECT_LE(monitor.passes.load(), at_stop + 1) << "a pass began after the last stop";
    EXPECT_GT(monitor.passes.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, WatcherStress, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Loop" : "TimeLimit"; });

TEST_F(WatcherControlTest, TimeWatcherKeepsMovingThePlayerOn) {
    // A real-time song: every "key128" starts the next one at 0.
    quarvel::set(quarvel::settings.time_limit, 20);
    std::atomic<int64_t> began{0};
    auto now_ms = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    began = now_ms();
    player.playlist_length = 5;
    const auto position = player.position_script.install(
        [&] { return static_cast<int32_t>(now_ms() - began.load()); });
    const auto reaction = player.on_command.install([&](const std::string&) { began = now_ms(); });

    quarvel::start_time_watcher();
    EXPECT_TRUE(fake::wait_for([&] { return player.log_of("command").size() >= 3; }));
    quarvel::stop_time_watcher();
    fake::wait_for_watcher_threads();

    const Lines commands = player.log_of("command");
    ASSERT_GE(commands.size(), 3u);
    for (const auto& c : commands) EXPECT_EQ(c, "command key128");
}

namespace {

struct Kind {
    const char* name;
    void (*start)();
    void (*stop)();
    Lines first_steps;  // a pass's first two steps
};

class EachWatcher : public WatcherControlTest, public ::testing::WithParamInterface<Kind> {
  protected:
    void SetUp() override {
        WatcherControlTest::SetUp();
        rest = fake::on_rest.install([this] { player.record("rest"); });
    }
    fake::Installed rest;
};

}  // namespace

TEST_P(EachWatcher, StoppedBeforeItsThreadBeginsItMakesNoPass) {
    const Kind& kind = GetParam();
    const auto hook = fake::on_watcher_start.install([&] { kind.stop(); });  // before the thread
    kind.start();
    fake::wait_for_watcher_threads();
    EXPECT_TRUE(player.log().empty()) << "asked " << player.log().front();
}

TEST_P(EachWatcher, PassOrderOfCheckAndRest) {
    const Kind& kind = GetParam();
    kind.start();
    ASSERT_TRUE(fake::wait_for([&] { return player.log().size() >= 4; }));
    kind.stop();
    fake::wait_for_watcher_threads();
    const Lines log = player.log();
    EXPECT_EQ(Lines(log.begin(), log.begin() + 2), kind.first_steps);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EachWatcher,
    ::testing::Values(Kind{"TimeLimitChecksFirst", quarvel::start_time_watcher,
                           quarvel::stop_time_watcher, Lines{"position", "rest"}},
                      Kind{"LoopRestsFirst", start_loop_watcher, quarvel::stop_loop_watcher,
                           Lines{"rest", "position"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A track close that came between Apply's stamp and its start of the loop watcher found nothing
// to stop. Even if Apply is pre-empted right after the thread start, before it can see the close
// and stop the watcher again, the new watcher makes no pass.
TEST_F(WatcherControlTest, LoopWatcherArmedForAnOlderTrackMakesNoPass) {
    player.position = 300;  // past the section 100-200: any pass would jump
    const quarvel::CloseStamp armed_for = quarvel::track_close_stamp();
    quarvel::new_track(nullptr, [] {});
    bool ran_alone = false;
    auto hook = fake::on_thread_started.install([&](const std::function<void()>& run) {
        run();
        ran_alone = fake::wait_for([] { return fake::live_watcher_threads() == 0; });
    });

    quarvel::start_loop_watcher(armed_for);

    EXPECT_TRUE(ran_alone) << "the watcher did not end while its starter was held";
    EXPECT_TRUE(player.log_of("jump").empty());
    EXPECT_TRUE(player.log_of("position").empty());

    // Apply, seeing the close, stops it; the next track's Apply arms it as usual.
    quarvel::stop_loop_watcher();
    hook.reset();
    start_loop_watcher();
    EXPECT_TRUE(quarvel::loop_watch_running());
    EXPECT_TRUE(fake::wait_for([&] { return !player.log_of("jump 100").empty(); }));
}
