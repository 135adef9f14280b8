#include "fake_controls.h"

#include <cwchar>

#include "dialog/controls.h"
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

// Logs a change and tells whether the dialog answers it.
bool answered(fake::Dialog& dialog, std::string change) {
    const bool answers = dialog.answers != 0;
    if (dialog.answers > 0) --dialog.answers;
    fake::player().record(answers ? change : change + " (no answer)");
    return answers;
}

}  // namespace

bool is_checked(Dialog dialog, int id) {
    return of(dialog).checked(id);
}

bool set_checked(Dialog dialog, int id, bool checked) {
    if (!answered(of(dialog), "check " + std::to_string(id) + "=" + (checked ? "1" : "0")))
        return false;
    of(dialog).boxes[id] = checked;
    return true;
}

size_t read_text(Dialog dialog, int id, wchar_t* buffer, size_t size) {
    const std::wstring& text = of(dialog).texts[id];
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::wmemcpy(buffer, text.data(), n);
    buffer[n] = L'\0';
    return text.size();
}

bool set_text(Dialog dialog, int id, const wchar_t* text) {
    if (!answered(of(dialog), "text " + std::to_string(id) + "=" + fake::narrow(text)))
        return false;
    of(dialog).texts[id] = text;
    return true;
}

void reset_later(Dialog dialog) {
    fake::player().record("reset posted");
    ++of(dialog).resets_posted;
}

Dialog find_open_dialog() {
    return fake::open_dialog;
}

}  // namespace controls
