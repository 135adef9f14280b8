// XMPlay's way, as XMPlay 3.8 was measured to behave: "key128" returns at once and the switch
// follows later on a thread of its own; "key81" stops before it returns, taking its time, and
// "key80" then plays the entry again from its start, without track events; "key86" steps before
// it returns. The length in milliseconds answers -1 (Transport::length).
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
            switch_later(player_.next_entry_delay_ms);
        } else if (command == "key81") {
            outcome = entry && !stopped_ ? "-> stop" : "-> stop (already stopped)";
            if (entry) stopped_ = true, fixed_position_ = 0;
            lock.unlock();
            Sleep(player_.stop_takes_ms);
        } else if (command == "key80") {
            outcome = entry && stopped_ ? "-> play: the entry again from its start"
                                        : "-> play (already playing)";
            if (entry && stopped_)
                stopped_ = false, track_began_ms_ = player_.now_ms(), fixed_position_ = 0;
            lock.unlock();
        } else if (command == "key86") {
            outcome = next_subsong_locked();
            lock.unlock();
        } else {
            lock.unlock();
            outcome = "-> unknown command, ignored";
        }
        log(outcome);
    }
};

}  // namespace

std::unique_ptr<Transport> make_xmplay_way(Player& player) {
    return std::make_unique<XmplayWay>(player);
}

}  // namespace sim
