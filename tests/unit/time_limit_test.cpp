#include "watchers/time_limit_watcher.h"

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
    player.on_command = [&](const std::string& command) {
        if (command == "key86" && c.subsong_step_goes_back) player.position = 0;
    };

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
    EXPECT_EQ(player.log(), (Lines{"position", "playlist_length", "position", "command key86",
                                   "position", "command key128"}));
}
