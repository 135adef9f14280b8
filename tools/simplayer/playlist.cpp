#include "playlist.h"

namespace sim {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t begin = 0;
    for (;;) {
        const size_t at = text.find(separator, begin);
        parts.push_back(
            text.substr(begin, at == std::string::npos ? std::string::npos : at - begin));
        if (at == std::string::npos) return parts;
        begin = at + 1;
    }
}

}  // namespace

bool parse_number(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty() || text.size() > 12) return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    value = v;
    return true;
}

bool parse_playlist(const std::string& description, std::vector<PlaylistEntry>& entries,
                    std::string& error) {
    entries.clear();
    if (description.empty()) {
        error = "the playlist is empty";
        return false;
    }
    int index = 0;
    for (const std::string& item : split(description, ',')) {
        ++index;
        const std::string where = "playlist entry " + std::to_string(index) + " \"" + item + "\"";
        const std::vector<std::string> fields = split(item, ':');
        if (fields.size() < 2 || fields.size() > 3) {
            error = where + ": expected name:length_ms or name:length_ms:subsongs";
            return false;
        }
        PlaylistEntry entry;
        entry.file = fields[0];
        if (entry.file.empty()) {
            error = where + ": the name is empty";
            return false;
        }
        int64_t number = 0;
        if (!parse_number(fields[1], 1, 2147483647, number)) {
            error =
                where + ": the length must be a whole number of milliseconds from 1 to 2147483647";
            return false;
        }
        entry.length_ms = static_cast<int32_t>(number);
        if (fields.size() == 3) {
            if (!parse_number(fields[2], 0, 1000, number)) {
                error = where + ": the subsong count must be a whole number from 0 to 1000";
                return false;
            }
            entry.subsongs = static_cast<int>(number);
        }
        entries.push_back(entry);
    }
    return true;
}

}  // namespace sim
