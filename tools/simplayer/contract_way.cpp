// The contract's way, as a plug-in's host is documented to behave: every command acts inside
// the call, on the thread that delivers track events ("key128" switching at once, "key81" and
// "key80" closing and opening the track), and the length is answered in milliseconds.
#include "sim_player.h"
#include "transport.h"

namespace sim {

namespace {

class ContractWay : public Transport {
  public:
    explicit ContractWay(Player& player) : Transport(Behaviour::contract, player) {}

    void command(const std::string& command) override {
        on_track_thread([this, &command] { act(command); });
    }
    // The user's Stop closes the track, as "key81"; a seek is a jump.
    void press_stop() override {
        log("user: Stop");
        on_track_thread([this] { act("key81"); });
    }
    void seek(int32_t ms) override {
        log("user: seek to " + std::to_string(ms));
        jump(ms);
    }

  private:
    void act(const std::string& command) {
        size_t entries;
        bool was_playing;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            entries = playlist_.size();
            was_playing = playing_;
        }
        if (command == "key128") {  // next playlist entry
            log("-> next playlist entry");
            if (entries == 0) return;
            const size_t next = (current() + 1) % entries;
            close();
            open(next);
        } else if (command == "key81") {  // stop
            log(was_playing ? "-> stop" : "-> stop (already stopped)");
            close();
        } else if (command == "key80") {  // play
            log(was_playing ? "-> play (already playing)" : "-> play");
            if (!was_playing && entries > 0) open(current());
        } else if (command == "key86") {  // next subsong
            std::unique_lock<std::mutex> lock(mutex_);
            const std::string outcome = next_subsong_locked();
            lock.unlock();
            log(outcome);
        } else {
            log("-> unknown command, ignored");
        }
    }
};

}  // namespace

std::unique_ptr<Transport> make_contract_way(Player& player) {
    return std::make_unique<ContractWay>(player);
}

}  // namespace sim
