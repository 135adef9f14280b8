#pragma once

namespace quarvel {

// One check of the time limit: when the song the player plays has run past `time_limit`, move
// the player on, once for as long as it stays past (again where the player goes back, or has
// not moved on within a second). The watcher thread runs it every millisecond.
void time_limit_pass();

}  // namespace quarvel
