// The real configuration dialog in the simulated player, driven with messages as a user's
// clicks and keys would drive it.
#include "wine_test_support.h"

using namespace quarvel_test;

namespace {

class DialogTest : public PluginTest {
  protected:
    void SetUp() override {
        SetUpWithStore(stored_defaults());
        player.quiet_positions = true;
        player.set_playlist({{"song.mp3", 10000}});
    }

    void TearDown() override {
        if (dialog && IsWindow(dialog)) {
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            gone(dialog);
        }
    }

    HWND open() {
        dialog = player.open_config();
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }

    // The song playing at `position`, looping ticked and the section typed, then "Apply".
    void apply_looping(int32_t position, const wchar_t* start, const wchar_t* end) {
        player.play(0);
        player.set_position(position);
        open();
        click(dialog, IDC_LOOP_ENABLE);
        type(dialog, IDC_LOOP_START, start);
        type(dialog, IDC_LOOP_END, end);
        click(dialog, IDC_APPLY);
    }

    // What the player's store holds of the plug-in's section, for "nothing was stored".
    std::map<std::string, int32_t> snapshot() { return player.store(); }

    HWND dialog = nullptr;
};

}  // namespace

QUARVEL_ON_BOTH_TRACK_THREADS(DialogTest);

TEST_P(DialogTest, OpensModallyOverThePlayerWithTheStoredValues) {
    player.set_store({{key("check_time_limit"), 1},
                      {key("time_limit"), -5},
                      {key("subsong_limit"), 1},
                      {key("check_looping"), 0},
                      {key("start_loop_time"), -250},
                      {key("end_loop_time"), -2147483647 - 1}});
    open();
    wchar_t caption[64];
    GetWindowTextW(dialog, caption, 64);
    EXPECT_STREQ(caption, dialog_caption);
    // Over XMPlay's Options window, which the main window owns.
    const HWND options = GetWindow(dialog, GW_OWNER);
    EXPECT_EQ(GetWindow(options, GW_OWNER), player.window());
    EXPECT_FALSE(IsWindowEnabled(options));  // modal

    EXPECT_TRUE(checked(dialog, IDC_TIME_ENABLE));
    EXPECT_EQ(text(dialog, IDC_TIME_LIMIT), L"4294967291");
    EXPECT_TRUE(checked(dialog, IDC_SUBSONGS));
    EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(dialog, IDC_LOOP_START), L"-250");
    EXPECT_EQ(text(dialog, IDC_LOOP_END), L"-2147483648");
}

TEST_P(DialogTest, FeatureBoxesExcludeEachOther) {
    open();
    click(dialog, IDC_LOOP_ENABLE);
    EXPECT_TRUE(checked(dialog, IDC_LOOP_ENABLE));
    click(dialog, IDC_TIME_ENABLE);
    EXPECT_TRUE(checked(dialog, IDC_TIME_ENABLE));
    EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
    click(dialog, IDC_LOOP_ENABLE);
    EXPECT_TRUE(checked(dialog, IDC_LOOP_ENABLE));
    EXPECT_FALSE(checked(dialog, IDC_TIME_ENABLE));
    click(dialog, IDC_LOOP_ENABLE);  // unticking leaves the other alone
    EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
    EXPECT_FALSE(checked(dialog, IDC_TIME_ENABLE));
    click(dialog, IDC_SUBSONGS);
    EXPECT_TRUE(checked(dialog, IDC_SUBSONGS));
}

TEST_P(DialogTest, SetNowTakesTheLivePositionAndResetClearsTheLoopControls) {
    open();
    player.set_position(-1);
    type(dialog, IDC_LOOP_START, L"77");
    click(dialog, IDC_SET_START_NOW);
    EXPECT_EQ(text(dialog, IDC_LOOP_START), L"0");

    player.play(0);
    player.set_position(4321);
    click(dialog, IDC_SET_START_NOW);
    player.set_position(8765);
    click(dialog, IDC_SET_END_NOW);
    EXPECT_EQ(text(dialog, IDC_LOOP_START), L"4321");
    EXPECT_EQ(text(dialog, IDC_LOOP_END), L"8765");

    const auto before = snapshot();
    click(dialog, IDC_LOOP_ENABLE);
    click(dialog, IDC_LOOP_RESET);
    EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(dialog, IDC_LOOP_START), L"0");
    EXPECT_EQ(text(dialog, IDC_LOOP_END), L"0");
    click(dialog, IDCANCEL);
    EXPECT_TRUE(gone(dialog));
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(player.count("store write"), 0u);
}

