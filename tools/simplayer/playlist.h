// The simulated player's playlist description: "name:length_ms[:subsongs],..." such as
// "intro.mp3:3000,suite.sid:4000:3".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct PlaylistEntry {
    std::string file;
    int32_t length_ms = 0;
    int subsongs = 0;
};

// Fills `entries`, or returns false with a one-line `error` naming the problem.
bool parse_playlist(const std::string& description, std::vector<PlaylistEntry>& entries,
                    std::string& error);

// A whole decimal number in [low, high], nothing else; false otherwise.
bool parse_number(const std::string& text, int64_t low, int64_t high, int64_t& value);

}  // namespace sim
