// A player that calls from more than one thread: track closes delivered on the playback
// thread against Apply running on the dialog's thread, and a close while the dialog's thread
// is busy.
#include <cstdio>
#include <random>
#include <thread>

#include "wine_test_support.h"

using namespace quarvel_test;

namespace {

class Threads : public PluginTest {
  protected:
    void SetUp() override {
        SetUpWithStore(stored_defaults());
        player.quiet_positions = true;
        player.set_playlist({{"song.mp3", 600000}});
        ui_thread = player.ui_thread_id();
    }

    void TearDown() override {
        player.on_event = nullptr;
        wait_until([&] { return !player.ui_busy(); }, 10000);
        if (dialog && IsWindow(dialog)) {
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            gone(dialog);
        }
    }

    // The song playing at 1500 ms and the section 1000-3000 typed with looping ticked.
    void ready_to_loop() {
        player.play(0);
        player.set_position(1500);
        if (!dialog) dialog = player.open_config();
        ASSERT_NE(dialog, nullptr);
        set_box(dialog, IDC_LOOP_ENABLE, true);
        type(dialog, IDC_LOOP_START, L"1000");
        type(dialog, IDC_LOOP_END, L"3000");
    }

    // Whether a loop watcher still runs: with playback put past the section's end, a live
    // one jumps back within a few of its 1 ms passes.
    bool loop_watcher_runs() {
        player.clear_events();
        player.set_position(5000);
        Sleep(15);
        return player.count("message jump") > 0;
    }

    DWORD ui_thread = 0;
    HWND dialog = nullptr;
};

// Where the track close is let in while Apply runs: the dialog's thread pauses at that call
// of Apply for a moment, and the close comes then.
struct Moment {
    enum When { before_apply, at_random, at_pause, after_apply } when;
    const char* name;
    const char* pause_at = nullptr;  // the player's log line of Apply's call to pause after
};
const Moment moments[] = {
    {Moment::before_apply, "before Apply"},
    {Moment::at_random, "at a random moment of Apply"},
    {Moment::at_pause, "after asking the length", "message length"},
    {Moment::at_pause, "after asking whether a track plays", "status playing -> 1"},
    {Moment::at_pause, "after storing check_looping 1", "store write QUARVEL/check_looping = 1"},
    {Moment::after_apply, "after Apply"},
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(TrackThreads, Threads,
                         ::testing::Values(sim::TrackEvents::playback_thread),
                         quarvel_test::track_thread_name);

TEST_P(Threads, ApplyAgainstTrackCloseNeverLeavesLoopingArmed) {
    HANDLE paused = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<const char*> pause_at{nullptr};
    player.on_event = [&](const sim::Event& e) {
        const char* at = pause_at.load();
        if (at && GetCurrentThreadId() == ui_thread && e.what.rfind(at, 0) == 0) {
            pause_at = nullptr;
            SetEvent(paused);
            Sleep(5);  // the close runs now
        }
    };
    std::mt19937 random(20261209);

    constexpr int rounds = 240;
    int violations = 0, still_looping = 0, stored_on = 0;
    for (int round = 0; round < rounds; ++round) {
        const Moment& moment = moments[round % (sizeof moments / sizeof moments[0])];
        SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", close " + moment.name);
        ready_to_loop();
        if (HasFatalFailure()) break;
        ResetEvent(paused);

        if (moment.when == Moment::before_apply) player.stop();
        pause_at = moment.pause_at;
        std::thread user([&] { click(dialog, IDC_APPLY); });  // handled on the dialog's thread
        if (moment.when == Moment::at_pause) {
            EXPECT_EQ(WaitForSingleObject(paused, 5000), WAIT_OBJECT_0);
            player.stop();
        } else if (moment.when == Moment::at_random) {
            const DWORD until = GetTickCount() + random() % 4;
            while (GetTickCount() < until) YieldProcessor();
            player.stop();
        }
        user.join();
        pause_at = nullptr;
        if (moment.when == Moment::after_apply) player.stop();

        // The close has returned and no Apply began after it.
        const bool looping = loop_watcher_runs();
        const bool on_in_store = stored("check_looping") != 0;
        still_looping += looping;
        stored_on += on_in_store;
        violations += looping || on_in_store;
    }
    std::printf(
        "Apply against a track close: %d rounds, %d violations (a loop watcher still "
        "running: %d, check_looping 1 in the store: %d)\n",
        rounds, violations, still_looping, stored_on);
    EXPECT_EQ(violations, 0);
    CloseHandle(paused);
}

TEST_P(Threads, TrackCloseDoesNotWaitForABusyDialogThread) {
    ready_to_loop();
    click(dialog, IDC_APPLY);
    ASSERT_EQ(stored("check_looping"), 1);

    player.hold_ui_thread(5000);  // as a player loading a large file
    player.clear_events();
    player.stop();
    const bool dialog_thread_still_busy = player.ui_busy();
    std::printf(
        "a track close held the playback thread %.1f ms while the dialog's thread was "
        "busy for 5 s\n",
        player.last_close_ms());

    EXPECT_TRUE(dialog_thread_still_busy) << "the close waited for the dialog's thread";
    std::vector<std::string> writes;
    for (auto& e : player.events("store write")) writes.push_back(e.what);
    EXPECT_EQ(writes, (std::vector<std::string>{"store write QUARVEL/check_looping = 0",
                                                "store write QUARVEL/start_loop_time = 0",
                                                "store write QUARVEL/end_loop_time = 0"}));
    ASSERT_TRUE(wait_until([&] { return !player.ui_busy(); }, 10000));
    EXPECT_FALSE(loop_watcher_runs());
}
