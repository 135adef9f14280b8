#include "dialog_model.h"

#include <algorithm>
#include <sstream>

#include "dialog/apply.h"
#include "dialog/controls.h"
#include "dialog/dialog_actions.h"

namespace explore {

std::vector<std::unique_ptr<Window>> windows;
std::function<void(const std::string&)> perform;

struct Sent {
    bool click, done = false;  // a click on Apply, else the reset message
    long result = 0;
};

namespace {

const auto of = [](controls::Dialog dialog) -> Window& { return *static_cast<Window*>(dialog); };

void handle(Window& window, Sent& message) {
    if (message.click)
        perform("apply");
    else
        message.result = quarvel::on_reset_message(&window);
    message.done = true;
}

// A message from another thread: false when the window is gone or the bound expired first (a
// message not yet begun is then withdrawn).
bool send(Window& window, const std::shared_ptr<Sent>& message, bool bounded) {
    switch_point();
    if (!window.open) return false;
    note(bounded ? "sends to the dialog, with a bound" : "sends to the dialog");
    window.inbox.push_back(message);
    block_until([&window, message] { return message->done || !window.open; }, bounded);
    const auto waiting = std::find(window.inbox.begin(), window.inbox.end(), message);
    if (waiting != window.inbox.end()) window.inbox.erase(waiting);  // not begun: withdrawn
    note(message->done ? "answered" : "the bound expired");
    return message->done;
}

}  // namespace

Window& add_window(Thread* thread) {
    windows.push_back(std::make_unique<Window>());
    windows.back()->thread = thread;
    return *windows.back();
}

Window* window_of(const Thread* thread) {
    for (auto& w : windows)
        if (w->open && w->thread == thread) return w.get();
    return nullptr;
}

void take_sent() {
    for (Window* w = window_of(self()); w && !w->inbox.empty();) {
        auto message = w->inbox.front();
        w->inbox.pop_front();
        note("takes a sent message");
        handle(*w, *message);
    }
}

void click_apply(const Thread* on) {
    if (Window* w = window_of(on)) send(*w, std::make_shared<Sent>(Sent{true}), false);
}

void input(const std::string& word) {
    if (word == "open") return quarvel::open_dialog(&add_window(self()));  // found while it opens
    Window* w = window_of(self());
    if (!w) return;  // its dialog is closed: nothing takes the input
    if (word == "apply" || word == "ok" || word == "set" || word == "type") w->shown_at = steps;
    if (word == "apply" || word == "ok") {
        w->applied_at = steps;
        quarvel::apply_dialog(w);
    } else if (word == "set") {
        quarvel::set_field_to_position(w, 1100);
    } else if (word == "reset") {
        w->typed_at = -1;
        quarvel::on_reset_message(w);
    } else if (word == "type") {
        w->typed_at = steps, w->boxes[1000] = true;
        w->texts[1100] = L"2000", w->texts[1200] = L"6000";
        quarvel::feature_box_clicked(w, 1000);
    }
    if (word == "ok" || word == "cancel") w->open = false;  // what is sent or posted to it is lost
}

void run_thread(const std::string& words) {
    std::istringstream script(words);
    std::string word;
    bool more = static_cast<bool>(script >> word);
    for (;;) {
        Window* w = window_of(self());
        if (w && !w->inbox.empty()) {
            take_sent();
            switch_point();  // after each handler it takes its next message or input from the loop
        } else if (w && w->posted > 0) {
            --w->posted, note("takes the posted reset");
            quarvel::on_reset_message(w);
            switch_point();
        } else if (more) {
            perform(word);
            more = static_cast<bool>(script >> word);
            if (more) switch_point();
        } else if (!w || !block_until([w] { return !w->inbox.empty() || w->posted || !w->open; })) {
            return;
        }
    }
}

}  // namespace explore

// The controls are their dialog thread's own: other threads change them only through messages
// that thread takes. So a control call on that thread is no switch point; finding the dialogs,
// sending and posting to them are.
namespace controls {

using explore::of;

namespace {
// A change from another thread would bypass the message rules.
explore::Window& own(Dialog dialog, const std::string& change) {
    if (explore::self() && explore::self() != of(dialog).thread)
        explore::violation(change + " from another thread than its dialog's");
    explore::note(change);
    return of(dialog);
}
}  // namespace

void set_checked(Dialog dialog, int id, bool checked) {
    own(dialog, "check " + std::to_string(id) + "=" + (checked ? "1" : "0")).boxes[id] = checked;
}

void set_text(Dialog dialog, int id, const wchar_t* text) {
    const std::wstring wide = text;
    own(dialog, "text " + std::to_string(id) + "=" + std::string(wide.begin(), wide.end()))
        .texts[id] = text;
}

bool reset_now(Dialog dialog, unsigned& wait_left_ms) {
    explore::Window& w = of(dialog);
    auto reset = std::make_shared<explore::Sent>(explore::Sent{false});
    explore::Thread* t = explore::self();
    if (!t || t == w.thread) {
        explore::handle(w, *reset);
        return true;
    }
    if (wait_left_ms == 0) return false;
    // One wait for all the dialogs: none twice, and none once one has run out.
    auto& waited = t->waited_on;
    if (std::count(waited.begin(), waited.end(), &w) ||
        std::count(waited.begin(), waited.end(), nullptr))
        explore::violation("a close waited on a dialog more than once");
    waited.push_back(&w);
    if (explore::send(w, reset, true)) return reset->result == quarvel::reset_mark;
    wait_left_ms = 0;  // a bound that runs out takes all there was
    waited.push_back(nullptr);
    return false;
}

void reset_later(Dialog dialog) {
    explore::switch_point(), explore::note("posts a reset");
    if (of(dialog).open) ++of(dialog).posted;
}

void mark_reset_owed(Dialog dialog) {
    of(dialog).owed.store(true);
}

bool take_reset_owed(Dialog dialog) {
    return of(dialog).owed.exchange(false);
}

bool is_checked(Dialog dialog, int id) {
    return of(dialog).boxes[id];
}

size_t read_text(Dialog dialog, int id, wchar_t* buffer, size_t size) {
    const std::wstring& text = of(dialog).texts[id];
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    text.copy(buffer, n);
    buffer[n] = L'\0';
    return text.size();
}

size_t find_open_dialogs(Dialog* found, size_t room) {
    explore::switch_point();
    size_t count = 0;
    for (auto& w : explore::windows)
        if (w->open && count < room) found[count++] = w.get();
    return count;
}

}  // namespace controls
