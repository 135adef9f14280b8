#include "settings/settings.h"

#include "test_support.h"

using quarvel::get;
using quarvel::settings;

class LoadTest : public PlayerTest {};

TEST_F(LoadTest, EmptySectionTakesDefaultsAndWritesThemBack) {
    quarvel::load_settings();

    // Each key read, its default written back, then read again (an Apply may store it meanwhile).
    Lines expected{"read check_limit"};
    for (auto [key, value] : {std::pair{"check_time_limit", 0},
                              {"time_limit", 60},
                              {"subsong_limit", 0},
                              {"check_looping", 0},
                              {"start_loop_time", 0},
                              {"end_loop_time", 0}}) {
        expected.insert(expected.end(), {std::string("read ") + key,
                                         "write " + std::string(key) + "=" + std::to_string(value),
                                         std::string("read ") + key});
    }
    EXPECT_EQ(player.log(), expected);
    EXPECT_EQ(get(settings.check_time_limit), 0);
    EXPECT_EQ(get(settings.time_limit), 60);
    EXPECT_EQ(get(settings.subsong_limit), 0);
    EXPECT_EQ(get(settings.start_loop_time), 0);
    EXPECT_EQ(get(settings.end_loop_time), 0);
    EXPECT_EQ(player.store.size(), 6u);
}

TEST_F(LoadTest, LegacyKeyIsRemovedAndItsValueDropped) {
    player.store["check_limit"] = 1;

    quarvel::load_settings();

    const Lines log = player.log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(Lines(log.begin(), log.begin() + 4),
              (Lines{"read check_limit", "remove check_limit", "read check_time_limit",
                     "write check_time_limit=0"}));
    EXPECT_FALSE(player.stored("check_limit"));
    EXPECT_EQ(player.stored("check_time_limit"), 0);
    EXPECT_EQ(get(settings.check_time_limit), 0);
}

TEST_F(LoadTest, StoredValuesAreUsedUnchangedAndNotRewritten) {
    player.store = {{"check_time_limit", 7},   {"time_limit", -5},
                    {"subsong_limit", 2},      {"check_looping", -1},
                    {"start_loop_time", -300}, {"end_loop_time", 2147483647}};
    const auto before = player.store;

    quarvel::load_settings();

    EXPECT_TRUE(player.log_of("write").empty());
    EXPECT_TRUE(player.log_of("remove").empty());
    EXPECT_EQ(player.store, before);
    EXPECT_EQ(get(settings.check_time_limit), 7);
    EXPECT_EQ(get(settings.time_limit), -5);
    EXPECT_EQ(get(settings.subsong_limit), 2);
    EXPECT_EQ(get(settings.start_loop_time), -300);
    EXPECT_EQ(get(settings.end_loop_time), 2147483647);
}

TEST_F(LoadTest, OnlyAbsentKeysAreWrittenOnASecondLoad) {
    player.store = {{"time_limit", 1500}, {"check_looping", 1}};
    quarvel::load_settings();
    player.clear_log();
    player.store.erase("subsong_limit");

    quarvel::load_settings();

    EXPECT_EQ(player.log_of("write"), (Lines{"write subsong_limit=0"}));
    EXPECT_EQ(get(settings.time_limit), 1500);
}

TEST_F(LoadTest, AStoreThatAnswersDifferentlyEveryTimeIsReadAFewTimesOnly) {
    player.store = {{"time_limit", 1}};
    int reads = 0;
    auto hook = player.on_call.install([&](const std::string& line) {
        if (line != "read time_limit") return;
        std::lock_guard<std::mutex> lock(player.mutex);
        player.store["time_limit"] = ++reads * 100;
    });

    quarvel::load_settings();
    hook.reset();

    EXPECT_LE(reads, 8);
    EXPECT_EQ(get(settings.time_limit), reads * 100) << "the slot ends on the last answer";
}