TEST_P(DialogTest, EscapeAndTheCloseBoxStoreNothing) {
    open();
    type(dialog, IDC_TIME_LIMIT, L"5000");
    click(dialog, IDC_TIME_ENABLE);
    press_key(dialog, VK_ESCAPE);
    EXPECT_TRUE(gone(dialog));

    open();
    EXPECT_EQ(text(dialog, IDC_TIME_LIMIT), L"60");
    click(dialog, IDC_TIME_ENABLE);
    SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(gone(dialog));
    EXPECT_EQ(player.count("store write"), 0u);
    EXPECT_EQ(stored("check_time_limit"), 0);
}

TEST_P(DialogTest, EnterAppliesAndCloses) {
    open();
    click(dialog, IDC_TIME_ENABLE);
    type(dialog, IDC_TIME_LIMIT, L"250");
    SetFocus(nullptr);
    press_key(dialog, VK_RETURN);
    EXPECT_TRUE(gone(dialog));
    EXPECT_EQ(stored("check_time_limit"), 1);
    EXPECT_EQ(stored("time_limit"), 250);

    // The time limit now runs: a song is moved on after 250 ms.
    player.set_real_time();
    player.set_playlist({{"a.mp3", 60000}, {"b.mp3", 60000}});
    player.play(0);
    EXPECT_TRUE(wait_until([&] { return player.count("command key128") >= 1; }));
}

TEST_P(DialogTest, ApplyArmsALoopThatJumpsAtTheEndAndBeforeTheStart) {
    apply_looping(1500, L"1000", L"3000");

    EXPECT_TRUE(IsWindow(dialog));  // Apply keeps the dialog open
    EXPECT_TRUE(checked(dialog, IDC_LOOP_ENABLE));
    EXPECT_EQ(stored("check_looping"), 1);
    EXPECT_EQ(stored("start_loop_time"), 1000);
    EXPECT_EQ(stored("end_loop_time"), 3000);

    player.clear_events();
    ASSERT_TRUE(player.wait_for_positions(20));
    EXPECT_EQ(player.count("message jump"), 0u) << "inside the section";

    player.set_position(3000);
    ASSERT_TRUE(wait_until([&] { return player.count("message jump 1000") >= 1; }));
    EXPECT_EQ(player.position_now(), 1000);

    player.set_position(501);  // 499 before the start: left alone
    player.clear_events();
    ASSERT_TRUE(player.wait_for_positions(20));
    EXPECT_EQ(player.count("message jump"), 0u);
    player.set_position(500);
    ASSERT_TRUE(wait_until([&] { return player.count("message jump 1000") >= 1; }));
}

TEST_P(DialogTest, ApplyCorrectsTheSectionAndRefusesWhatCannotLoop) {
    apply_looping(0, L"12000", L"4294967295");  // the song is 10 s long

    EXPECT_EQ(text(dialog, IDC_LOOP_START), L"0");
    EXPECT_EQ(text(dialog, IDC_LOOP_END), L"0");
    EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
    EXPECT_EQ(stored("check_looping"), 0);
    EXPECT_EQ(stored("start_loop_time"), 0);

    // A limit too large for the player's numbers is kept as the largest one.
    type(dialog, IDC_TIME_LIMIT, L"99999999999");
    click(dialog, IDOK);
    EXPECT_TRUE(gone(dialog));
    EXPECT_EQ(stored("time_limit"), 2147483647);
}

TEST_P(DialogTest, TrackCloseClearsLoopControlsAndUnsavedEdits) {
    apply_looping(1500, L"1000", L"3000");
    type(dialog, IDC_LOOP_END, L"3500");  // not applied

    player.stop();

    EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(dialog, IDC_LOOP_START), L"0");
    EXPECT_EQ(text(dialog, IDC_LOOP_END), L"0");
    EXPECT_EQ(stored("check_looping"), 0);
    EXPECT_EQ(stored("start_loop_time"), 0);
    EXPECT_EQ(stored("end_loop_time"), 0);

    // Looping is over: its watcher has ended, and a new track runs past the old section
    // untouched.
    ASSERT_TRUE(wait_until([&] { return player.plugin_threads_running() == 0; }));
    player.play(0);
    player.set_position(5000);
    EXPECT_EQ(player.count("message jump"), 0u);
}

TEST_P(DialogTest, FreeInstanceEndsLooping) {
    apply_looping(1500, L"1000", L"3000");
    ASSERT_EQ(stored("check_looping"), 1);
    click(dialog, IDOK);
    ASSERT_TRUE(gone(dialog));

    // The dialog pinned the module; the loop watcher ends once free_instance has stopped it.
    player.unload(0);
    EXPECT_TRUE(wait_until([&] { return player.plugin_threads_running() == 0; }))
        << "the loop watcher still runs after free_instance";
}
