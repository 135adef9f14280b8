// The player may unload the DLL at once after free_instance: watcher threads that are still
// finishing their pass keep the module loaded until they have ended, then it goes.
#include <thread>

#include "rest_watch.h"
#include "wine_test_support.h"

using namespace quarvel_test;

TEST(Unload, HundredCyclesOfStartFreeAndUnloadLeakNothing) {
    sim::Player player;
    player.quiet_positions = true;
    player.set_store({{key("check_time_limit"), 1}, {key("time_limit"), 1000000}});
    player.set_playlist({{"one.mp3", 600000}});
    const std::wstring path = dll_path();
    const auto cycle = [&](int n) {
        std::string error;
        ASSERT_TRUE(player.load(path, &error)) << error;
        ASSERT_TRUE(sim::watch_rests(player.module()));
        ASSERT_NE(player.bind(1), nullptr);
        player.start_instance();
        player.play(0);  // starts the time watcher
        if (n % 2) {
            ASSERT_TRUE(player.wait_for_positions(1));  // in its passes, every other cycle
        }
        ASSERT_TRUE(player.unload()) << "module still loaded after its threads should have ended";
        EXPECT_EQ(GetModuleHandleW(L"xmp-quarvel.dll"), nullptr);
    };
    // Timers are counted through the DLL's own imports: Wine's process handle count is
    // always 0.
    sim::reset_rest_counts();

    for (int n = 0; n < 100; ++n) {
        SCOPED_TRACE(n);
        cycle(n);
        if (HasFatalFailure()) return;
    }

    const bool offered = sim::system_has_high_resolution_timers();
    const sim::RestCounts counts = sim::rest_counts();
    EXPECT_EQ(counts.timers_made, offered ? 100 : 0) << "one timer per watcher thread";
    EXPECT_EQ(counts.timers_open, 0) << "a watcher thread ended without closing its timer";
}

TEST(Unload, ModuleStaysWhileAWatcherFinishesItsPass) {
    sim::Player player;
    player.set_store({{key("check_time_limit"), 1}, {key("time_limit"), 1000000}});
    player.set_playlist({{"one.mp3", 600000}});
    ASSERT_TRUE(player.load(dll_path()));
    player.bind(1);
    player.start_instance();
    // The player holds the watcher's position question until the test lets it answer.
    HeldCall question(player, "message position");
    player.play(0);
    ASSERT_TRUE(question.reached());

    HMODULE module = player.module();
    player.record()->free_instance(reinterpret_cast<sim::Instance>(1));
    FreeLibrary(module);  // the player's own reference is gone
    EXPECT_EQ(GetModuleHandleW(L"xmp-quarvel.dll"), module) << "unloaded under a running watcher";
    question.release();
    EXPECT_TRUE(wait_until([] { return GetModuleHandleW(L"xmp-quarvel.dll") == nullptr; }));
}

// A watcher's last command may move the player on while it unloads the plug-in: the track
// open that follows must not reach the freed instance, or it would start a watcher that
// nothing stops and the module would never go. The player holds the command until it has
// freed the instance.
TEST(Unload, WhileTheTimeLimitKeepsMovingThePlayerOn) {
    for (auto thread : {sim::TrackEvents::ui_thread, sim::TrackEvents::playback_thread}) {
        sim::Player player;
        player.quiet_positions = true;
        player.set_track_events(thread);
        player.set_store({{key("check_time_limit"), 1}, {key("time_limit"), 1}});
        player.set_playlist({{"one.mp3", 600000}, {"two.mp3", 600000}});
        for (int cycle = 0; cycle < 5; ++cycle) {
            SCOPED_TRACE(cycle);
            ASSERT_TRUE(player.load(dll_path()));
            ASSERT_NE(player.bind(1), nullptr);
            player.start_instance();
            HeldCall command(player, "command key128");
            player.play(0);
            ASSERT_TRUE(command.reached());
            bool unloaded = false;
            std::thread unloading([&] { unloaded = player.unload(); });
            EXPECT_TRUE(wait_until([&] { return player.count("free_instance") > 0; }));
            command.release();  // the command is carried out now, after free_instance
            unloading.join();
            ASSERT_TRUE(unloaded) << "a watcher still runs after free_instance";
        }
    }
}

// The player may free the instance and unload the DLL while the dialog is still open (a player
// that shuts down from its main window: free_instance comes through the dialog's modal loop).
// The module stays, so the dialog's next messages run; Apply there still stores what the dialog
// shows, but starts no watcher. The first dialog pins the module until the process ends (no code
// of the module may give back its last reference), so this case comes last in this program.
TEST(Unload, ADialogLeftOpenAfterFreeInstanceStartsNothing) {
    sim::Player player;
    player.set_store(stored_defaults());
    player.set_playlist({{"one.mp3", 600000}});
    ASSERT_TRUE(player.load(dll_path()));
    player.bind(1);
    player.start_instance();
    player.play(0);
    HWND dialog = player.open_config();
    ASSERT_NE(dialog, nullptr);
    set_box(dialog, IDC_TIME_ENABLE, true);
    const HMODULE module = player.module();

    EXPECT_FALSE(player.unload(0));  // free_instance on the dialog's thread, then FreeLibrary
    click(dialog, IDC_APPLY);        // sent: Apply has run, and made any thread, when it returns

    EXPECT_EQ(player.store()[key("check_time_limit")], 1);
    EXPECT_EQ(player.plugin_threads_running(), 0);
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(gone(dialog));
    ASSERT_TRUE(wait_until([&] { return player.count("config closed") > 0; }));
    EXPECT_EQ(GetModuleHandleW(L"xmp-quarvel.dll"), module) << "pinned by its dialog";
}
