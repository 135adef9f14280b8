// The time limit from end to end: the player plays in real time and the plug-in moves it on.
#include <thread>

#include "plugin_clock.h"
#include "wine_test_support.h"

using namespace quarvel_test;

namespace {

class TimeLimitPlay : public PluginTest {
  protected:
    void SetUp() override {
        SetUpWithStore({{key("check_time_limit"), 1},
                        {key("time_limit"), limit_ms},
                        {key("subsong_limit"), 0}});
    }

    // The first `n` commands the player received (fewer if it received fewer).
    std::vector<std::string> first_commands(size_t n) {
        std::vector<std::string> out;
        for (auto& e : player.events("command "))
            if (out.size() < n) out.push_back(e.what.substr(8));
        return out;
    }

    static constexpr int32_t limit_ms = 100;
};

}  // namespace

QUARVEL_ON_BOTH_TRACK_THREADS(TimeLimitPlay);
QUARVEL_ON_BOTH_TRACK_THREADS(PluginTest);

// The player acts on "key128" some 300 ms later, its position standing past the limit
// meanwhile: one command all the same for each crossing.
TEST_P(TimeLimitPlay, PlaylistMovesOnAtTheLimitWithOneCommandEachTime) {
    player.quiet_positions = true;
    player.set_playlist({{"one.mp3", 60000}, {"two.mp3", 60000}, {"three.mp3", 60000}});
    player.play(0);

    ASSERT_TRUE(wait_until([&] { return player.count("track opened") >= 4; }));
    player.unload();

    std::vector<std::string> opened, sent;
    for (const auto& e : player.events()) {
        if (e.what.rfind("track opened", 0) == 0) {
            if (!opened.empty()) {
                EXPECT_EQ(sent.size(), 1u) << "before " << e.what;
            }
            opened.push_back(e.what);
            sent.clear();
        } else if (e.what.rfind("command ", 0) == 0 && opened.size() < 4) {
            sent.push_back(e.what);
            EXPECT_EQ(e.what, "command key128");
            // Past the limit (how soon after it is the benchmark's business, not a test's).
            EXPECT_GT(e.track_ms, limit_ms);
            EXPECT_NE(e.thread, GetWindowThreadProcessId(player.window(), nullptr));
        }
    }
    ASSERT_GE(opened.size(), 4u);
    EXPECT_EQ(opened[1], "track opened: two.mp3");
    EXPECT_EQ(opened[2], "track opened: three.mp3");
    EXPECT_EQ(opened[3], "track opened: one.mp3");
}

TEST_P(TimeLimitPlay, SingleEntryRestarts) {
    player.quiet_positions = true;
    player.set_playlist({{"only.mp3", 60000}});
    player.play(0);

    // A stop then play restarts the entry, without track events.
    ASSERT_TRUE(wait_until([&] { return player.count("-> play: the entry again") >= 2; }));
    player.unload();
    EXPECT_EQ(first_commands(4), (std::vector<std::string>{"key81", "key80", "key81", "key80"}));
    EXPECT_EQ(player.count("track opened"), 1u);
}

TEST_P(TimeLimitPlay, SubsongsAreSteppedWhenLimitedPerSubsong) {
    player.set_store(
        {{key("check_time_limit"), 1}, {key("time_limit"), limit_ms}, {key("subsong_limit"), 1}});
    player.start_instance();  // load the changed settings
    player.quiet_positions = true;
    player.set_playlist({{"suite.sid", 600000, 3}, {"next.mp3", 60000}});
    player.play(0);

    ASSERT_TRUE(wait_until([&] { return player.count("track opened: next.mp3") >= 1; }));
    player.unload();
    // Two steps work; the third finds no further subsong and the playlist moves on.
    EXPECT_EQ(first_commands(4), (std::vector<std::string>{"key86", "key86", "key86", "key128"}));
    EXPECT_EQ(player.count("tag -5 -> \"3\""), 1u);
    EXPECT_EQ(player.count("release \"3\""), 1u);
}

TEST_P(TimeLimitPlay, SubsongTrackIsNotLimitedWithoutTheOption) {
    player.quiet_positions = true;
    player.set_playlist({{"suite.sid", 600000, 3}, {"next.mp3", 60000}});
    player.play(0);
    player.set_position(3 * limit_ms);
    ASSERT_TRUE(player.wait_for_positions(50)) << "the watcher makes its passes";
    EXPECT_EQ(player.count("command "), 0u);
}

// A stopped player that reports a position past the limit is not moved on: nothing plays.
TEST_P(TimeLimitPlay, TimeWatcherOutlivesTrackCloseAndStopsAtFreeInstance) {
    player.quiet_positions = true;
    player.set_playlist({{"one.mp3", 60000}, {"two.mp3", 60000}});
    player.play(0);
    player.stop();
    player.set_position(5000);
    ASSERT_TRUE(player.wait_for_positions(50)) << "the watcher makes its passes after the close";
    EXPECT_EQ(player.count("command "), 0u);
    ASSERT_TRUE(player.unload());
}

