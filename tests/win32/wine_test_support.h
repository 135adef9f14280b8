// Shared by the tests that run the built DLL in the simulated player under Wine.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "dialog_driver.h"
#include "resource_ids.h"
#include "sim_player.h"

namespace sim {
inline void PrintTo(TrackEvents thread, std::ostream* out) {
    *out << (thread == TrackEvents::ui_thread         ? "track events on the UI thread"
             : thread == TrackEvents::playback_thread ? "track events on the playback thread"
                                                      : "track events on a new thread each");
}
}  // namespace sim

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

// The store as the plug-in's first load leaves it: all six keys, with their defaults.
inline std::map<std::string, int32_t> stored_defaults() {
    return {{key("check_time_limit"), 0}, {key("time_limit"), 60},     {key("subsong_limit"), 0},
            {key("check_looping"), 0},    {key("start_loop_time"), 0}, {key("end_loop_time"), 0}};
}

// The player with the plug-in loaded, bound and given its instance; track events come on the
// thread the test's parameter names.
class PluginTest : public ::testing::TestWithParam<sim::TrackEvents> {
  protected:
    void SetUp() override { SetUpWithStore({}); }

    void SetUpWithStore(std::map<std::string, int32_t> store) {
        player.set_track_events(GetParam());
        player.set_store(std::move(store));
        std::string error;
        ASSERT_TRUE(player.load(dll_path(), &error)) << error;
        ASSERT_TRUE(player.threads_watched());
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

// Names the instances of a suite run with track events on either thread.
inline std::string track_thread_name(const ::testing::TestParamInfo<sim::TrackEvents>& info) {
    return info.param == sim::TrackEvents::ui_thread         ? "EventsOnUiThread"
           : info.param == sim::TrackEvents::playback_thread ? "EventsOnPlaybackThread"
                                                             : "EventsOnNewThreads";
}

// XMPlay's way (a new thread for each change) and the UI thread.
#define QUARVEL_ON_BOTH_TRACK_THREADS(suite)                                          \
    INSTANTIATE_TEST_SUITE_P(                                                         \
        TrackThreads, suite,                                                          \
        ::testing::Values(sim::TrackEvents::new_thread, sim::TrackEvents::ui_thread), \
        quarvel_test::track_thread_name)

// A hold point at which the call waits, on the thread that answers it, until the test
// releases it (at the latest when this goes).
class HeldCall {
  public:
    HeldCall(sim::Player& player, std::string at) : player_(player) {
        player.hold_once(std::move(at), [this] {
            SetEvent(reached_);
            WaitForSingleObject(go_on_, INFINITE);
        });
    }
    ~HeldCall() {
        player_.hold_once({}, nullptr);  // never reached: forgotten
        release();
        CloseHandle(reached_);
        CloseHandle(go_on_);
    }
    HeldCall(const HeldCall&) = delete;
    HeldCall& operator=(const HeldCall&) = delete;

    // Whether the call reached the point (the wait is only a guard).
    bool reached() { return WaitForSingleObject(reached_, 10000) == WAIT_OBJECT_0; }
    void release() { SetEvent(go_on_); }

  private:
    sim::Player& player_;
    HANDLE reached_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE go_on_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

using sim::checked;
using sim::click;
using sim::gone;
using sim::press_key;
using sim::set_box;
using sim::text;
using sim::type;

}  // namespace quarvel_test
