#include "watchers/time_limit_watcher.h"

#include <optional>

#include "settings/settings.h"
#include "test_support.h"
#include "watchers/watcher_control.h"

namespace {

struct Case {
    const char* name;
    int32_t limit;
    int32_t position;
    int32_t playlist_length;
    bool has_subsongs;
    int32_t subsong_limit;
    bool subsong_step_goes_back;  // the player's answer to "key86"
    Lines commands;
};

class TimeLimitPass : public PlayerTest, public ::testing::WithParamInterface<Case> {};

}  // namespace

TEST_P(TimeLimitPass, SendsTheCommandsForTheSituation) {
    const Case& c = GetParam();
    quarvel::set(quarvel::settings.time_limit, c.limit);
    quarvel::set(quarvel::settings.subsong_limit, c.subsong_limit);
    quarvel::has_subsongs = c.has_subsongs;
    player.position = c.position;
    player.playlist_length = c.playlist_length;
    const auto hook = player.on_command.install([&](const std::string& command) {
        if (command == "key86" && c.subsong_step_goes_back) player.position = 0;
    });

    quarvel::time_limit_pass();

    Lines commands;
    for (auto& line : player.log_of("command ")) commands.push_back(line.substr(8));
    EXPECT_EQ(commands, c.commands);
}

