// A player that calls from more than one thread: track closes delivered while the dialog's
// thread is busy or inside Apply. Each interleaving is made to happen with the simulated
// player's hold points, never waited for.
#include <cstdio>
#include <thread>

#include "plugin_clock.h"
#include "thread_watch.h"
#include "wine_test_support.h"

using namespace quarvel_test;

namespace {

class Threads : public PluginTest {
  protected:
    void SetUp() override {
        SetUpWithStore(stored_defaults());
        player.quiet_positions = true;
        player.set_playlist({{"song.mp3", 600000}, {"next.mp3", 600000}});
    }

    void TearDown() override {
        sim::hold_after_next_thread_start(0);
        player.delay_sent_messages(0);
        player.release_ui_thread();
        if (dialog && IsWindow(dialog)) {
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            gone(dialog);
        }
    }

    // The song playing at 1500 ms, the dialog open, looping ticked and a section typed.
    void ready_to_loop(const wchar_t* start, const wchar_t* end) {
        player.play(0);
        player.set_position(1500);
        dialog = player.open_config();
        ASSERT_NE(dialog, nullptr);
        set_box(dialog, IDC_LOOP_ENABLE, true);
        type(dialog, IDC_LOOP_START, start);
        type(dialog, IDC_LOOP_END, end);
    }

    // Whether every thread the plug-in started has ended (the wait is only a guard).
    bool plugin_threads_ended() {
        return wait_until([&] { return player.plugin_threads_running() == 0; });
    }

    // Jumps the player received after the last track close.
    size_t jumps_after_the_close() {
        size_t jumps = 0;
        for (auto& e : player.events()) {
            if (e.what == "track closed") jumps = 0;
            jumps += e.what.rfind("message jump", 0) == 0;
        }
        return jumps;
    }

    HWND dialog = nullptr;
};

// Moments of Apply at which a track close (and the next track's open) comes: while the
// player answers one of Apply's calls. The dialog's thread answers nothing meanwhile.
struct Moment {
    const char* name;
    const char* hold_at;
};
const Moment moments[] = {
    {"LengthQuestion", "message length"},
    {"PlayingQuestion", "status playing"},
    {"StoreWriteOfLoopingOn", "store write QUARVEL/check_looping = 1"},
};

}  // namespace

QUARVEL_ON_BOTH_TRACK_THREADS(Threads);

// Looping belongs to the track that was playing when Apply began. The close runs inside
// Apply, and Apply's thread is held for a while right after any thread it starts, as a
// pre-empted thread is: no loop pass may follow the close, whatever the moment.
TEST_P(Threads, NoLoopPassFollowsACloseThatCameDuringApply) {
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.name);
        ready_to_loop(L"20000", L"30000");  // the next track, at 0, lies before the section
        player.clear_events();
        player.hold_once(moment.hold_at, [&] { player.play_while_busy(1); });
        sim::hold_after_next_thread_start(60);

        click(dialog, IDC_APPLY);
        player.sync_ui_thread();  // what the close left for the dialog to do is done

        ASSERT_EQ(player.count("held at"), 1u);
        ASSERT_TRUE(plugin_threads_ended()) << "a loop watcher still runs after the close";
        EXPECT_EQ(jumps_after_the_close(), 0u);
        EXPECT_EQ(stored("check_looping"), 0);
        EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
        EXPECT_EQ(text(dialog, IDC_LOOP_START), L"0");

        sim::hold_after_next_thread_start(0);
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(gone(dialog));
    }
}

// A close on the playback thread while the dialog's thread is busy: the close returns without
// waiting for it, and the dialog is reset all the same once its thread is free, before it
// handles any input that came later. Here that input is Enter, which would otherwise arm the
// closed track's section on the next one.
class BusyDialog : public Threads {};
INSTANTIATE_TEST_SUITE_P(TrackThreads, BusyDialog,
                         ::testing::Values(sim::TrackEvents::playback_thread),
                         quarvel_test::track_thread_name);

TEST_P(BusyDialog, ACloseResetsItAllTheSameBeforeLaterInput) {
    ready_to_loop(L"1234", L"5678");
    click(dialog, IDC_APPLY);
    ASSERT_EQ(stored("check_looping"), 1);

    player.hold_ui_thread();  // as a player loading a large file
    player.play(1);           // returns although the dialog's thread answers nothing
    const bool returned_while_busy = player.ui_busy();
    std::printf(
        "a track close held the playback thread %.1f ms while the dialog's thread was "
        "busy\n",
        player.last_close_ms());
    ASSERT_TRUE(returned_while_busy);
    EXPECT_EQ(stored("check_looping"), 0);
    EXPECT_EQ(stored("start_loop_time"), 0);
    EXPECT_EQ(stored("end_loop_time"), 0);
    press_key(dialog, VK_RETURN);  // the user's next input: OK
    player.release_ui_thread();

    ASSERT_TRUE(gone(dialog));
    EXPECT_EQ(stored("check_looping"), 0) << "OK armed the closed track's section";
    EXPECT_EQ(stored("start_loop_time"), 0);
    EXPECT_EQ(stored("end_loop_time"), 0);
    EXPECT_TRUE(plugin_threads_ended());
    EXPECT_EQ(jumps_after_the_close(), 0u);
}