// The user stops, seeks back or closes the player just before the limit: meanwhile XMPlay
// answers a position past the limit (held there until the watcher has made its passes), but
// says that it does not play. Nothing is sent: a Stop stays stopped, a seek plays on.
TEST_P(TimeLimitPlay, AStopSeekOrCloseJustBeforeTheLimitSendsNothing) {
    player.quiet_positions = true;
    player.set_playlist({{"one.mp3", 60000}, {"two.mp3", 60000}});
    for (const std::string action : {"Stop", "seek", "close"}) {
        SCOPED_TRACE(action);
        player.play(0);
        player.set_position(limit_ms - 40);
        HWND dialog = action == "close" ? player.open_config() : nullptr;
        HeldCall ahead(player, action == "seek" ? "output plays again" : "output stopped");
        std::thread user([&] {
            if (action == "Stop") player.press_stop();
            if (action == "seek") player.seek(0);
            if (action == "close") player.quit_with_dialog_open(dialog);
        });
        ASSERT_TRUE(ahead.reached());
        EXPECT_GT(player.position_now(), limit_ms) << "the position runs ahead";
        EXPECT_TRUE(player.wait_for_positions(50)) << "the watcher makes its passes meanwhile";
        ahead.release();
        user.join();
        if (action != "close") {
            EXPECT_TRUE(player.wait_for_positions(50));
        }
        EXPECT_EQ(player.position_now(), action == "close" ? -1 : 0);
        EXPECT_EQ(player.count("command "), 0u);
    }
    EXPECT_EQ(player.count("track opened: two.mp3"), 0u);
    EXPECT_EQ(player.count("free_instance"), 1u);
}

// Track close resets only this player's dialog; a window of another program with the same
// caption and control numbers is left alone. The close's bound runs on the plug-in's clock,
// which stands still: a busy machine does not cut the reset short.
TEST_P(PluginTest, TrackCloseResetsOnlyThisProcessesDialog) {
    const sim::HeldPluginClock clock(player.module());
    ASSERT_TRUE(clock.held());
    // A window of this process with the dialog's looping controls, ticked and filled.
    const auto window = [](const std::wstring& caption) {
        HWND w =
            CreateWindowExW(0, L"#32770", caption.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE,
                            0, 0, 300, 150, nullptr, nullptr, nullptr, nullptr);
        for (int id : {IDC_LOOP_ENABLE, IDC_LOOP_START, IDC_LOOP_END})
            CreateWindowExW(0, id == IDC_LOOP_ENABLE ? L"BUTTON" : L"EDIT", L"1234",
                            WS_CHILD | (id == IDC_LOOP_ENABLE ? BS_AUTOCHECKBOX : 0), 0, 0, 90, 20,
                            w, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
        CheckDlgButton(w, IDC_LOOP_ENABLE, BST_CHECKED);
        return w;
    };
    HWND mine = window(dialog_caption);
    // Its caption begins with the dialog's, but goes on: not the dialog.
    HWND longer = window(std::wstring(dialog_caption) + L" (2)");

    // The other program's window comes later and so first in the search.
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"quarvel-caption-ready");
    std::wstring command = L"\"" + sim::program_directory() + L"caption_window.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION other{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &other));
    ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
    HWND theirs = nullptr;
    ASSERT_TRUE(wait_until([&] {
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, nullptr, dialog_caption));) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == other.dwProcessId) theirs = w;
        }
        return theirs != nullptr;
    }));

    player.set_playlist({{"one.mp3", 60000}});
    player.play(0);
    player.stop();

    EXPECT_FALSE(checked(mine, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(mine, IDC_LOOP_START), L"0");
    EXPECT_EQ(text(mine, IDC_LOOP_END), L"0");
    EXPECT_TRUE(checked(theirs, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(theirs, IDC_LOOP_START), L"4444");
    EXPECT_EQ(text(theirs, IDC_LOOP_END), L"5555");
    EXPECT_TRUE(checked(longer, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(longer, IDC_LOOP_END), L"1234");
    EXPECT_EQ(stored("check_looping"), 0);

    // Only theirs open: still untouched.
    DestroyWindow(mine);
    player.play(0);
    player.stop();
    EXPECT_TRUE(checked(theirs, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(theirs, IDC_LOOP_START), L"4444");

    TerminateProcess(other.hProcess, 0);
    WaitForSingleObject(other.hProcess, 5000);
    CloseHandle(other.hProcess);
    CloseHandle(other.hThread);
    CloseHandle(ready);
}
