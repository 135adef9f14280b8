#pragma once

namespace quarvel {

// One check of the time limit: when the song has run past `time_limit`, move the player on,
// once for as long as it stays past (again only where the player has not moved on within a
// second). The watcher thread runs it every millisecond.
void time_limit_pass();

}  // namespace quarvel
