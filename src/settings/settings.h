// The plug-in's six settings: their keys in the player's store, their defaults, and the
// in-memory copy that the watcher threads read.
#pragma once

#include <cstdint>

#include "settings/shared_word.h"

namespace quarvel {

namespace keys {
inline constexpr char check_time_limit[] = "check_time_limit";
inline constexpr char time_limit[] = "time_limit";
inline constexpr char subsong_limit[] = "subsong_limit";
inline constexpr char check_looping[] = "check_looping";
inline constexpr char start_loop_time[] = "start_loop_time";
inline constexpr char end_loop_time[] = "end_loop_time";
// Written by old versions; dropped at load.
inline constexpr char legacy_check_limit[] = "check_limit";
}  // namespace keys

// Sixty milliseconds, not seconds.
inline constexpr int32_t default_time_limit = 60;

// Shared with the watchers without a lock: every value is one word, loaded and stored whole.
struct Settings {
    Shared<int32_t> check_time_limit{0};
    Shared<int32_t> time_limit{0};
    Shared<int32_t> subsong_limit{0};
    Shared<int32_t> start_loop_time{0};
    Shared<int32_t> end_loop_time{0};
};

extern Settings settings;

inline int32_t get(const Shared<int32_t>& value) {
    return value.load(std::memory_order_relaxed);
}
inline void set(Shared<int32_t>& value, int32_t v) {
    value.store(v, std::memory_order_relaxed);
}

// Stores a setting, then sets its slot: with the load doing the same in its order (it reads
// the store again after setting the slot), a load and an Apply that overlap leave the slot as
// the store.
void store_setting(const char* key, Shared<int32_t>& slot, int32_t value);

// Reads all six keys from the store into `settings`, writing the default of every absent
// key back, and removes the legacy key. Stored values are used as they are.
void load_settings();

// The value the dialog shows for a key that the store does not hold.
int32_t default_of(const char* key);

}  // namespace quarvel
