#include "transport.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "sim_player.h"

namespace sim {

// Each way in its own file.
std::unique_ptr<Transport> make_xmplay_way(Player& player);
std::unique_ptr<Transport> make_contract_way(Player& player);

std::unique_ptr<Transport> Transport::make(Behaviour behaviour, Player& player) {
    return behaviour == Behaviour::contract ? make_contract_way(player) : make_xmplay_way(player);
}

Transport::Transport(Behaviour behaviour, Player& player)
    : player_(player),
      behaviour_(behaviour),
      switch_cancel_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Transport::~Transport() {
    end_switches();
    CloseHandle(switch_cancel_);
}

void Transport::log(const std::string& what) {
    player_.log(what);
}

void Transport::hold_point(const std::string& what) {
    player_.hold_point(what);
}

void Transport::on_track_thread(const std::function<void()>& work) {
    player_.run_on_track_thread(work);
}

// --- What the player answers --------------------------------------------------------------

int32_t Transport::position_locked() const {
    if (ahead_) return ahead_position_;
    if (switching_) return frozen_position_;
    if (!real_time_) return fixed_position_;
    if (!playing_) return -1;
    if (stopped_) return 0;
    return static_cast<int32_t>(std::floor(player_.now_ms() - track_began_ms_));
}

int32_t Transport::position() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(zero_once_, false) ? 0 : position_locked();
}

void Transport::output_stops_locked() {
    ahead_position_ = position_locked() + player_.output_ahead_ms;
    ahead_ = true;
}

int32_t Transport::length(WPARAM unit) const {
    int32_t length;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        length = playing_ && current_ < playlist_.size() ? playlist_[current_].length_ms : -1;
    }
    // XMPlay answers -1 in milliseconds, and whole seconds, truncated.
    if (unit == 2 && behaviour_ == Behaviour::xmplay) length = -1;
    if (unit == 1 && length > 0) length /= 1000;
    return length;
}

int32_t Transport::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(playlist_.size());
}

bool Transport::status_playing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return playing_ && !switching_ && !stopped_;  // switching: stopped meanwhile
}

bool Transport::output_playing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return playing_ && !stopped_ && !ahead_;
}

int Transport::subsongs_reported() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return playing_ && current_ < playlist_.size() ? playlist_[current_].subsongs : 0;
}

void Transport::jump(int32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    track_began_ms_ = player_.now_ms() - ms;
    fixed_position_ = ms;
}

// --- The playlist and the track playing ---------------------------------------------------

void Transport::set_playlist(std::vector<Track> tracks) {
    std::lock_guard<std::mutex> lock(mutex_);
    playlist_ = std::move(tracks);
    current_ = 0;
}

std::vector<Track> Transport::playlist() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return playlist_;
}

void Transport::set_real_time() {
    std::lock_guard<std::mutex> lock(mutex_);
    real_time_ = true;
}

void Transport::set_position(int32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    real_time_ = false;
    fixed_position_ = ms;
}

void Transport::open(size_t index) {
    std::string file;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = index;
        playing_ = true;
        switching_ = stopped_ = ahead_ = zero_once_ = false;
        subsong_ = 0;
        track_began_ms_ = player_.now_ms();
        fixed_position_ = 0;
        file = playlist_[index].file;
    }
    log("track opened: " + file);
    player_.tell_track_opened(file);
}

void Transport::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!playing_) return;
        playing_ = stopped_ = ahead_ = zero_once_ = switching_ = false;  // the position: -1
        fixed_position_ = -1;
    }
    log("track closed");
    player_.tell_track_closed();
}

void Transport::check_end() {
    bool next_subsong = false;
    size_t next = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!real_time_ || !playing_ || switching_ || stopped_ || current_ >= playlist_.size())
            return;
        const Track& track = playlist_[current_];
        if (player_.now_ms() - track_began_ms_ < track.length_ms) return;
        next_subsong = subsong_ + 1 < track.subsongs;
        if (next_subsong) {
            ++subsong_;
            track_began_ms_ = player_.now_ms();
        }
        next = (current_ + 1) % playlist_.size();
    }
    if (next_subsong) {
        log("end of subsong: subsong " + std::to_string(subsong() + 1) + " begins");
        return;
    }
    log("end of track");
    if (player_.track_events() == TrackEvents::new_thread) return switch_later(0, false);
    close();
    open(next);
}

std::string Transport::next_subsong_locked() {
    if (!playing_ || switching_ || subsong_ + 1 >= playlist_[current_].subsongs)
        return "-> no further subsong";
    ++subsong_;
    stopped_ = false;
    track_began_ms_ = player_.now_ms();
    fixed_position_ = 0;
    return "-> next subsong: " + std::to_string(subsong_ + 1) + " of " +
           std::to_string(playlist_[current_].subsongs);
}

bool Transport::cancelled_within(DWORD ms) {
    return WaitForSingleObject(switch_cancel_, ms) == WAIT_OBJECT_0;
}

void Transport::start_change(const std::function<bool()>& begin, std::function<void()> body) {
    std::lock_guard<std::mutex> changes(switch_mutex_);
    if (cancelled_within(0) || (begin && !begin())) return;  // unloading, or nothing to change
    if (switcher_.joinable()) switcher_.join();              // one change at a time
    switcher_ = std::thread([body = std::move(body)] {
        Player::mark_worker_thread();
        body();
    });
}

void Transport::switch_later(DWORD delay_ms, bool output_stops) {
    const auto begin = [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        if (switching_ || !playing_ || playlist_.empty()) return false;
        frozen_position_ = position_locked();
        switching_ = true;
        return true;
    };
    start_change(begin, [this, delay_ms, output_stops] {
        constexpr DWORD still_plays_ms = 2;
        const DWORD first = output_stops ? std::min(delay_ms, still_plays_ms) : 0;
        if (cancelled_within(first)) return;
        if (output_stops) {
            std::unique_lock<std::mutex> lock(mutex_);
            output_stops_locked();
            zero_once_ = true;
            const std::string ahead = std::to_string(ahead_position_);
            lock.unlock();
            log("-> the output stops: the position answers 0 once, then " + ahead);
        }
        if (cancelled_within(delay_ms - first)) return;
        player_.hold_point("switch to the next entry");
        const auto change = [this, output_stops] {
            size_t next;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                next = (current_ + 1) % playlist_.size();
            }
            close();
            constexpr DWORD between_entries_ms = 3;  // XMPlay answers -1 meanwhile
            if (output_stops) Sleep(between_entries_ms);
            open(next);
        };
        // XMPlay changes tracks on a thread of its own; the other modes keep theirs.
        if (player_.track_events() == TrackEvents::new_thread)
            change();
        else
            player_.run_on_track_thread(change);
    });
}

void Transport::later(DWORD delay_ms, const std::string& hold, std::function<void()> change) {
    start_change(nullptr, [this, delay_ms, hold, change = std::move(change)] {
        if (cancelled_within(delay_ms)) return;
        player_.hold_point(hold);
        change();
    });
}

void Transport::end_switches() {
    std::lock_guard<std::mutex> switches(switch_mutex_);
    SetEvent(switch_cancel_);  // and no switch begins until allow_switches
    if (switcher_.joinable()) switcher_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    switching_ = false;
}

void Transport::allow_switches() {
    ResetEvent(switch_cancel_);
}

size_t Transport::current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

bool Transport::playing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return playing_;
}

int Transport::subsong() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subsong_;
}

double Transport::track_ms(double at_ms) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return playing_ ? at_ms - track_began_ms_ : -1;
}

}  // namespace sim
