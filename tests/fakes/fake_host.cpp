#include "fake_host.h"

#include <cstdlib>
#include <cstring>

#include "fake_threads.h"
#include "host/host.h"
#include "settings/settings.h"
#include "watchers/time_limit_watcher.h"
#include "watchers/watcher_control.h"

namespace fake {

namespace {
Player* the_player = new Player;  // never destroyed: detached threads may still ask it
}

Player& player() {
    return *the_player;
}

std::optional<int32_t> Player::stored(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = store.find(key);
    if (it == store.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> Player::log() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}

std::vector<std::string> Player::log_of(const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& line : log())
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
}

void Player::clear_log() {
    std::lock_guard<std::mutex> lock(mutex);
    lines.clear();
}

void Player::record(std::string line) {
    on_call(line);
    if (!log_enabled.load()) return;
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(std::move(line));
}

int Player::outstanding_texts() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(texts.size());
}

void reset() {
    quarvel::stop_time_watcher();
    quarvel::stop_loop_watcher();
    wait_for_watcher_threads();
    Player& p = player();
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.lines.clear();
        p.store.clear();
        for (char* t : p.texts) std::free(t);
        p.texts.clear();
    }
    p.position = -1;
    p.length = -1;
    p.seconds = -1;
    p.playlist_length = 1;
    p.playing = false;
    p.output_playing = true;
    p.position_script.clear();
    p.on_command.clear();
    p.on_call.clear();
    on_watcher_start.clear();
    on_thread_started.clear();
    on_rest.clear();
    p.tags.clear();
    p.log_enabled = true;
    quarvel::has_subsongs = false;
    for (auto* value : {&quarvel::settings.check_time_limit, &quarvel::settings.time_limit,
                        &quarvel::settings.subsong_limit, &quarvel::settings.start_loop_time,
                        &quarvel::settings.end_loop_time}) {
        value->store(0);
    }
    fail_thread_starts(false);
    quarvel::time_limit_pass();  // nothing plays: ends a hold-off left by an earlier test
    p.clear_log();
    quarvel::begin_instance();
}

}  // namespace fake

namespace host {

using fake::player;

int32_t position() {
    player().record("position");
    auto& p = player();
    const auto script = p.position_script.get();
    return script ? (*script)() : p.position.load();
}

bool output_playing() {
    player().record("output_playing");
    return player().output_playing.load();
}

int32_t track_length() {
    player().record("length");
    return player().length.load();
}

int32_t track_seconds() {
    player().record("seconds");
    return player().seconds.load();
}

int32_t playlist_length() {
    player().record("playlist_length");
    return player().playlist_length.load();
}

void jump_to(int32_t ms) {
    player().record("jump " + std::to_string(ms));
    player().position = ms;
}

void send_command(const char* command) {
    player().record(std::string("command ") + command);
    player().on_command(std::string(command));
}

const char* tag(int32_t number) {
    auto& p = player();
    p.record("tag " + std::to_string(number));
    auto it = p.tags.find(number);
    if (it == p.tags.end()) return nullptr;
    char* text = strdup(it->second.c_str());
    std::lock_guard<std::mutex> lock(p.mutex);
    p.texts.push_back(text);
    return text;
}

void release_text(const char* text) {
    auto& p = player();
    std::string line = "release ";
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        bool known = false;
        for (auto it = p.texts.begin(); it != p.texts.end(); ++it) {
            if (*it == text) {
                line += text;
                std::free(*it);
                p.texts.erase(it);
                known = true;
                break;
            }
        }
        if (!known) line += "<not handed out>";
    }
    p.record(line);
}

bool store_read(const char* key, int32_t& value) {
    auto& p = player();
    p.record(std::string("read ") + key);
    std::lock_guard<std::mutex> lock(p.mutex);
    auto it = p.store.find(key);
    if (it == p.store.end()) return false;
    value = it->second;
    return true;
}

void store_write(const char* key, int32_t value) {
    auto& p = player();
    p.record(std::string("write ") + key + "=" + std::to_string(value));
    std::lock_guard<std::mutex> lock(p.mutex);
    p.store[key] = value;
}

void store_remove(const char* key) {
    auto& p = player();
    p.record(std::string("remove ") + key);
    std::lock_guard<std::mutex> lock(p.mutex);
    p.store.erase(key);
}

bool is_playing() {
    player().record("is_playing");
    return player().playing.load();
}

}  // namespace host
