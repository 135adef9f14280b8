// The player may unload the DLL at once after free_instance: watcher threads that are still
// finishing their pass keep the module loaded until they have ended, then it goes.
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
        ASSERT_TRUE(sim::watch_rests(player.module(), false));
        ASSERT_NE(player.bind(1), nullptr);
        player.start_instance();
        player.play(0);       // starts the time watcher
        if (n % 2) Sleep(2);  // let it get into its passes on every other cycle
        ASSERT_TRUE(player.unload(5000))
            << "module still loaded after its threads should have ended";
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

    const sim::RestCounts counts = sim::rest_counts();
    EXPECT_EQ(counts.timers_made, 100) << "one timer per watcher thread";
    EXPECT_EQ(counts.timers_open, 0) << "a watcher thread ended without closing its timer";
}

TEST(Unload, ModuleStaysWhileAWatcherFinishesItsPass) {
    sim::Player player;
    player.set_store({{key("check_time_limit"), 1}, {key("time_limit"), 1000000}});
    player.set_playlist({{"one.mp3", 600000}});
    ASSERT_TRUE(player.load(dll_path()));
    player.bind(1);
    player.start_instance();
    // The watcher's position question is held up by the player for 200 ms.
    HANDLE asked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    player.on_event = [&](const sim::Event& e) {
        if (e.what.rfind("message position", 0) == 0 &&
            WaitForSingleObject(asked, 0) != WAIT_OBJECT_0) {
            SetEvent(asked);
            Sleep(200);
        }
    };
    player.play(0);
    ASSERT_EQ(WaitForSingleObject(asked, 5000), WAIT_OBJECT_0);

    HMODULE module = player.module();
    player.record()->free_instance(reinterpret_cast<sim::Instance>(1));
    FreeLibrary(module);  // the player's own reference is gone
    EXPECT_EQ(GetModuleHandleW(L"xmp-quarvel.dll"), module) << "unloaded under a running watcher";
    EXPECT_TRUE(wait_until([] { return GetModuleHandleW(L"xmp-quarvel.dll") == nullptr; }, 5000));
    player.on_event = nullptr;
    CloseHandle(asked);
}

// A watcher's last command may move the player on while it unloads the plug-in: the track
// open that follows must not reach the freed instance, or it would start a watcher that
// nothing stops and the module would never go.
TEST(Unload, WhileTheTimeLimitKeepsMovingThePlayerOn) {
    for (auto thread : {sim::TrackEvents::ui_thread, sim::TrackEvents::playback_thread}) {
        sim::Player player;
        player.quiet_positions = true;
        player.set_track_events(thread);
        player.set_store({{key("check_time_limit"), 1}, {key("time_limit"), 1}});
        player.set_playlist({{"one.mp3", 600000}, {"two.mp3", 600000}});
        // The player takes a moment over each command, and its UI thread one over
        // free_instance: the command is carried out just after the instance was freed.
        player.on_command = [](const std::string&) {
            Sleep(5);
            return false;
        };
        player.on_event = [](const sim::Event& e) {
            if (e.what == "free_instance") Sleep(20);
        };
        for (int cycle = 0; cycle < 20; ++cycle) {
            SCOPED_TRACE(cycle);
            ASSERT_TRUE(player.load(dll_path()));
            ASSERT_NE(player.bind(1), nullptr);
            player.start_instance();
            player.play(0);
            wait_until([&] { return player.count("command key128") > 0; });
            ASSERT_TRUE(player.unload(3000)) << "a watcher still runs after free_instance";
        }
    }
}
