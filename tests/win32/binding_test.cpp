// Binding the DLL in the simulated player: faces, the record, the small entries, About and
// the settings load as the player's store sees it.
#include <cstring>
#include <regex>

#include "wine_test_support.h"

using namespace quarvel_test;

namespace {

class Binding : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(player.load(dll_path(), &error)) << error;
    }
    std::vector<std::string> log() {
        std::vector<std::string> out;
        for (auto& e : player.events()) out.push_back(e.what);
        return out;
    }
    sim::Player player;
};

}  // namespace

TEST_F(Binding, OnlyFaceOneBindsAndAlwaysToTheSameRecord) {
    player.clear_events();
    EXPECT_EQ(player.bind(0), nullptr);
    EXPECT_EQ(player.bind(2), nullptr);
    EXPECT_EQ(player.count("get_interface"), 0u);

    const sim::PluginRecord* first = player.bind(1);
    ASSERT_NE(first, nullptr);
    const auto asked = player.events("get_interface");
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].what, "get_interface 1");
    EXPECT_EQ(asked[1].what, "get_interface 4");
    EXPECT_EQ(asked[2].what, "get_interface 0");
    EXPECT_EQ(player.bind(1), first);
    EXPECT_EQ(player.bind(2), nullptr);
    EXPECT_EQ(player.bind(1), first);
}

TEST_F(Binding, RecordFields) {
    const sim::PluginRecord* r = player.bind(1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->flags, 4u);
    EXPECT_STREQ(r->name, "XMPlay Quarvel plugin");
    EXPECT_NE(r->about, nullptr);
    EXPECT_NE(r->new_instance, nullptr);
    EXPECT_NE(r->free_instance, nullptr);
    EXPECT_NE(r->config, nullptr);
    EXPECT_NE(r->new_track, nullptr);
    for (void* entry : r->audio_entries) EXPECT_EQ(entry, nullptr);

    sim::Instance instance = r->new_instance();
    EXPECT_EQ(instance, reinterpret_cast<sim::Instance>(1));
    EXPECT_EQ(r->new_instance(), reinterpret_cast<sim::Instance>(1));
    EXPECT_STREQ(r->get_description(instance), "XMPlay Quarvel plugin 1.4");

    unsigned char buffer[16];
    std::memset(buffer, 0xAB, sizeof buffer);
    EXPECT_EQ(r->get_config(instance, buffer), 0u);
    EXPECT_EQ(r->get_config(instance, nullptr), 0u);
    for (unsigned char b : buffer) EXPECT_EQ(b, 0xAB);
    EXPECT_TRUE(r->set_config(instance, buffer, sizeof buffer));
    EXPECT_TRUE(r->set_config(instance, nullptr, 0));
    r->free_instance(instance);
}

TEST_F(Binding, LoadOfAnEmptySectionWritesTheDefaults) {
    player.bind(1);
    player.clear_events();
    player.start_instance();

    std::vector<std::string> store_calls;
    for (auto& line : log())
        if (line.rfind("store ", 0) == 0) store_calls.push_back(line);
    // Each key read, its default written back, then read again (an Apply may store it meanwhile).
    std::vector<std::string> expected{"store read QUARVEL/check_limit -> absent"};
    for (auto [name, value] : {std::pair{"check_time_limit", 0},
                               {"time_limit", 60},
                               {"subsong_limit", 0},
                               {"check_looping", 0},
                               {"start_loop_time", 0},
                               {"end_loop_time", 0}}) {
        const std::string k = key(name), v = std::to_string(value);
        expected.insert(expected.end(),
                        {"store read " + k + " -> absent", "store write " + k + " = " + v,
                         "store read " + k + " -> " + v});
    }
    EXPECT_EQ(store_calls, expected);
    EXPECT_EQ(player.count("new_instance -> 1"), 1u);
}

TEST_F(Binding, LoadDropsTheLegacyKeyAndKeepsHandEditedValues) {
    player.set_store(
        {{key("check_limit"), 1}, {key("time_limit"), -7}, {key("start_loop_time"), -300}});
    player.bind(1);
    player.start_instance();

    auto store = player.store();
    EXPECT_EQ(store.count(key("check_limit")), 0u);
    EXPECT_EQ(store[key("check_time_limit")], 0);
    EXPECT_EQ(store[key("time_limit")], -7);
    EXPECT_EQ(store[key("start_loop_time")], -300);
    EXPECT_EQ(store.size(), 6u);
    EXPECT_EQ(player.count("store remove QUARVEL/check_limit"), 1u);
    EXPECT_EQ(player.count("store write QUARVEL/time_limit"), 0u);
}

TEST_F(Binding, AboutBoxShowsVersionAndBuildTime) {
    player.bind(1);
    player.about();
    HWND box = nullptr;
    ASSERT_TRUE(
        wait_until([&] { return (box = FindWindowW(nullptr, L"xmp-quarvel")) != nullptr; }));

    const std::string message = sim::narrow(text(box, 0xFFFF));
    const std::regex format(
        "XMPlay Quarvel plugin 1\\.4 \\(built [A-Z][a-z]{2} [ 123][0-9] [0-9]{4} "
        "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\)\r?\n\r?\n[^\n]+\r?\n");
    EXPECT_TRUE(std::regex_match(message, format)) << message;
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);  // one OK button
    EXPECT_EQ(GetWindow(box, GW_OWNER), player.window());

    SendMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(gone(box));
}
