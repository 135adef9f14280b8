#include "dialog/apply.h"

#include <cctype>
#include <thread>

#include "dialog/dialog_actions.h"
#include "settings/settings.h"
#include "test_support.h"
#include "watchers/track_events.h"
#include "watchers/watcher_control.h"

using quarvel::get;
using quarvel::settings;

namespace {

class ApplyTest : public PlayerTest {
  protected:
    void SetUp() override {
        PlayerTest::SetUp();
        player.log_enabled = false;  // watchers started here keep asking; not of interest
    }

    // The dialog as the user left it.
    void fill(bool time_box, const wchar_t* limit, bool subsongs, bool loop_box,
              const wchar_t* start, const wchar_t* end) {
        dialog.boxes = {{200, time_box}, {400, subsongs}, {1000, loop_box}};
        dialog.texts = {{300, limit}, {1100, start}, {1200, end}};
    }

    void playing(int32_t length) {
        player.length = length;
        player.playing = length >= 0;
    }

    void apply() {
        player.log_enabled = true;
        quarvel::apply_dialog(&dialog);
        player.log_enabled = false;
    }

    fake::Dialog dialog;
};

}  // namespace

TEST_F(ApplyTest, ArmsLoopingInTheExactOrder) {
    playing(180000);
    fill(false, L"60", false, true, L"1000", L"5000");

    apply();

    EXPECT_EQ(calls_but_positions(),
              (Lines{"write check_time_limit=0", "write time_limit=60", "write subsong_limit=0",
                     "length", "text 1100=1000", "write start_loop_time=1000", "text 1200=5000",
                     "write end_loop_time=5000", "is_playing", "write check_looping=1"}));
    EXPECT_TRUE(quarvel::loop_watch_running());
    EXPECT_FALSE(quarvel::time_watch_running());
    EXPECT_EQ(get(settings.start_loop_time), 1000);
    EXPECT_EQ(get(settings.end_loop_time), 5000);
    EXPECT_TRUE(dialog.checked(1000));
}

namespace {

struct SectionCase {
    const char* name;
    int32_t length;  // -1: nothing playing
    const wchar_t* start;
    const wchar_t* end;
    int32_t stored_start;
    int32_t stored_end;
    bool armed;
    bool playing = true;   // with no length answered nothing plays anyway
    int32_t seconds = -1;  // XMPlay's answer in whole seconds (its length in ms is -1)
};

class ApplySection : public ApplyTest, public ::testing::WithParamInterface<SectionCase> {};

}  // namespace

