// Everything the plug-in asks of the player, in one place.
//
// The Windows build implements this over the player's three function tables and the
// messages of its main window (host_win32.cpp); the native tests link a fake that records
// every call. Nothing else in settings/, watchers/ or the dialog's logic talks to the player.
#pragma once

#include <cstdint>

namespace host {

// Messages to the player's main window, which is fetched afresh for every one. Times are
// milliseconds; the position is -1 while nothing plays. A jump has been carried out when
// jump_to returns.
int32_t position();
int32_t playlist_length();
void jump_to(int32_t ms);

// Whether the player's output plays now (lParam 104 answering 1; 3 is paused, 0 stopped).
// Whenever XMPlay's output stops (Stop, a seek, the switch after "key128", closing the player),
// the position above answers 0.35 to 0.77 s ahead of what was heard while this answers 0: a
// position is acted on only when this says the player plays, and the position is read again
// after it.
bool output_playing();

// The current track's length in milliseconds, -1 while nothing plays. XMPlay itself answers
// -1 here while a track plays too: ask track_seconds then.
int32_t track_length();
// The current track's (or subsong's) length in whole seconds, truncated; -1 while nothing
// plays.
int32_t track_seconds();

// A shortcut command such as "key128". XMPlay carries out "key81" (stop, which blocks for
// some 400 ms), "key80" (play) and "key86" (next subsong; nothing on the last one) before
// this returns, but "key128" (next entry) only some 300 to 500 ms later, on a thread of its
// own: meanwhile it reports itself stopped and the position stays where it was.
void send_command(const char* command);

// A tag text of the current track (tags -5 and -6), or null. Owned by the player: give it
// back with release_text, or hold it in a Text.
const char* tag(int32_t number);
void release_text(const char* text);

// The plug-in's section of the player's settings store.
bool store_read(const char* key, int32_t& value);  // false when the key is absent
void store_write(const char* key, int32_t value);
void store_remove(const char* key);

// True while a track is playing.
bool is_playing();

// Owns a text that the player handed out and gives it back exactly once.
class Text {
  public:
    explicit Text(const char* text) : text_(text) {}
    ~Text() {
        if (text_) release_text(text_);
    }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    const char* get() const { return text_; }
    explicit operator bool() const { return text_ != nullptr; }

  private:
    const char* text_;
};

}  // namespace host
