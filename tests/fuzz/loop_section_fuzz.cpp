// Feeds Apply arbitrary field texts, boxes and track lengths, and checks after every input
// that the loop section it stores is sound and that looping is armed only when it can work.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dialog/apply.h"
#include "fake_controls.h"
#include "fake_host.h"
#include "settings/settings.h"
#include "watchers/watcher_control.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// Field texts come from a small alphabet so that numbers, signs and junk all turn up.
std::wstring field(const uint8_t*& p, const uint8_t* end) {
    static const wchar_t alphabet[] = L"0123456789999-  x";
    std::wstring out;
    size_t n = p < end ? *p++ % 24 : 0;
    while (n-- > 0 && p < end) out += alphabet[*p++ % (sizeof alphabet / sizeof(wchar_t) - 1)];
    return out;
}

int32_t number(const uint8_t*& p, const uint8_t* end) {
    uint32_t v = 0;
    for (int i = 0; i < 4 && p < end; ++i) v = v << 8 | *p++;
    return static_cast<int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    if (size < 2) return 0;

    fake::reset();
    auto& player = fake::player();
    player.log_enabled = false;
    const uint8_t boxes = *p++;
    const uint8_t mode = *p++;
    const int32_t length = mode & 1 ? -1 : (mode & 2 ? number(p, end) : number(p, end) & 0xFFFFF);
    player.length = length;
    player.playing = (mode & 4) != 0;
    if (mode & 8) quarvel::start_loop_watcher(quarvel::track_close_stamp());
    if (mode & 16) quarvel::start_time_watcher();

    fake::Dialog dialog;
    dialog.boxes = {{200, (boxes & 1) != 0}, {400, (boxes & 2) != 0}, {1000, (boxes & 4) != 0}};
    dialog.texts[300] = field(p, end);
    dialog.texts[1100] = field(p, end);
    dialog.texts[1200] = field(p, end);

    quarvel::apply_dialog(&dialog);

    const int32_t start = *player.stored("start_loop_time");
    const int32_t stop = *player.stored("end_loop_time");
    check(start >= 0 && stop >= 0, "negative loop time stored");
    check(*player.stored("time_limit") >= 0, "negative time limit stored");
    check(start <= stop, "start after end");
    check(stop < length || stop == start, "end at or past the track's end");
    check(start < length || start == 0, "start at or past the track's end");
    check(quarvel::get(quarvel::settings.start_loop_time) == start, "Settings start differs");
    check(quarvel::get(quarvel::settings.end_loop_time) == stop, "Settings end differs");
    check(dialog.text(1100) == std::to_string(start), "field 1100 differs");
    check(dialog.text(1200) == std::to_string(stop), "field 1200 differs");

    const bool armed = quarvel::loop_watch_running();
    check(!armed || ((boxes & 4) && player.playing && start != 0 && start != stop),
          "looping armed without a playing track and a usable section");
    check(armed == (*player.stored("check_looping") == 1),
          "check_looping differs from the watcher");
    check(armed == dialog.checked(1000), "looping box differs from the watcher");
    check(!(armed && quarvel::time_watch_running()), "both watchers running");
    return 0;
}