TEST_P(ApplySection, CorrectsShowsStoresAndArmsOrRefuses) {
    const SectionCase& c = GetParam();
    playing(c.length);
    player.seconds = c.seconds;
    player.playing = c.playing && (c.length >= 0 || c.seconds >= 0);
    fill(false, L"60", false, true, c.start, c.end);

    apply();

    EXPECT_EQ(player.stored("start_loop_time"), c.stored_start);
    EXPECT_EQ(player.stored("end_loop_time"), c.stored_end);
    EXPECT_EQ(get(settings.start_loop_time), c.stored_start);
    EXPECT_EQ(get(settings.end_loop_time), c.stored_end);
    EXPECT_EQ(dialog.text(1100), std::to_string(c.stored_start));
    EXPECT_EQ(dialog.text(1200), std::to_string(c.stored_end));
    EXPECT_EQ(player.stored("check_looping"), c.armed ? 1 : 0);
    EXPECT_EQ(dialog.checked(1000), c.armed);
    EXPECT_EQ(quarvel::loop_watch_running(), c.armed);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, ApplySection,
    ::testing::Values(
        SectionCase{"Usable", 10000, L"1000", L"5000", 1000, 5000, true},
        SectionCase{"StartPastTheEnd", 10000, L"12000", L"5000", 0, 5000, false},
        SectionCase{"StartAtTheEnd", 10000, L"10000", L"5000", 0, 5000, false},
        SectionCase{"EndPastTheEnd", 10000, L"1000", L"10000", 1000, 1000, false},
        SectionCase{"EndBeforeStart", 10000, L"5000", L"1000", 5000, 5000, false},
        SectionCase{"BothAtTheLastMillisecond", 10000, L"9999", L"9999", 9999, 9999, false},
        SectionCase{"StartAtZero", 10000, L"0", L"5000", 0, 5000, false},
        SectionCase{"UsableButNothingPlays", 10000, L"1000", L"5000", 1000, 5000, false, false},
        SectionCase{"LongTextOfLeadingZeros", 10000,
                    L"0000000000000000000000000000000000000000000000000000000000000001000", L"5000",
                    1000, 5000, true},
        // Exactly as long as the buffer a field is first read into: read again, whole.
        SectionCase{"TextAsLongAsTheFirstBuffer", 10000,
                    L"0000000000000000000000000000000000000000000000000000000000001234", L"5000",
                    1234, 5000, true},
        SectionCase{"EmptyFields", 10000, L"", L"", 0, 0, false},
        SectionCase{"NothingPlaying", -1, L"2147483647", L"2147483647", 0, 0, false},
        // Numbers above 2147483647 would wrap to negative times: they lie beyond any end.
        SectionCase{"WrappedStartNothingPlaying", -1, L"4294967294", L"5", 0, 0, false},
        SectionCase{"WrappedStartWhilePlaying", 10000, L"4294967294", L"5000", 0, 5000, false},
        SectionCase{"WrappedEnd", 10000, L"1000", L"4294967295", 1000, 1000, false},
        SectionCase{"HugeNumbers", 10000, L"99999999999", L"99999999999", 0, 0, false},
        SectionCase{"NegativeShownByAnEarlierVersion", 10000, L"-250", L"5000", 0, 5000, false},
        // XMPlay answers -1 in milliseconds and tells whole seconds: 10 s lasts up to 10999 ms.
        SectionCase{"ArmedOnALengthInSeconds", -1, L"1000", L"5000", 1000, 5000, true, true, 10},
        SectionCase{"EndInTheLastPartialSecondKept", -1, L"1000", L"10998", 1000, 10998, true, true,
                    10},
        SectionCase{"EndPastTheLastSecond", -1, L"1000", L"10999", 1000, 1000, false, true, 10},
        SectionCase{"StartPastTheEndInSeconds", -1, L"11000", L"5000", 0, 5000, false, true, 10},
        // A length of 0 ms is a length: no reason to ask for seconds.
        SectionCase{"ALengthOfZero", 0, L"1000", L"5000", 0, 0, false, true, 10},
        SectionCase{"SecondsBeyondTheLargestTime", -1, L"1000", L"2147483646", 1000, 2147483646,
                    true, true, 2147483}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplyTest, TimeLimitBoxStartsTheTimeWatcherAndStopsLooping) {
    start_loop_watcher();
    fill(true, L"90000", true, false, L"0", L"0");

    apply();

    EXPECT_TRUE(quarvel::time_watch_running());
    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_EQ(player.stored("check_time_limit"), 1);
    EXPECT_EQ(player.stored("time_limit"), 90000);
    EXPECT_EQ(player.stored("subsong_limit"), 1);
    EXPECT_EQ(get(settings.check_time_limit), 1);
    EXPECT_EQ(get(settings.time_limit), 90000);
    EXPECT_EQ(get(settings.subsong_limit), 1);
    EXPECT_TRUE(player.log_of("is_playing").empty());  // asked only when looping is wanted
}

TEST_F(ApplyTest, NewTimeWatcherSeesTheNewLimitFromItsFirstPass) {
    quarvel::set(settings.time_limit, 5);
    quarvel::set(settings.subsong_limit, 0);
    fill(true, L"250000", true, false, L"0", L"0");
    int32_t limit_at_start = -1;
    int32_t subsongs_at_start = -1;
    auto hook = fake::on_watcher_start.install([&] {
        limit_at_start = get(settings.time_limit);
        subsongs_at_start = get(settings.subsong_limit);
    });

    apply();
    hook.reset();

    EXPECT_EQ(limit_at_start, 250000);
    EXPECT_EQ(subsongs_at_start, 1);
}

TEST_F(ApplyTest, BothBoxesTickedArmedLoopingWins) {
    playing(10000);
    fill(true, L"60", false, true, L"1000", L"2000");

    apply();

    EXPECT_TRUE(quarvel::loop_watch_running());
    EXPECT_FALSE(quarvel::time_watch_running());
    EXPECT_EQ(player.stored("check_time_limit"), 1);
    EXPECT_EQ(get(settings.check_time_limit), 1);
}

TEST_F(ApplyTest, BothBoxesTickedRefusedLoopingKeepsTheTimeLimit) {
    playing(10000);
    fill(true, L"60000", false, true, L"0", L"2000");

    apply();

    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_TRUE(quarvel::time_watch_running());
    EXPECT_FALSE(dialog.checked(1000));
}

TEST_F(ApplyTest, NeitherBoxStopsBothAndStillCorrectsTheSection) {
    quarvel::start_time_watcher();
    start_loop_watcher();
    playing(10000);
    fill(false, L"60", false, false, L"20000", L"3000");

    apply();

    EXPECT_FALSE(quarvel::time_watch_running());
    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_EQ(player.stored("check_looping"), 0);
    EXPECT_EQ(player.stored("start_loop_time"), 0);
    EXPECT_EQ(player.stored("end_loop_time"), 3000);
    EXPECT_EQ(dialog.text(1100), "0");
}

TEST_F(ApplyTest, TimeLimitField) {
    struct {
        const wchar_t* typed;
        int32_t stored;
    } cases[] = {
        {L"", 0},
        {L"000060", 60},
        {L"2147483647", 2147483647},
        {L"2147483648", 2147483647},  // would wrap to a negative limit
        {L"99999999999", 2147483647},
        // Longer than any reading buffer: read whole all the same.
        {L"0000000000000000000000000000000000000000000000000000000000000000000000000005", 5},
        {L"1000000000000000000000000000000000000000000000000000000000000000000000000000",
         2147483647}};
    for (const auto& c : cases) {
        fill(true, c.typed, false, false, L"0", L"0");
        apply();
        EXPECT_EQ(player.stored("time_limit"), c.stored) << fake::narrow(c.typed);
        EXPECT_EQ(get(settings.time_limit), c.stored);
        EXPECT_EQ(dialog.texts[300], c.typed);  // the field keeps what was typed
    }
}

TEST_F(ApplyTest, LoopingOffStoresAndShowsInTheExactOrder) {
    start_loop_watcher();
    playing(10000);
    fill(false, L"60", false, false, L"1000", L"5000");

    apply();

    EXPECT_EQ(calls_but_positions(),
              (Lines{"write check_time_limit=0", "write time_limit=60", "write subsong_limit=0",
                     "write check_looping=0", "length", "text 1100=1000",
                     "write start_loop_time=1000", "text 1200=5000", "write end_loop_time=5000"}));
    EXPECT_FALSE(quarvel::loop_watch_running());
}

TEST_F(ApplyTest, RefusedLoopingStoresAndShowsInTheExactOrder) {
    playing(10000);
    fill(false, L"60", false, true, L"0", L"5000");

    apply();

    EXPECT_EQ(
        calls_but_positions(),
        (Lines{"write check_time_limit=0", "write time_limit=60", "write subsong_limit=0", "length",
               "text 1100=0", "write start_loop_time=0", "text 1200=5000",
               "write end_loop_time=5000", "is_playing", "write check_looping=0", "check 1000=0"}));
    EXPECT_FALSE(quarvel::loop_watch_running());
}

namespace {

// A track close that comes from another thread at one moment of Apply: right after the call of
// Apply's that logs the moment, or, for "loop watcher start", as the loop watcher's thread is
// being made. The player's status still says "playing" afterwards: its answer was on its way.
class ApplyAgainstTrackClose : public ApplyTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void close_from_another_thread() {
        std::thread([] {
            quarvel::new_track(nullptr, quarvel::clear_looping_in_open_dialogs);
        }).join();
    }
};

}  // namespace

