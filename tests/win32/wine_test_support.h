// Shared by the tests that run the built DLL in the simulated player under Wine.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dialog_driver.h"
#include "resource_ids.h"
#include "sim_player.h"

namespace quarvel_test {

inline std::wstring dll_path() {
    return sim::program_directory() + L"xmp-quarvel.dll";
}

inline constexpr wchar_t dialog_caption[] = L"" QUARVEL_DIALOG_CAPTION;

using sim::wait_until;

// "QUARVEL/<key>" in the player's store.
inline std::string key(const char* name) {
    return std::string("QUARVEL/") + name;
}

// The player with the plug-in loaded, bound and given its instance.
class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override { SetUpWithStore({}); }

    void SetUpWithStore(std::map<std::string, int32_t> store) {
        player.set_store(std::move(store));
        std::string error;
        ASSERT_TRUE(player.load(dll_path(), &error)) << error;
        ASSERT_NE(player.bind(1), nullptr);
        player.start_instance();
    }

    int32_t stored(const char* name) {
        auto s = player.store();
        auto it = s.find(key(name));
        return it == s.end() ? INT32_MIN : it->second;
    }

    sim::Player player;
};

using sim::checked;
using sim::click;
using sim::gone;
using sim::press_key;
using sim::set_box;
using sim::text;
using sim::type;

}  // namespace quarvel_test
