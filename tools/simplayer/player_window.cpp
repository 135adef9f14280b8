// The player's UI thread and its hidden main window: the Winamp-style messages it answers
// (position, length, jump, playlist length), the plug-in's entries and dialog that run there,
// and the ways a test makes that thread busy or slow.
#include "dialog_driver.h"
#include "sim_player.h"

namespace sim {

namespace {

constexpr UINT run_work = WM_APP + 1;
constexpr wchar_t window_class[] = L"QuarvelSimulatedPlayer";
constexpr wchar_t options_class[] = L"QuarvelSimulatedOptions";

// A visible dialog window of the player's thread.
BOOL CALLBACK find_dialog(HWND w, LPARAM out) {
    wchar_t cls[16];
    if (IsWindowVisible(w) && GetClassNameW(w, cls, 16) && wcscmp(cls, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(out) = w;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

void Player::ui_thread_main() {
    ui_thread_id_ = GetCurrentThreadId();
    WNDCLASSW wc{};
    wc.lpfnWndProc = window_procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = window_class;
    RegisterClassW(&wc);
    WNDCLASSW options{};
    options.lpfnWndProc = DefWindowProcW;
    options.hInstance = wc.hInstance;
    options.lpszClassName = options_class;
    RegisterClassW(&options);
    HWND w = CreateWindowExW(0, window_class, L"Simulated player", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                             200, nullptr, nullptr, wc.hInstance, this);
    window_ = w;
    SetTimer(w, 1, 5, nullptr);  // notices the end of a track playing in real time
    SetEvent(ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    window_ = nullptr;
}

LRESULT CALLBACK Player::window_procedure(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Player*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (self && (message == WM_USER || message == run_work))
        return self->on_message(message, wparam, lparam);
    if (self && message == WM_TIMER) {
        if (self->track_events() != TrackEvents::playback_thread) self->transport_->check_end();
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(w, message, wparam, lparam);
}

LRESULT Player::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == run_work) {
        auto* work = reinterpret_cast<std::function<void()>*>(lparam);
        (*work)();
        if (wparam) delete work;  // posted: ours to free
        return 0;
    }
    // WM_USER: the Winamp-style services, logged as messages.
    auto log = [&](const std::string& what) { this->log(what, true); };
    switch (lparam) {
        case 105: {
            hold_point(wparam == 2   ? "message length"
                       : wparam == 1 ? "message seconds"
                                     : "message position");
            if (wparam == 2 || wparam == 1) {
                const int32_t length = transport_->length(wparam);
                log(std::string(wparam == 2 ? "message length -> " : "message seconds -> ") +
                    std::to_string(length));
                return length;
            }
            const int32_t position = transport_->position();
            ++position_questions_;
            if (!quiet_positions) log("message position -> " + std::to_string(position));
            return position;
        }
        case 104: {
            hold_point("message playing");
            const int32_t playing = transport_->output_playing() ? 1 : 0;
            log("message playing -> " + std::to_string(playing));
            return playing;
        }
        case 106: {
            const int32_t target = static_cast<int32_t>(static_cast<uint32_t>(wparam));
            hold_point("message jump " + std::to_string(target));
            log("message jump " + std::to_string(target));
            transport_->jump(target);
            return 0;
        }
        case 124: {
            hold_point("message playlist length");
            const int32_t n = transport_->entries();
            log("message playlist length -> " + std::to_string(n));
            return n;
        }
        default:
            log("message WM_USER lParam " + std::to_string(lparam) + " (unknown)");
            return 0;
    }
}

void Player::run_on_player_thread(std::function<void()> work) {
    if (GetCurrentThreadId() == ui_thread_id_) {
        work();
        return;
    }
    SendMessageW(window_.load(), run_work, 0, reinterpret_cast<LPARAM>(&work));
}

void Player::post_to_player_thread(std::function<void()> work) {
    auto* heap = new std::function<void()>(std::move(work));
    PostMessageW(window_.load(), run_work, 1, reinterpret_cast<LPARAM>(heap));
}

void Player::hold_ui_thread() {
    HANDLE begun = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(ui_release_);
    post_to_player_thread([this, begun] {
        ui_busy_ = true;
        log("player busy");
        SetEvent(begun);
        WaitForSingleObject(ui_release_, INFINITE);
        log("player responsive again");
        ui_busy_ = false;
    });
    WaitForSingleObject(begun, INFINITE);
    CloseHandle(begun);
}

void Player::release_ui_thread() {
    SetEvent(ui_release_);
}

namespace {

std::atomic<DWORD> sent_message_delay{0};
std::atomic<long> sent_messages_delayed{0};
std::atomic<HWND> main_window{nullptr};

// Runs on the UI thread before each message sent to one of its windows; `from_this_thread` is
// zero for a message that another thread sent.
LRESULT CALLBACK before_sent_message(int code, WPARAM from_this_thread, LPARAM message) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(message);
    const DWORD delay = sent_message_delay.load();
    if (code == HC_ACTION && !from_this_thread && delay && sent->hwnd != main_window.load()) {
        sent_messages_delayed.fetch_add(1);
        Sleep(delay);
    }
    return CallNextHookEx(nullptr, code, from_this_thread, message);
}

}  // namespace

void Player::delay_sent_messages(DWORD ms) {
    main_window = window_.load();
    sent_message_delay = ms;
    sent_messages_delayed = 0;
    if (ms && !delay_hook_) {
        run_on_player_thread([this] {
            delay_hook_ = SetWindowsHookExW(WH_CALLWNDPROC, before_sent_message, nullptr,
                                            GetCurrentThreadId());
        });
    } else if (!ms && delay_hook_) {
        run_on_player_thread([this] { UnhookWindowsHookEx(delay_hook_); });
        delay_hook_ = nullptr;
    }
}

long Player::delayed_messages() const {
    return sent_messages_delayed.load();
}

void Player::sync_ui_thread() {
    HANDLE handled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    post_to_player_thread([handled] { SetEvent(handled); });
    WaitForSingleObject(handled, INFINITE);
    CloseHandle(handled);
}

HWND Player::open_config(DWORD wait_ms) {
    post_to_player_thread([this] {
        // The dialog's parent is XMPlay's Options window, which the main window owns.
        HWND options =
            CreateWindowExW(0, options_class, L"Options", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                            window_.load(), nullptr, GetModuleHandleW(nullptr), nullptr);
        log("config opened");
        record_->config(instance_, options);
        log("config closed");
        DestroyWindow(options);
        if (quitting_) describe_and_free_instance();
    });
    const double deadline = now_ms() + wait_ms;
    for (;;) {
        HWND found = nullptr;
        EnumThreadWindows(ui_thread_id_, find_dialog, reinterpret_cast<LPARAM>(&found));
        if (found || now_ms() > deadline) return found;
        Sleep(5);
    }
}

bool Player::quit_with_dialog_open(HWND dialog, DWORD wait_ms) {
    if (!module_ || !record_) return true;
    transport_->end_switches();
    transport_->stop_output_to_close();
    quitting_ = true;
    post_to_player_thread([this, dialog] {  // dispatched by the dialog's modal loop
        log("player closing");
        transport_->close();
        char buffer[256];
        log("get_config -> " + std::to_string(record_->get_config(instance_, buffer)));
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    const bool freed = wait_until([this] { return count("free_instance") > 0; }, wait_ms);
    quitting_ = false;
    return free_module(freed ? wait_ms : 0) && freed;
}

void Player::about() {
    post_to_player_thread([this] { record_->about(window_.load()); });
}

}  // namespace sim
