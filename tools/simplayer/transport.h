// The simulated player's transport: the playlist and the entry playing, the clock of its
// position, stop, play, the next entry or subsong, a jump, and what the player answers about it
// (the position, the length, whether it plays).
//
// How it carries out the plug-in's shortcut commands and which length it answers is the
// player's way, one of two behaviours of it: XMPlay's (xmplay_way.cpp), as the real player was
// measured to behave, and the contract's (contract_way.cpp), as a plug-in's host is documented
// to behave. The Player holds one of them and hands it the plug-in's commands and messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class Player;

struct Track {
    std::string file;
    int32_t length_ms = 180000;  // of the track, or of each of its subsongs
    int subsongs = 0;            // 0: the track reports none (tags -5 and -6 answer null)
};

enum class Behaviour {
    xmplay,    // XMPlay 3.8 as measured (the default)
    contract,  // the documented host: length in milliseconds, commands that act inside the call
};

class Transport {
  public:
    static std::unique_ptr<Transport> make(Behaviour behaviour, Player& player);
    virtual ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    Behaviour behaviour() const { return behaviour_; }

    // --- The plug-in's requests, on the thread that makes them --------------------------
    // A shortcut command ("key128", ...): carried out the player's way.
    virtual void command(const std::string& command) = 0;
    void jump(int32_t ms);

    // --- The user's hands on the player: its own commands, not the plug-in's ---------------
    virtual void press_stop() = 0;      // Stop: the entry stays, at 0
    virtual void seek(int32_t ms) = 0;  // the track on from `ms`
    // As the player closes: returns once its output has stopped.
    virtual void stop_output_to_close() {}

    // --- What the player answers --------------------------------------------------------
    int32_t position() const;
    // The length for wParam 2 (milliseconds) or 1 (whole seconds), -1 while nothing plays.
    int32_t length(WPARAM unit) const;
    int32_t entries() const;
    bool status_playing() const;  // the status table's "is playing"
    bool output_playing() const;  // lParam 104: 1 while the output plays, 0 while it stops
    // The subsongs that the current track reports (tag -5), 0 while nothing plays.
    int subsongs_reported() const;

    // --- The playlist and the track playing ----------------------------------------------
    void set_playlist(std::vector<Track> tracks);
    std::vector<Track> playlist() const;
    void set_real_time();
    void set_position(int32_t ms);
    // On the thread that delivers track events: the track opened or closed, told the plug-in.
    void open(size_t index);
    void close();
    // The end of a track or subsong playing in real time; called every few milliseconds.
    void check_end();
    // Cancels a switch that waits, waits for one under way, and allows none until allow_switches.
    void end_switches();
    void allow_switches();

    size_t current() const;
    bool playing() const;
    int subsong() const;
    // Milliseconds since the current track (re)started, -1 while nothing plays.
    double track_ms(double at_ms) const;

  protected:
    Transport(Behaviour behaviour, Player& player);

    // "key86": steps to the next subsong, if there is one; what it did, for the log.
    std::string next_subsong_locked();
    // The switch to the next entry after `delay_ms`, on a thread of its own, the position
    // standing and the player stopped meanwhile (a hold point, "switch to the next entry",
    // comes just before it). Where the output stops (XMPlay), it goes on playing for 2 ms, then
    // the position answers 0 once and then runs ahead, and -1 for 3 ms between the entries.
    void switch_later(DWORD delay_ms, bool output_stops);
    // A change on a thread of its own after `delay_ms`, the hold point `hold` just before it;
    // one change or switch at a time, none once end_switches has run until allow_switches.
    void later(DWORD delay_ms, const std::string& hold, std::function<void()> change);
    // The output stops: the position runs ahead of what was played, by the player's
    // output_ahead_ms, and lParam 104 answers 0, until the output plays again or stops for good.
    void output_stops_locked();
    int32_t position_locked() const;
    void log(const std::string& what);
    void hold_point(const std::string& what);
    // Runs `work` on the thread that delivers track events and returns when it is done.
    void on_track_thread(const std::function<void()>& work);

    Player& player_;
    mutable std::mutex mutex_;  // guards what follows
    std::vector<Track> playlist_;
    size_t current_ = 0;
    bool playing_ = false;
    int subsong_ = 0;
    bool real_time_ = true;
    int32_t fixed_position_ = -1;
    bool switching_ = false;  // "key128" or a track's end: the switch is under way
    int32_t frozen_position_ = -1;
    bool stopped_ = false;  // "key81": the entry stays, at 0, until "key80"
    bool ahead_ = false;    // the output stops: the position answers ahead_position_
    int32_t ahead_position_ = 0;
    mutable bool zero_once_ = false;  // ...but first 0, once (the switch after "key128")
    double track_began_ms_ = 0;

  private:
    // Starts `body` on the change's thread once the last change has ended, where `begin` (under
    // the same lock) agrees; nothing once end_switches has run.
    void start_change(const std::function<bool()>& begin, std::function<void()> body);
    bool cancelled_within(DWORD ms);  // whether end_switches came within `ms`

    const Behaviour behaviour_;
    std::mutex switch_mutex_;  // guards switcher_
    std::thread switcher_;
    HANDLE switch_cancel_ = nullptr;
};

}  // namespace sim
