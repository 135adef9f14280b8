#include "dialog_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <sstream>

#include "dialog/apply.h"
#include "dialog/controls.h"
#include "dialog/dialog_actions.h"

namespace explore {

DialogModel dialog;
thread_local int close_sends = 0;

namespace {

struct Sent {
    enum { reset, click } kind;
    bool begun = false, done = false;
    long result = 0;
};
std::deque<std::shared_ptr<Sent>> inbox;
int posted = 0;

bool on_dialog_thread() {
    return !self() || self() == dialog.thread;
}

// A control changed from another thread than the dialog's would bypass the message rules.
void own_thread(const char* change) {
    if (on_dialog_thread()) return;
    std::fprintf(stderr, "explorer: a %s change from another thread than the dialog's\n", change);
    std::abort();
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

void handle(Sent& message) {
    message.begun = true;
    switch (message.kind) {
        case Sent::reset:
            message.result = quarvel::on_reset_message(&dialog);
            break;
        case Sent::click:
            dialog.thread->action_began = dialog.handler_began = step();
            quarvel::apply_dialog(&dialog);
            break;
    }
    message.done = true;
}

// A message from another thread: false when the window is gone or the bound expired first (a
// message not yet begun is then withdrawn).
bool send(std::shared_ptr<Sent> message, bool bounded) {
    switch_point();
    if (!dialog.open) return false;
    note(bounded ? "sends to the dialog, with a bound" : "sends to the dialog");
    close_sends += bounded;
    inbox.push_back(message);
    if (bounded)
        await_answer(message->done);
    else
        block_until([message] { return message->done || !dialog.open; });
    const auto waiting = std::find(inbox.begin(), inbox.end(), message);
    if (waiting != inbox.end()) inbox.erase(waiting);  // not begun: withdrawn
    note(message->done ? "answered" : "the bound expired");
    return message->done;
}

void close_dialog() {
    dialog.open = false;
    inbox.clear();  // the window is gone: its senders' waits fail
    posted = 0;
}

}  // namespace

void take_sent() {
    while (self() == dialog.thread && !inbox.empty()) {
        auto message = inbox.front();
        inbox.pop_front();
        note("takes a sent message");
        handle(*message);
    }
}

void forget_messages() {
    inbox.clear();
    posted = 0;
}

void click_apply() {
    auto message = std::make_shared<Sent>();
    message->kind = Sent::click;
    send(message, false);
}

void run_dialog(const std::string& inputs) {
    std::istringstream words(inputs);
    std::string input;
    bool inputs_left = static_cast<bool>(words >> input);
    for (;;) {
        if (!inbox.empty()) {
            take_sent();
        } else if (posted > 0) {
            --posted;
            note("takes the posted reset");
            quarvel::on_reset_message(&dialog);
        } else if (inputs_left) {
            self()->action_began = step();
            note("user: " + input);
            if (input == "apply" || input == "ok" || input == "set") dialog.handler_began = step();
            if (input == "open") {
                dialog.open = true;  // found by its caption while it opens
                quarvel::open_dialog(&dialog);
            } else if (input == "apply" || input == "ok") {
                quarvel::apply_dialog(&dialog);
            } else if (input == "set") {
                quarvel::set_field_to_position(&dialog, 1100);
            } else if (input == "reset") {
                quarvel::on_reset_message(&dialog);
            }
            if (input == "ok" || input == "cancel") close_dialog();
            inputs_left = static_cast<bool>(words >> input);
        } else if (!dialog.open || !block_until([] { return !inbox.empty() || posted > 0; })) {
            return;
        }
    }
}

}  // namespace explore

// The controls are the dialog thread's own: other threads change them only through messages
// that thread takes. So a control call on that thread is no switch point; finding the dialog,
// sending and posting to it are.
namespace controls {

using explore::dialog;

void set_checked(Dialog, int id, bool checked) {
    explore::own_thread("check");
    explore::note("check " + std::to_string(id) + "=" + (checked ? "1" : "0"));
    dialog.boxes[id] = checked;
}

void set_text(Dialog, int id, const wchar_t* text) {
    explore::own_thread("text");
    explore::note("text " + std::to_string(id) + "=" + explore::narrow(text));
    dialog.texts[id] = text;
}

bool reset_now(Dialog) {
    auto reset = std::make_shared<explore::Sent>();
    if (explore::on_dialog_thread()) {
        explore::handle(*reset);
        return true;
    }
    return explore::send(reset, true) && reset->result == quarvel::reset_mark;
}

void reset_later(Dialog) {
    explore::switch_point();
    explore::note("posts a reset");
    if (dialog.open) ++explore::posted;
}

bool is_checked(Dialog, int id) {
    return dialog.boxes[id];
}

size_t read_text(Dialog, int id, wchar_t* buffer, size_t size) {
    const std::wstring& text = dialog.texts[id];
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    text.copy(buffer, n);
    buffer[n] = L'\0';
    return text.size();
}

Dialog find_open_dialog() {
    explore::switch_point();
    return dialog.open ? &dialog : nullptr;
}

}  // namespace controls
