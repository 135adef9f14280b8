#include "watchers/loop_watcher.h"

#include <limits>
#include <optional>

#include "settings/settings.h"
#include "test_support.h"

namespace {

constexpr int32_t max32 = std::numeric_limits<int32_t>::max();
constexpr int32_t min32 = std::numeric_limits<int32_t>::min();

struct Case {
    const char* name;
    int32_t start;
    int32_t end;
    int32_t position;
    bool jumps;
    bool output_playing = true;        // lParam 104's answer, asked before a jump
    std::optional<int32_t> then = {};  // the position read after it, if it moved meanwhile
};

class LoopPass : public PlayerTest, public ::testing::WithParamInterface<Case> {};

}  // namespace

TEST_P(LoopPass, JumpsOnlyOutsideTheSection) {
    const Case& c = GetParam();
    quarvel::set(quarvel::settings.start_loop_time, c.start);
    quarvel::set(quarvel::settings.end_loop_time, c.end);
    player.position = c.position;
    player.output_playing = c.output_playing;
    int reads = 0;
    const auto moved =
        player.position_script.install([&] { return reads++ && c.then ? *c.then : c.position; });

    quarvel::loop_pass(quarvel::track_close_stamp());

    const Lines jump = c.jumps ? Lines{"jump " + std::to_string(c.start)} : Lines{};
    EXPECT_EQ(player.log_of("jump"), jump);
    // One message when nothing is due; a jump only on a position read after the player said
    // it plays.
    if (c.jumps)
        EXPECT_EQ(player.log(), (Lines{"position", "output_playing", "position", jump[0]}));
    else if (c.output_playing && !c.then)
        EXPECT_EQ(player.log(), Lines{"position"});
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, LoopPass,
    ::testing::Values(Case{"AtTheEnd", 1000, 5000, 5000, true},
                      Case{"PastTheEnd", 1000, 5000, 9000, true},
                      Case{"JustBeforeTheEnd", 1000, 5000, 4999, false},
                      Case{"AtTheStart", 1000, 5000, 1000, false},
                      Case{"Within499BeforeTheStart", 1000, 5000, 501, false},
                      Case{"500BeforeTheStart", 1000, 5000, 500, true},
                      Case{"TrackBeginning", 1000, 5000, 0, true},
                      Case{"StartBelow500KeepsTheBeginning", 300, 900, 0, false},
                      Case{"StartBelow500StillEnds", 300, 900, 900, true},
                      Case{"NearTheLimitInside", max32 - 1000, max32, max32 - 1, false},
                      Case{"NearTheLimitAtTheEnd", max32 - 1000, max32, max32, true},
                      Case{"SmallestPositionIsBeforeTheStart", max32 - 1000, max32, min32, true},
                      Case{"NegativeStartFromAHandEditedStore", min32, 100, -2, false},
                      Case{"NegativeStartAtTheEnd", min32, 100, 100, true},
                      // XMPlay's position runs ahead while its output stops (Stop, a seek).
                      Case{"AheadWhileTheOutputStops", 1000, 5000, 5400, false, false},
                      Case{"BackInsideWhenReadAgain", 1000, 5000, 5400, false, true, 3000},
                      Case{"StoppedWhenReadAgain", 1000, 5000, 5400, false, true, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerTest, EmptySectionOrNothingPlayingSendsNoJump) {
    struct {
        int32_t start, end, position;
        size_t messages;
    } cases[] = {{1000, 0, 5000, 0}, {2000, 2000, 5000, 0}, {0, 0, 0, 0}, {1000, 5000, -1, 1}};
    for (const auto& c : cases) {
        player.clear_log();
        quarvel::set(quarvel::settings.start_loop_time, c.start);
        quarvel::set(quarvel::settings.end_loop_time, c.end);
        player.position = c.position;
        quarvel::loop_pass(quarvel::track_close_stamp());
        EXPECT_EQ(player.log().size(), c.messages) << c.start << ".." << c.end;
        EXPECT_TRUE(player.log_of("jump").empty());
    }
}

TEST_F(PlayerTest, NoJumpWhenATrackCloseOvertookThePositionQuestion) {
    quarvel::set(quarvel::settings.start_loop_time, 1000);
    quarvel::set(quarvel::settings.end_loop_time, 5000);
    const quarvel::CloseStamp armed_for = quarvel::track_close_stamp();
    // The player closes the track (and opens the next, at 0) before it answers.
    const auto hook = player.position_script.install([] {
        quarvel::new_track(nullptr, [] {});
        return 0;
    });

    quarvel::loop_pass(armed_for);

    EXPECT_TRUE(player.log_of("jump").empty());
}