INSTANTIATE_TEST_SUITE_P(
    Situations, TimeLimitPass,
    ::testing::Values(
        Case{"AtTheLimit", 60, 60, 3, false, 0, false, {}},
        Case{"PastTheLimitInAPlaylist", 60, 61, 3, false, 0, false, {"key128"}},
        Case{"PastTheLimitSingleEntryRestarts", 60, 61, 1, false, 0, false, {"key81", "key80"}},
        Case{"EmptyPlaylistCountsAsSeveral", 60, 61, 0, false, 0, false, {"key128"}},
        Case{"LimitZeroNeverTriggers", 0, 1000000, 3, false, 0, false, {}},
        Case{"NothingPlaying", 60, -1, 3, false, 0, false, {}},
        Case{"WrappedLimitNeverTriggersWhileIdle", -5, -1, 3, false, 0, false, {}},
        Case{"WrappedLimitNeverTriggersWhilePlaying", -1, 100, 3, false, 0, false, {}},
        Case{"LargestLimit", 2147483647, 2147483647, 3, false, 0, false, {}},
        Case{"SubsongStepWorks", 60, 61, 1, true, 1, true, {"key86"}},
        Case{"LastSubsongSingleEntry",
             60,
             61,
             1,
             true,
             1,
             false,
             {"key86", "key81", "key81", "key80"}},
        Case{"LastSubsongInAPlaylist", 60, 61, 4, true, 1, false, {"key86", "key128"}},
        Case{"SubsongTrackNotLimitedWhenOptionOff", 60, 100000, 1, true, 0, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

// Passes in a row against a player that acts on "key128" only when it chooses to: each step
// sets the position (and moves the watchers' clock on), makes one pass and names the commands
// that pass sends, "-" for none.
struct Step {
    int32_t position;
    uint32_t later_ms;
    const char* commands;
    bool output_playing = true;        // lParam 104's answer
    std::optional<int32_t> then = {};  // the position read after it, if it moved meanwhile
};
struct Crossings {
    const char* name;
    int32_t playlist_length;
    bool has_subsongs;
    std::vector<Step> steps;
};

class TimeLimitHoldOff : public PlayerTest, public ::testing::WithParamInterface<Crossings> {};

}  // namespace

TEST_P(TimeLimitHoldOff, OneTriggerPerCrossingUntilTheHoldOffEnds) {
    const Crossings& c = GetParam();
    quarvel::set(quarvel::settings.time_limit, 3000);
    quarvel::set(quarvel::settings.subsong_limit, 1);
    quarvel::has_subsongs = c.has_subsongs;
    player.playlist_length = c.playlist_length;
    fake::set_clock(0u - 500u);  // the tick count wraps within a second of the first trigger
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        player.position = step.position;
        player.output_playing = step.output_playing;
        int reads = 0;
        const auto moved = player.position_script.install(
            [&] { return reads++ && step.then ? *step.then : step.position; });
        fake::advance_clock(step.later_ms);
        player.clear_log();
        quarvel::time_limit_pass();
        std::string sent;
        for (auto& line : player.log_of("command "))
            sent += (sent.empty() ? "" : " ") + line.substr(8);
        EXPECT_EQ(sent.empty() ? "-" : sent, step.commands) << "pass " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PlayerActsLater, TimeLimitHoldOff,
    ::testing::Values(
        // XMPlay switches some hundred passes after "key128", the position standing meanwhile.
        Crossings{"MovesOnSomePassesLater",
                  3,
                  false,
                  {{3001, 0, "key128"},
                   {3001, 1, "-"},
                   {3001, 400, "-"},
                   {0, 1, "-"},
                   {3001, 1, "key128"}}},
        Crossings{"IgnoredIsSentAgainOnlyAfterTheHoldOff",
                  3,
                  false,
                  {{3001, 0, "key128"},
                   {3002, 999, "-"},
                   {3003, 1, "key128"},
                   {3003, 999, "-"},
                   {3004, 1, "key128"}}},
        Crossings{"NothingPlayingEndsTheHoldOff",
                  3,
                  false,
                  {{3001, 0, "key128"}, {-1, 1, "-"}, {3001, 1, "key128"}}},
        Crossings{
            "SingleEntryRestart",
            1,
            false,
            {{3001, 0, "key81 key80"}, {3001, 1, "-"}, {0, 1, "-"}, {3001, 1, "key81 key80"}}},
        // On the last subsong "key86" does nothing: the fallback goes out once.
        Crossings{"LastSubsongFallsBackOnce",
                  3,
                  true,
                  {{3001, 0, "key86 key128"}, {3001, 1, "-"}, {3001, 500, "-"}}},
        // A position below the trigger's: the player went back (another entry, a restart).
        Crossings{"GoingBackEndsTheHoldOff",
                  3,
                  false,
                  {{3500, 0, "key128"}, {3500, 1, "-"}, {3100, 1, "key128"}, {3100, 1, "-"}}},
        // XMPlay's output stops: its position runs ahead while lParam 104 answers 0. At the
        // switch after "key128" it answers 0 once first (which ends the hold-off), then ahead,
        // then -1, then the next entry.
        Crossings{"OneTriggerAcrossXmplaysSwitch",
                  3,
                  false,
                  {{3020, 0, "key128"},
                   {3020, 1, "-"},
                   {0, 1, "-", false},
                   {3624, 1, "-", false},
                   {3624, 300, "-", false},
                   {-1, 1, "-", false},
                   {0, 1, "-", false},
                   {3040, 1, "key128"}}},
        Crossings{
            "StopJustBeforeTheLimitSendsNothing",
            3,
            false,
            {{2960, 0, "-"}, {3374, 1, "-", false}, {3374, 249, "-", false}, {0, 1, "-", false}}},
        Crossings{"SeekBackSendsNothing",
                  1,
                  false,
                  {{2999, 0, "-"}, {3249, 1, "-", true, 100}, {140, 1, "-"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerTest, IdlePassAsksOnlyForThePosition) {
    quarvel::set(quarvel::settings.time_limit, 60);
    player.position = 30;
    quarvel::time_limit_pass();
    EXPECT_EQ(player.log(), (Lines{"position"}));
}

TEST_F(PlayerTest, TriggeringPassReadsTheSituationOnce) {
    quarvel::set(quarvel::settings.time_limit, 60);
    quarvel::set(quarvel::settings.subsong_limit, 1);
    quarvel::has_subsongs = true;
    player.position = 61;
    player.playlist_length = 2;
    quarvel::time_limit_pass();
    EXPECT_EQ(player.log(), (Lines{"position", "output_playing", "position", "playlist_length",
                                   "position", "command key86", "position", "command key128"}));
}