// A dialog whose thread answers each message from another thread 90 ms late, within the close's
// bound of 100 ms: the close waits on it once, not once per change of the reset.
TEST_P(BusyDialog, ACloseWaitsOnASlowDialogOnce) {
    ready_to_loop(L"1234", L"5678");
    player.delay_sent_messages(90);
    player.play(1);
    const long waited_on = player.delayed_messages();
    std::printf(
        "a track close held the playback thread %.1f ms with a dialog answering 90 ms late\n",
        player.last_close_ms());
    player.delay_sent_messages(0);
    EXPECT_LE(waited_on, 1);
    EXPECT_LT(player.last_close_ms(), 5000.0);  // a guard; the count above is the test
    player.sync_ui_thread();
    EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(dialog, IDC_LOOP_START), L"0");
    EXPECT_EQ(text(dialog, IDC_LOOP_END), L"0");
}

// An automation tool's click on Apply, sent after a close that found the dialog busy, is taken
// before the reset the close posted: Apply still must not arm the closed track's section.
TEST_P(BusyDialog, AClickSentAfterABusyCloseArmsNothing) {
    ready_to_loop(L"1234", L"5678");  // the next track, at 0, lies before the section
    click(dialog, IDC_APPLY);
    ASSERT_EQ(stored("check_looping"), 1);

    player.hold_ui_thread();
    player.play(1);
    ASSERT_TRUE(player.ui_busy());
    // Queued as a sent message at once, before the dialog's thread is free again.
    SendMessageCallbackW(GetDlgItem(dialog, IDC_APPLY), BM_CLICK, 0, 0, nullptr, 0);
    player.release_ui_thread();
    player.sync_ui_thread();

    EXPECT_EQ(stored("check_looping"), 0) << "the click armed the closed track's section";
    EXPECT_EQ(stored("start_loop_time"), 0);
    EXPECT_EQ(stored("end_loop_time"), 0);
    EXPECT_FALSE(checked(dialog, IDC_LOOP_ENABLE));
    ASSERT_TRUE(plugin_threads_ended());
    EXPECT_EQ(jumps_after_the_close(), 0u);
}

// A window of the player's own process with the dialog's caption that is not this plug-in's
// dialog (an older copy's, say): it does not answer the reset message with the plug-in's mark,
// so the close clears its looping controls directly. It answers that message 40 ms late on the
// plug-in's clock: the three changes still share the 60 ms left of the close's one wait.
namespace {
WNDPROC copys_procedure = nullptr;
LRESULT CALLBACK answer_late(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message >= WM_APP) sim::advance_plugin_clock(40);  // the late answer to its message
    return CallWindowProcW(copys_procedure, w, message, wparam, lparam);
}
}  // namespace

TEST_P(Threads, ACloseClearsAnotherCopysDialogDirectly) {
    const sim::HeldPluginClock clock(player.module());
    ASSERT_TRUE(clock.held());
    player.play(0);
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<HWND> other{nullptr};
    std::thread copy([&] {
        HWND w = CreateWindowExW(0, L"#32770", dialog_caption, WS_OVERLAPPED | WS_CAPTION, 0, 0,
                                 300, 150, nullptr, nullptr, nullptr, nullptr);
        const int ids[] = {IDC_LOOP_ENABLE, IDC_LOOP_START, IDC_LOOP_END};
        for (int id : ids)
            CreateWindowExW(0, id == IDC_LOOP_ENABLE ? L"BUTTON" : L"EDIT", L"4444",
                            WS_CHILD | (id == IDC_LOOP_ENABLE ? BS_AUTOCHECKBOX : 0), 0, 0, 50, 20,
                            w, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
        CheckDlgButton(w, IDC_LOOP_ENABLE, BST_CHECKED);
        copys_procedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(answer_late)));
        other = w;
        SetEvent(made);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        DestroyWindow(w);
    });
    ASSERT_EQ(WaitForSingleObject(made, 10000), WAIT_OBJECT_0);

    player.play(1);

    EXPECT_FALSE(checked(other, IDC_LOOP_ENABLE));
    EXPECT_EQ(text(other, IDC_LOOP_START), L"0");
    EXPECT_EQ(text(other, IDC_LOOP_END), L"0");
    PostThreadMessageW(GetWindowThreadProcessId(other, nullptr), WM_QUIT, 0, 0);
    copy.join();
    CloseHandle(made);
}

// A player that offers its configuration from two places can have two dialogs open: a close
// clears looping in both, and Apply in the other one then arms nothing.
TEST_P(Threads, ACloseClearsEveryOpenDialog) {
    ready_to_loop(L"20000", L"30000");
    std::thread second_place(
        [&] { player.record()->config(reinterpret_cast<sim::Instance>(1), nullptr); });
    HWND other = nullptr;
    ASSERT_TRUE(wait_until([&] {
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, nullptr, dialog_caption));)
            if (w != dialog) other = w;
        return other != nullptr;
    }));
    set_box(other, IDC_LOOP_ENABLE, true);
    type(other, IDC_LOOP_START, L"20000");
    type(other, IDC_LOOP_END, L"30000");

    player.play(1);

    for (HWND w : {dialog, other}) {
        EXPECT_FALSE(checked(w, IDC_LOOP_ENABLE));
        EXPECT_EQ(text(w, IDC_LOOP_START), L"0");
        EXPECT_EQ(text(w, IDC_LOOP_END), L"0");
    }
    click(other, IDC_APPLY);
    EXPECT_EQ(stored("check_looping"), 0);
    EXPECT_TRUE(plugin_threads_ended());
    SendMessageW(other, WM_COMMAND, IDCANCEL, 0);
    second_place.join();
}
