// XMPlay's way, as XMPlay 3.8 was measured to behave: "key128" returns at once and the switch
// follows later on a thread of its own; "key81" stops before it returns, taking its time, and
// "key80" then plays the entry again from its start, without track events; "key86" steps before
// it returns, taking some 50 ms. Whenever its output stops (Stop, a seek, the switch, closing),
// the position answers ahead of what was played and lParam 104 answers 0 meanwhile. The length
// in milliseconds answers -1 (Transport::length).
#include "sim_player.h"
#include "transport.h"

namespace sim {

namespace {

class XmplayWay : public Transport {
  public:
    explicit XmplayWay(Player& player) : Transport(Behaviour::xmplay, player) {}

    void command(const std::string& command) override {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool entry = playing_ && !switching_;
        std::string outcome;
        if (command == "key128") {
            outcome = entry ? "-> next playlist entry, in " +
                                  std::to_string(player_.next_entry_delay_ms) + " ms"
                            : "-> next playlist entry (already switching)";
            lock.unlock();
            switch_later(player_.next_entry_delay_ms, true);
        } else if (command == "key81") {
            lock.unlock();
            stop("-> stop");
            return Sleep(player_.stop_takes_ms);
        } else if (command == "key80") {
            outcome = entry && stopped_ ? "-> play: the entry again from its start"
                                        : "-> play (already playing)";
            if (entry && stopped_)
                stopped_ = false, track_began_ms_ = player_.now_ms(), fixed_position_ = 0;
            lock.unlock();
        } else if (command == "key86") {
            outcome = next_subsong_locked();
            lock.unlock();
            Sleep(player_.subsong_step_takes_ms);
        } else {
            lock.unlock();
            outcome = "-> unknown command, ignored";
        }
        log(outcome);
    }

    void press_stop() override { stop("user: Stop"); }

    void seek(int32_t ms) override {
        const std::string what = "user: seek to " + std::to_string(ms);
        if (!output_stops(what)) return log(what + " (nothing plays)");
        later(player_.seek_ahead_ms, "output plays again", [this, ms] {
            {
                std::lock_guard<std::mutex> relock(mutex_);
                ahead_ = false;
                track_began_ms_ = player_.now_ms() - ms;
                fixed_position_ = ms;
            }
            log("-> the output plays again from " + std::to_string(ms));
        });
    }

    void stop_output_to_close() override {
        if (!output_stops("closing")) return;
        Sleep(player_.stop_ahead_ms);
        hold_point("output stopped");
    }

  private:
    // Where the output plays, it stops, its position running ahead (told in the log after
    // `what`); false where it does not play.
    bool output_stops(const std::string& what) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!playing_ || switching_ || stopped_ || ahead_) return false;
        output_stops_locked();
        const std::string ahead = std::to_string(ahead_position_);
        lock.unlock();
        log(what + " -> the output stops, the position reads " + ahead);
        return true;
    }

    // The output stops, its position running ahead for a while, then the entry stays at 0.
    void stop(const std::string& what) {
        if (!output_stops(what)) return log(what + " (already stopped)");
        later(player_.stop_ahead_ms, "output stopped", [this] {
            {
                std::lock_guard<std::mutex> relock(mutex_);
                if (!ahead_) return;  // closed meanwhile
                ahead_ = false, stopped_ = true, fixed_position_ = 0;
            }
            log("-> stopped: the entry stays at 0");
        });
    }
};

}  // namespace

std::unique_ptr<Transport> make_xmplay_way(Player& player) {
    return std::make_unique<XmplayWay>(player);
}

}  // namespace sim
