// A player that answers at once and remembers nothing: what is left of a watcher pass
// against it is the pass's own cost.
#include <atomic>

#include "dialog/controls.h"
#include "host/host.h"

std::atomic<int32_t> bench_position{30};
std::atomic<long> bench_messages{0};

namespace host {
int32_t position() {
    bench_messages.fetch_add(1, std::memory_order_relaxed);
    return bench_position.load(std::memory_order_relaxed);
}
bool output_playing() {
    bench_messages.fetch_add(1, std::memory_order_relaxed);
    return true;
}
int32_t track_length() {
    return -1;
}
int32_t track_seconds() {
    return -1;
}
int32_t playlist_length() {
    return 1;
}
void jump_to(int32_t) {
    bench_messages.fetch_add(1, std::memory_order_relaxed);
}
void send_command(const char*) {}
const char* tag(int32_t) {
    return nullptr;
}
void release_text(const char*) {}
bool store_read(const char*, int32_t&) {
    return false;
}
void store_write(const char*, int32_t) {}
void store_remove(const char*) {}
bool is_playing() {
    return false;
}
}  // namespace host

namespace controls {
bool is_checked(Dialog, int) {
    return false;
}
void set_checked(Dialog, int, bool) {}
size_t read_text(Dialog, int, wchar_t* buffer, size_t) {
    buffer[0] = L'\0';
    return 0;
}
void set_text(Dialog, int, const wchar_t*) {}
bool reset_now(Dialog, unsigned&) {
    return true;
}
void reset_later(Dialog) {}
void mark_reset_owed(Dialog) {}
bool take_reset_owed(Dialog) {
    return false;
}
size_t find_open_dialogs(Dialog*, size_t) {
    return 0;
}
}  // namespace controls
