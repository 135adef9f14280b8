#include "watchers/track_events.h"

#include <thread>

#include "dialog/apply.h"
#include "dialog/dialog_actions.h"
#include "settings/settings.h"
#include "test_support.h"
#include "watchers/watcher_control.h"

namespace {

// A track event as the plug-in's entry delivers it.
void new_track(const char* file) {
    quarvel::new_track(file, quarvel::clear_looping_in_open_dialogs);
}

struct TagCase {
    const char* name;
    std::map<int32_t, std::string> tags;
    bool has_subsongs;
    Lines calls;
};

class TrackOpened : public PlayerTest, public ::testing::WithParamInterface<TagCase> {};

}  // namespace

TEST_P(TrackOpened, WorksOutSubsongsFromTheTags) {
    const TagCase& c = GetParam();
    player.tags = c.tags;
    quarvel::has_subsongs = !c.has_subsongs;  // left over from the previous track

    new_track("song.mod");

    EXPECT_EQ(quarvel::has_subsongs.load(), c.has_subsongs);
    EXPECT_EQ(player.log(), c.calls);
    EXPECT_EQ(player.outstanding_texts(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, TrackOpened,
    ::testing::Values(
        TagCase{"FirstTagZero", {{-5, "0"}, {-6, "4"}}, false, {"tag -5", "release 0"}},
        TagCase{"FirstTagCounts", {{-5, "12"}}, true, {"tag -5", "release 12"}},
        TagCase{"SecondTagCounts",
                {{-6, "3 subsongs"}},
                true,
                {"tag -5", "tag -6", "release 3 subsongs"}},
        TagCase{"SecondTagZero", {{-6, "0"}}, false, {"tag -5", "tag -6", "release 0"}},
        TagCase{"NoTags", {}, false, {"tag -5", "tag -6"}},
        TagCase{"EmptyTextCounts", {{-5, ""}}, true, {"tag -5", "release "}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerTest, TrackOpenStartsTheTimeWatcherOnlyWhenEnabled) {
    quarvel::set(quarvel::settings.time_limit, 1000000);
    new_track("a.mp3");
    EXPECT_FALSE(quarvel::time_watch_running());

    quarvel::set(quarvel::settings.check_time_limit, 1);
    new_track("b.mp3");
    new_track("c.mp3");
    EXPECT_TRUE(quarvel::time_watch_running());
    EXPECT_EQ(fake::live_watcher_threads(), 1);
}

TEST_F(PlayerTest, TrackCloseClearsLoopingButKeepsSettingsAndTheTimeWatcher) {
    quarvel::set(quarvel::settings.start_loop_time, 1000);
    quarvel::set(quarvel::settings.end_loop_time, 3000);
    quarvel::set(quarvel::settings.time_limit, 1000000);
    quarvel::has_subsongs = true;
    start_loop_watcher();
    quarvel::start_time_watcher();
    player.log_enabled = false;  // the watchers' own questions are not of interest here
    player.store = {{"check_looping", 1}, {"start_loop_time", 1000}, {"end_loop_time", 3000}};
    player.log_enabled = true;
    player.clear_log();

    new_track(nullptr);

    EXPECT_EQ(calls_but_positions(),
              (Lines{"write check_looping=0", "write start_loop_time=0", "write end_loop_time=0"}));
    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_TRUE(quarvel::time_watch_running());
    EXPECT_EQ(quarvel::get(quarvel::settings.start_loop_time), 1000);
    EXPECT_EQ(quarvel::get(quarvel::settings.end_loop_time), 3000);
    EXPECT_TRUE(quarvel::has_subsongs.load());
}

TEST_F(PlayerTest, TrackCloseResetsTheOpenDialogFirst) {
    fake::Dialog dialog;
    dialog.boxes = {{1000, true}, {200, false}};
    dialog.texts = {{1100, L"1234"}, {1200, L"98765"}, {300, L"60"}};
    fake::open_dialog = &dialog;

    new_track(nullptr);

    EXPECT_EQ(player.log(),
              (Lines{"reset sent", "check 1000=0", "text 1100=0", "text 1200=0",
                     "write check_looping=0", "write start_loop_time=0", "write end_loop_time=0"}));
    EXPECT_FALSE(dialog.checked(1000));
    EXPECT_EQ(dialog.text(1100), "0");
    EXPECT_EQ(dialog.text(1200), "0");
    EXPECT_EQ(dialog.text(300), "60");
}

TEST_F(PlayerTest, TrackOpenGivesTheTagBackBeforeStartingTheWatcher) {
    quarvel::set(quarvel::settings.check_time_limit, 1);
    quarvel::set(quarvel::settings.time_limit, 1000000);
    player.tags = {{-5, "3"}};
    const auto hook = fake::on_watcher_start.install([&] { player.record("watcher started"); });

    new_track("suite.sid");

    EXPECT_EQ(calls_but_positions(), (Lines{"tag -5", "release 3", "watcher started"}));
}

TEST_F(PlayerTest, TrackCloseLeavesTheRestOfAResetToTheBusyDialog) {
    fake::Dialog dialog;
    dialog.boxes = {{1000, true}};
    dialog.texts = {{1100, L"1234"}, {1200, L"5678"}};
    dialog.answers = false;  // its thread is busy
    fake::open_dialog = &dialog;
    start_loop_watcher();
    player.log_enabled = false;
    player.store = {{"check_looping", 1}};
    player.log_enabled = true;
    player.clear_log();

    new_track(nullptr);

    EXPECT_EQ(calls_but_positions(),
              (Lines{"reset sent (no answer)", "reset posted", "write check_looping=0",
                     "write start_loop_time=0", "write end_loop_time=0"}));
    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_EQ(dialog.text(1200), "5678");

    // Its thread free again, whichever handler of the dialog runs first resets it first, and
    // the reset is owed only once.
    ASSERT_EQ(dialog.resets_posted, 1);
    player.position = 700;
    quarvel::set_field_to_position(&dialog, 1200);
    EXPECT_FALSE(dialog.checked(1000));
    EXPECT_EQ(dialog.text(1100), "0");
    EXPECT_EQ(dialog.text(1200), "700");
    player.clear_log();
    quarvel::set_field_to_position(&dialog, 1100);
    EXPECT_EQ(calls_but_positions(), (Lines{"text 1100=700"}));
}

// A player may deliver two closes at once, on two threads. While either is under way, Apply
// arms no looping, even when the other has already stopped the loop watcher.
TEST_F(PlayerTest, OverlappingTrackClosesKeepApplyFromArmingLooping) {
    player.playing = true;
    player.length = 10000;
    fake::Dialog dialog;
    dialog.boxes = {{200, false}, {400, false}, {1000, true}};
    dialog.texts = {{300, L"60"}, {1100, L"1000"}, {1200, L"5000"}};
    CallHolds holds(player, {"write start_loop_time=0", "write end_loop_time=0"});

    std::thread first([] { new_track(nullptr); });
    holds.wait_until_held(0);
    std::thread second([] { new_track(nullptr); });
    holds.wait_until_held(1);
    quarvel::apply_dialog(&dialog);  // both closes under way
    holds.release(1);
    second.join();
    holds.release(0);
    first.join();

    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_EQ(player.stored("check_looping"), 0);
    EXPECT_FALSE(dialog.checked(1000));
}

namespace {

// Apply clearing the time limit's box on the dialog's thread while a track opens on another
// one, at a moment of the open's start of the time watcher.
class TrackOpenAgainstApply : public PlayerTest, public ::testing::WithParamInterface<bool> {
  protected:
    static void apply_with_time_limit_off() {
        std::thread([] {
            fake::Dialog dialog;
            dialog.boxes = {{200, false}, {400, false}, {1000, false}};
            dialog.texts = {{300, L"50"}, {1100, L"0"}, {1200, L"0"}};
            quarvel::apply_dialog(&dialog);
        }).join();
    }
};

}  // namespace

TEST_P(TrackOpenAgainstApply, LeavesTheTimeWatcherAsTheBoxSays) {
    const bool after_thread_start = GetParam();
    quarvel::set(quarvel::settings.check_time_limit, 1);
    quarvel::set(quarvel::settings.time_limit, 50);
    player.position = 1000;  // past the limit: any pass would move the player on
    player.playlist_length = 3;
    bool applied = false;
    const auto apply_once = [&] {
        if (!applied) apply_with_time_limit_off();
        applied = true;
    };
    const auto hook =
        after_thread_start
            ? fake::on_thread_started.install([&](const std::function<void()>&) { apply_once(); })
            : fake::on_watcher_start.install(apply_once);

    new_track("song.mp3");
    fake::wait_for_watcher_threads();

    ASSERT_TRUE(applied);
    EXPECT_EQ(quarvel::get(quarvel::settings.check_time_limit), 0);
    EXPECT_FALSE(quarvel::time_watch_running());
    EXPECT_TRUE(player.log_of("command").empty());
}

INSTANTIATE_TEST_SUITE_P(Moments, TrackOpenAgainstApply, ::testing::Values(false, true),
                         [](const auto& info) {
                             return info.param ? "AfterTheThreadStart" : "BeforeTheThreadStart";
                         });
