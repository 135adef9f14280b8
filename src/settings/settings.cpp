#include "settings/settings.h"

#include <cstring>

#include "host/host.h"

namespace quarvel {

Settings settings;

void store_setting(const char* key, Shared<int32_t>& slot, int32_t value) {
    host::store_write(key, value);
    set(slot, value);
}

int32_t default_of(const char* key) {
    return std::strcmp(key, keys::time_limit) == 0 ? default_time_limit : 0;
}

namespace {

// Reads `key` into `slot`; an absent key (or a failed read) takes its default, which is
// written back so that the store holds every key afterwards. An Apply on another thread may
// store the key meanwhile (and set its slot): the slot takes the store's value again until the
// two agree, so whichever of the two wrote last wins in both. A store whose answers keep
// changing is read again only a few times: the slot ends on its last answer.
void load_key(const char* key, Shared<int32_t>& slot) {
    int32_t value = 0;
    if (!host::store_read(key, value)) {
        value = default_of(key);
        host::store_write(key, value);
    }
    set(slot, value);
    constexpr int rereads = 4;
    int32_t now = 0;
    for (int i = 0; i < rereads && host::store_read(key, now) && now != value; ++i) {
        value = now;
        set(slot, value);
    }
}

}  // namespace

void load_settings() {
    // The legacy key's value lands in check_time_limit's slot and is overwritten at once
    // below: only its removal matters.
    int32_t legacy = 0;
    if (host::store_read(keys::legacy_check_limit, legacy)) {
        set(settings.check_time_limit, legacy);
        host::store_remove(keys::legacy_check_limit);
    }

    Shared<int32_t> check_looping_scratch{0};  // the store alone keeps check_looping
    load_key(keys::check_time_limit, settings.check_time_limit);
    load_key(keys::time_limit, settings.time_limit);
    load_key(keys::subsong_limit, settings.subsong_limit);
    load_key(keys::check_looping, check_looping_scratch);
    load_key(keys::start_loop_time, settings.start_loop_time);
    load_key(keys::end_loop_time, settings.end_loop_time);
}

}  // namespace quarvel
