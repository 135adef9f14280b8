#include "fake_controls.h"

#include <cwchar>

#include "dialog/controls.h"
#include "dialog/dialog_actions.h"
#include "fake_host.h"

namespace fake {

Dialog* open_dialog = nullptr;

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

bool Dialog::checked(int id) const {
    auto it = boxes.find(id);
    return it != boxes.end() && it->second;
}

std::string Dialog::text(int id) const {
    auto it = texts.find(id);
    return it == texts.end() ? std::string() : narrow(it->second);
}

}  // namespace fake

namespace controls {

namespace {
fake::Dialog& of(Dialog dialog) {
    return *static_cast<fake::Dialog*>(dialog);
}

}  // namespace

bool is_checked(Dialog dialog, int id) {
    return of(dialog).checked(id);
}

void set_checked(Dialog dialog, int id, bool checked) {
    fake::player().record("check " + std::to_string(id) + "=" + (checked ? "1" : "0"));
    of(dialog).boxes[id] = checked;
}

size_t read_text(Dialog dialog, int id, wchar_t* buffer, size_t size) {
    const std::wstring& text = of(dialog).texts[id];
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::wmemcpy(buffer, text.data(), n);
    buffer[n] = L'\0';
    return text.size();
}

void set_text(Dialog dialog, int id, const wchar_t* text) {
    fake::player().record("text " + std::to_string(id) + "=" + fake::narrow(text));
    of(dialog).texts[id] = text;
}

bool reset_now(Dialog dialog, unsigned&) {
    fake::player().record(of(dialog).answers ? "reset sent" : "reset sent (no answer)");
    return of(dialog).answers && quarvel::on_reset_message(dialog) == quarvel::reset_mark;
}

void reset_later(Dialog dialog) {
    fake::player().record("reset posted");
    ++of(dialog).resets_posted;
}

void mark_reset_owed(Dialog dialog) {
    of(dialog).reset_owed = true;
}

bool take_reset_owed(Dialog dialog) {
    const bool owed = of(dialog).reset_owed;
    of(dialog).reset_owed = false;
    return owed;
}

size_t find_open_dialogs(Dialog* found, size_t room) {
    if (!fake::open_dialog || room == 0) return 0;
    found[0] = fake::open_dialog;
    return 1;
}

}  // namespace controls