TEST_P(ApplyAgainstTrackClose, LoopingIsArmedOnlyForTheTrackPlayingWhenApplyBegan) {
    const std::string moment = GetParam();
    playing(10000);
    fill(true, L"600000", false, true, L"1000", L"5000");  // both boxes: the time limit stays
    fake::open_dialog = &dialog;
    std::atomic<bool> closed{false};
    const auto close_once = [&] {
        if (!closed.exchange(true)) close_from_another_thread();
    };
    // The time watcher that Apply leaves running calls on_call until `hook` goes.
    const auto hook = player.on_call.install([&](const std::string& line) {
        if (line == moment) close_once();
    });
    fake::Installed start;
    if (moment == "loop watcher start")
        start = fake::on_watcher_start.install([&] {
            if (quarvel::loop_watch_running()) close_once();  // not the time watcher's start
        });

    apply();
    fake::open_dialog = nullptr;

    EXPECT_TRUE(closed.load());
    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_EQ(player.stored("check_looping"), 0);
    EXPECT_FALSE(dialog.checked(1000));
    EXPECT_TRUE(quarvel::time_watch_running()) << "refused looping leaves the time limit on";
}

INSTANTIATE_TEST_SUITE_P(Moments, ApplyAgainstTrackClose,
                         ::testing::Values("length", "is_playing", "write check_looping=1",
                                           "loop watcher start"),
                         [](const auto& info) {
                             std::string name;
                             for (const char* c = info.param; *c; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name;
                         });

// The close comes while the player holds Apply's store write of check_looping 1, and Apply's
// thread is pre-empted right after it starts a thread: no loop pass may follow the close.
TEST_F(ApplyTest, NoLoopPassAfterACloseDuringTheStoreWrite) {
    playing(600000);
    player.position = 0;  // the next track's start: any pass would jump to 20000
    fill(false, L"60", false, true, L"20000", L"30000");
    const auto hook = player.on_call.install([](const std::string& line) {
        if (line == "write check_looping=1") {
            std::thread([] {
                quarvel::new_track(nullptr, quarvel::clear_looping_in_open_dialogs);
            }).join();
        }
    });
    bool ended_while_held = true;
    const auto held = fake::on_thread_started.install([&](const std::function<void()>& run) {
        run();
        ended_while_held = fake::wait_for([] { return fake::live_watcher_threads() == 0; });
    });

    apply();
    fake::wait_for_watcher_threads();

    EXPECT_TRUE(ended_while_held);
    EXPECT_EQ(player.position.load(), 0) << "a loop watcher jumped after the close";
    EXPECT_FALSE(quarvel::loop_watch_running());
    EXPECT_EQ(player.stored("check_looping"), 0);
    EXPECT_FALSE(dialog.checked(1000));
}
