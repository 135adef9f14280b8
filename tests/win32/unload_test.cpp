// The player may unload the DLL at once after free_instance: watcher threads that are still
// finishing their pass keep the module loaded until they have ended, then it goes.
#include "wine_test_support.h"

using namespace quarvel_test;

TEST(Unload, HundredCyclesOfStartFreeAndUnload) {
    sim::Player player;
    player.quiet_positions = true;
    player.set_store({{key("check_time_limit"), 1}, {key("time_limit"), 1000000}});
    player.set_playlist({{"one.mp3", 600000}});
    const std::wstring path = dll_path();
    for (int cycle = 0; cycle < 100; ++cycle) {
        SCOPED_TRACE(cycle);
        std::string error;
        ASSERT_TRUE(player.load(path, &error)) << error;
        ASSERT_NE(player.bind(1), nullptr);
        player.start_instance();
        player.play(0);           // starts the time watcher
        if (cycle % 2) Sleep(2);  // let it get into its passes on every other cycle
        ASSERT_TRUE(player.unload(5000))
            << "module still loaded after its threads should have ended";
        EXPECT_EQ(GetModuleHandleW(L"xmp-quarvel.dll"), nullptr);
    }
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
