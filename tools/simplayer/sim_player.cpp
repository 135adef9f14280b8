#include "sim_player.h"

#include "dialog_driver.h"
#include "thread_watch.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace sim {

Player* Player::instance = nullptr;

namespace {

constexpr UINT run_work = WM_APP + 1;
constexpr wchar_t window_class[] = L"QuarvelSimulatedPlayer";
constexpr wchar_t options_class[] = L"QuarvelSimulatedOptions";
constexpr Instance no_instance = nullptr;

Instance the_instance = no_instance;
thread_local bool on_worker = false;  // a thread the player started for a track change

// --- The three tables, as the player hands them out ----------------------------------
HWND WINAPI misc_main_window() {
    return Player::instance->window();
}
void WINAPI misc_release(void* text) {
    Player::instance->release(text);
}
char* WINAPI misc_get_tag(int number) {
    return Player::instance->tag(number);
}
BOOL WINAPI misc_shortcut(const char* command) {
    return Player::instance->shortcut(command);
}

BOOL WINAPI settings_get_int(const char* section, const char* key, int* value) {
    return Player::instance->settings_get(section, key, value);
}
BOOL WINAPI settings_set_bin(const char* section, const char* key, const void* data, DWORD size) {
    return Player::instance->settings_remove(section, key, data, size);
}
BOOL WINAPI settings_set_int(const char* section, const char* key, const int* value) {
    return Player::instance->settings_set(section, key, value);
}

BOOL WINAPI status_is_playing() {
    return Player::instance->is_playing_query();
}

void* misc_table[32];
void* settings_table[32];
void* status_table[32];

void fill_tables() {
    misc_table[1] = reinterpret_cast<void*>(misc_main_window);
    misc_table[4] = reinterpret_cast<void*>(misc_release);
    misc_table[12] = reinterpret_cast<void*>(misc_get_tag);
    misc_table[16] = reinterpret_cast<void*>(misc_shortcut);
    settings_table[2] = reinterpret_cast<void*>(settings_get_int);
    settings_table[3] = reinterpret_cast<void*>(settings_set_bin);
    settings_table[5] = reinterpret_cast<void*>(settings_set_int);
    status_table[0] = reinterpret_cast<void*>(status_is_playing);
}

// A visible dialog window of the player's thread.
BOOL CALLBACK find_dialog(HWND w, LPARAM out) {
    wchar_t cls[16];
    if (IsWindowVisible(w) && GetClassNameW(w, cls, 16) && wcscmp(cls, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(out) = w;
        return FALSE;
    }
    return TRUE;
}

void* WINAPI get_interface_entry(DWORD number) {
    return Player::instance->get_interface(number);
}

std::string key_of(const char* section, const char* key) {
    return std::string(section ? section : "(null)") + "/" + (key ? key : "(null)");
}

std::string quoted(const char* text) {
    return text ? "\"" + std::string(text) + "\"" : "null";
}

// Waits for `done`; meanwhile, unless `answering` is false (a caller busy elsewhere), the caller
// answers messages sent to its own windows, as it would inside SendMessage.
void wait_answering(HANDLE done, bool answering) {
    if (!answering) {
        WaitForSingleObject(done, INFINITE);
        return;
    }
    while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

std::wstring program_directory() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    const size_t slash = dir.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1);
}

// The playback thread: runs what is handed to it and, while it delivers the track events,
// notices the end of a track playing in real time (every 5 ms, as the UI thread's timer does
// otherwise). It has no window, so nothing is sent to it while it waits for the plug-in.
class Player::PlaybackThread {
  public:
    explicit PlaybackThread(Player& player) : player_(player) {
        thread_ = std::thread([this] { main(); });
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return id_ != 0; });
    }
    ~PlaybackThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    DWORD id() const { return id_; }

    // Runs `work` on this thread and returns when it is done. Meanwhile the caller answers
    // messages sent to its own windows, as it would inside SendMessage, unless `answering` is
    // false (a caller busy elsewhere).
    void call(const std::function<void()>& work, bool answering) {
        if (GetCurrentThreadId() == id_) {
            work();
            return;
        }
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back([&] {
                work();
                SetEvent(done);
            });
        }
        changed_.notify_all();
        wait_answering(done, answering);
        CloseHandle(done);
    }

  private:
    void main() {
        std::unique_lock<std::mutex> lock(mutex_);
        id_ = GetCurrentThreadId();
        changed_.notify_all();
        while (!stopping_) {
            if (queue_.empty()) changed_.wait_for(lock, std::chrono::milliseconds(5));
            while (!queue_.empty()) {
                std::function<void()> work = std::move(queue_.front());
                queue_.pop_front();
                lock.unlock();
                work();
                lock.lock();
            }
            if (player_.track_events() == TrackEvents::playback_thread) {
                lock.unlock();
                player_.check_track_end();
                lock.lock();
            }
        }
    }

    Player& player_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    DWORD id_ = 0;
    std::thread thread_;
};

Player::Player() {
    fill_tables();
    instance = this;
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&created_);
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ui_release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    switch_cancel_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ui_thread_ = std::thread([this] { ui_thread_main(); });
    WaitForSingleObject(ready_, INFINITE);
    playback_ = std::make_unique<PlaybackThread>(*this);
}

Player::~Player() {
    release_ui_thread();
    if (module_) unload();
    end_switch();
    playback_.reset();
    if (HWND w = window_.load()) PostMessageW(w, WM_CLOSE, 0, 0);
    ui_thread_.join();
    CloseHandle(ready_);
    CloseHandle(ui_release_);
    CloseHandle(switch_cancel_);
    for (char* t : texts_) std::free(t);
    instance = nullptr;
}

double Player::now_ms() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - created_.QuadPart) * 1000.0 /
           static_cast<double>(frequency_.QuadPart);
}

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
        if (self->track_events() != TrackEvents::playback_thread) self->check_track_end();
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
                int32_t length;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    length = playing_ && current_ < playlist_.size() ? playlist_[current_].length_ms
                                                                     : -1;
                }
                // XMPlay answers -1 in milliseconds, and whole seconds, truncated.
                if (wparam == 2 && !length_in_ms) length = -1;
                if (wparam == 1 && length > 0) length /= 1000;
                log(std::string(wparam == 2 ? "message length -> " : "message seconds -> ") +
                    std::to_string(length));
                return length;
            }
            int32_t position;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                position = position_locked();
            }
            ++position_questions_;
            if (!quiet_positions) log("message position -> " + std::to_string(position));
            return position;
        }
        case 106: {
            const int32_t target = static_cast<int32_t>(static_cast<uint32_t>(wparam));
            hold_point("message jump " + std::to_string(target));
            log("message jump " + std::to_string(target));
            std::lock_guard<std::mutex> lock(mutex_);
            track_began_ms_ = now_ms() - target;
            fixed_position_ = target;
            return 0;
        }
        case 124: {
            hold_point("message playlist length");
            int32_t n;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                n = static_cast<int32_t>(playlist_.size());
            }
            log("message playlist length -> " + std::to_string(n));
            return n;
        }
        default:
            log("message WM_USER lParam " + std::to_string(lparam) + " (unknown)");
            return 0;
    }
}

int32_t Player::position_locked() const {
    if (switching_) return frozen_position_;
    if (!real_time_) return fixed_position_;
    if (!playing_) return -1;
    if (stopped_) return 0;
    return static_cast<int32_t>(std::floor(now_ms() - track_began_ms_));
}

int32_t Player::position_now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return position_locked();
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

void Player::run_on_track_thread(std::function<void()> work, bool answering) {
    switch (track_events()) {
        case TrackEvents::ui_thread:
            return run_on_player_thread(std::move(work));
        case TrackEvents::playback_thread:
            return playback_->call(work, answering);
        case TrackEvents::new_thread: {
            HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            std::thread change([&] {
                on_worker = true;
                work();
                SetEvent(done);
            });
            wait_answering(done, answering);
            change.join();
            CloseHandle(done);
        }
    }
}

DWORD Player::playback_thread_id() const {
    return playback_->id();
}

void Player::set_track_events(TrackEvents thread) {
    track_events_ = thread;
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

void Player::hold_once(std::string at, std::function<void()> work) {
    std::lock_guard<std::mutex> lock(hold_mutex_);
    hold_at_ = std::move(at);
    hold_work_ = std::move(work);
}

void Player::hold_point(const std::string& what) {
    std::function<void()> work;
    {
        std::lock_guard<std::mutex> lock(hold_mutex_);
        if (!hold_work_ || what.compare(0, hold_at_.size(), hold_at_) != 0) return;
        work = std::move(hold_work_);
        hold_work_ = nullptr;
    }
    log("held at \"" + what + "\"");
    work();
}

bool Player::wait_for_positions(long n, DWORD guard_ms) {
    const long target = position_questions() + n;
    return wait_until([&] { return position_questions() >= target; }, guard_ms);
}

long Player::plugin_threads_running() const {
    return sim::plugin_threads_running();
}

void Player::log(const std::string& what, bool message) {
    Event e;
    e.at_ms = now_ms();
    e.thread = GetCurrentThreadId();
    e.what = what;
    e.message = message;
    e.player_worker = on_worker;
    std::shared_ptr<const EventHook> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        e.track_ms = playing_ ? e.at_ms - track_began_ms_ : -1;
        events_.push_back(e);
        hook = on_event_;
    }
    if (hook) (*hook)(e);
}

void Player::set_on_command(CommandHook hook) {
    auto made = hook ? std::make_shared<const CommandHook>(std::move(hook)) : nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    on_command_.swap(made);
}

void Player::set_on_event(EventHook hook) {
    auto made = hook ? std::make_shared<const EventHook>(std::move(hook)) : nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    on_event_.swap(made);
}

std::vector<Event> Player::events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<Event> Player::events(const std::string& prefix) {
    std::vector<Event> out;
    for (auto& e : events())
        if (e.what.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
}

size_t Player::count(const std::string& prefix) {
    return events(prefix).size();
}

void Player::clear_events() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

std::map<std::string, int32_t> Player::store() {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_;
}

void Player::set_store(std::map<std::string, int32_t> values) {
    std::lock_guard<std::mutex> lock(mutex_);
    store_ = std::move(values);
}

size_t Player::current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

bool Player::playing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return playing_;
}

int Player::subsong() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subsong_;
}

// --- The plug-in ---------------------------------------------------------------------

bool Player::load(const std::wstring& dll_path, std::string* error) {
    module_ = LoadLibraryW(dll_path.c_str());
    if (!module_) {
        const DWORD code = GetLastError();
        if (error) {
            *error = "cannot load " + narrow(dll_path) + " (error " + std::to_string(code) + ")";
            if (code == ERROR_BAD_EXE_FORMAT)
                *error += ": it is not built for this player's architecture (" +
                          std::string(sizeof(void*) == 8 ? "x86-64" : "i386") + ")";
        }
        return false;
    }
    if (!GetProcAddress(module_, "XMPDSP_GetInterface2")) {
        if (error) *error = narrow(dll_path) + " has no XMPDSP_GetInterface2 export";
        FreeLibrary(module_);
        module_ = nullptr;
        return false;
    }
    forget_plugin_threads();
    ResetEvent(switch_cancel_);
    threads_watched_ = watch_threads(module_);
    log("plug-in loaded: " + narrow(dll_path));
    return true;
}

const PluginRecord* Player::bind(DWORD face) {
    auto fn = reinterpret_cast<BindFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "XMPDSP_GetInterface2")));
    const PluginRecord* r = fn(face, get_interface_entry);
    log("bind face " + std::to_string(face) + (r ? " -> record" : " -> null"));
    if (r) record_ = r;
    return r;
}

void Player::start_instance() {
    run_on_player_thread([this] {
        the_instance = record_->new_instance();
        instance_live_ = true;
        log("new_instance -> " + std::to_string(reinterpret_cast<uintptr_t>(the_instance)));
        const BOOL taken = record_->set_config(the_instance, nullptr, 0);
        log(std::string("set_config(0 bytes) -> ") + (taken ? "true" : "false"));
    });
}

bool Player::unload(DWORD wait_ms) {
    if (!module_) return true;
    end_switch();
    if (record_) {
        // Like a real player, no track event reaches an instance after free_instance, not
        // even one that a watcher's last command causes meanwhile.
        run_on_track_thread([this] { instance_live_ = false; });
        run_on_player_thread([this] {
            char buffer[256];
            log("get_config -> " + std::to_string(record_->get_config(the_instance, buffer)));
            record_->free_instance(the_instance);
            log("free_instance");
        });
    }
    return free_module(wait_ms);
}

// FreeLibrary, then waits until the module has gone. A module that stays once none of its
// threads runs any more holds itself (pinned): that is not waited for.
bool Player::free_module(DWORD wait_ms) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module_, path, MAX_PATH);
    std::wstring name(path, n);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    FreeLibrary(module_);
    module_ = nullptr;
    record_ = nullptr;
    const double deadline = now_ms() + wait_ms;
    while (GetModuleHandleW(name.c_str())) {
        if (now_ms() > deadline ||
            (threads_watched_ && plugin_threads_running() == 0 && GetModuleHandleW(name.c_str()))) {
            log("plug-in stays loaded");
            return false;
        }
        Sleep(1);
    }
    log("plug-in unloaded");
    return true;
}

void* Player::get_interface(DWORD number) {
    log("get_interface " + std::to_string(number));
    switch (number) {
        case 0:
            return misc_table;
        case 1:
            return settings_table;
        case 4:
            return status_table;
        default:
            return nullptr;
    }
}

// --- Playback --------------------------------------------------------------------------

void Player::set_playlist(std::vector<Track> tracks) {
    std::lock_guard<std::mutex> lock(mutex_);
    playlist_ = std::move(tracks);
    current_ = 0;
}

void Player::open_track(size_t index) {
    std::string file;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = index;
        playing_ = true;
        switching_ = stopped_ = false;
        subsong_ = 0;
        track_began_ms_ = now_ms();
        fixed_position_ = 0;
        file = playlist_[index].file;
    }
    log("track opened: " + file);
    if (instance_live_ && record_) record_->new_track(the_instance, file.c_str());
}

void Player::close_track() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!playing_) return;
        playing_ = stopped_ = false;
        fixed_position_ = -1;
    }
    log("track closed");
    if (!instance_live_ || !record_) return;
    const double began = now_ms();
    record_->new_track(the_instance, nullptr);
    last_close_ms_ = now_ms() - began;
}

void Player::play(size_t index) {
    run_on_track_thread([this, index] {
        close_track();
        open_track(index);
    });
}

void Player::stop() {
    run_on_track_thread([this] { close_track(); });
}

void Player::play_while_busy(size_t index) {
    run_on_track_thread(
        [this, index] {
            close_track();
            open_track(index);
        },
        false);
}

void Player::check_track_end() {
    bool next_subsong = false;
    size_t next = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!real_time_ || !playing_ || switching_ || stopped_ || current_ >= playlist_.size())
            return;
        const Track& track = playlist_[current_];
        if (now_ms() - track_began_ms_ < track.length_ms) return;
        next_subsong = subsong_ + 1 < track.subsongs;
        if (next_subsong) {
            ++subsong_;
            track_began_ms_ = now_ms();
        }
        next = (current_ + 1) % playlist_.size();
    }
    if (next_subsong) {
        log("end of subsong: subsong " + std::to_string(subsong() + 1) + " begins");
        return;
    }
    log("end of track");
    if (track_events() == TrackEvents::new_thread) return switch_later(0);
    close_track();
    open_track(next);
}

void Player::switch_later(DWORD delay_ms) {
    std::lock_guard<std::mutex> switches(switch_mutex_);
    if (WaitForSingleObject(switch_cancel_, 0) == WAIT_OBJECT_0) return;  // unloading
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (switching_ || !playing_ || playlist_.empty()) return;
        frozen_position_ = position_locked();
        switching_ = true;
    }
    if (switcher_.joinable()) switcher_.join();  // the last one is done: it ended its switch
    switcher_ = std::thread([this, delay_ms] {
        on_worker = true;
        if (WaitForSingleObject(switch_cancel_, delay_ms) == WAIT_OBJECT_0) return;
        hold_point("switch to the next entry");
        const auto change = [this] {
            size_t next;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                next = (current_ + 1) % playlist_.size();
            }
            close_track();
            open_track(next);
        };
        // XMPlay changes tracks on a thread of its own; the other modes keep theirs.
        if (track_events() == TrackEvents::new_thread)
            change();
        else
            run_on_track_thread(change);
    });
}

void Player::end_switch() {
    std::lock_guard<std::mutex> switches(switch_mutex_);
    SetEvent(switch_cancel_);  // and no switch begins until the next load
    if (switcher_.joinable()) switcher_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    switching_ = false;
}

void Player::set_real_time() {
    std::lock_guard<std::mutex> lock(mutex_);
    real_time_ = true;
}

void Player::set_position(int32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    real_time_ = false;
    fixed_position_ = ms;
}

void Player::perform(const std::string& command) {
    size_t entries;
    bool was_playing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries = playlist_.size();
        was_playing = playing_;
    }
    if (command == "key128") {  // next playlist entry
        log("-> next playlist entry");
        if (entries == 0) return;
        const size_t next = (current() + 1) % entries;
        close_track();
        open_track(next);
    } else if (command == "key81") {  // stop
        log(was_playing ? "-> stop" : "-> stop (already stopped)");
        close_track();
    } else if (command == "key80") {  // play
        log(was_playing ? "-> play (already playing)" : "-> play");
        if (!was_playing && entries > 0) open_track(current());
    } else if (command == "key86") {  // next subsong
        std::unique_lock<std::mutex> lock(mutex_);
        const std::string outcome = next_subsong_locked();
        lock.unlock();
        log(outcome);
    } else {
        log("-> unknown command, ignored");
    }
}

std::string Player::next_subsong_locked() {
    if (!playing_ || switching_ || subsong_ + 1 >= playlist_[current_].subsongs)
        return "-> no further subsong";
    ++subsong_;
    stopped_ = false;
    track_began_ms_ = now_ms();
    fixed_position_ = 0;
    return "-> next subsong: " + std::to_string(subsong_ + 1) + " of " +
           std::to_string(playlist_[current_].subsongs);
}

// As XMPlay: "key128" switches later, on a thread of its own; "key81" stops before it returns,
// taking its time, and "key80" then plays the entry again from its start, without track events;
// "key86" steps before it returns.
void Player::perform_as_xmplay(const std::string& command) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool entry = playing_ && !switching_;
    std::string outcome;
    if (command == "key128") {
        outcome = entry
                      ? "-> next playlist entry, in " + std::to_string(next_entry_delay_ms) + " ms"
                      : "-> next playlist entry (already switching)";
        lock.unlock();
        switch_later(next_entry_delay_ms);
    } else if (command == "key81") {
        outcome = entry && !stopped_ ? "-> stop" : "-> stop (already stopped)";
        if (entry) stopped_ = true, fixed_position_ = 0;
        lock.unlock();
        Sleep(stop_takes_ms);
    } else if (command == "key80") {
        outcome = entry && stopped_ ? "-> play: the entry again from its start"
                                    : "-> play (already playing)";
        if (entry && stopped_) stopped_ = false, track_began_ms_ = now_ms(), fixed_position_ = 0;
        lock.unlock();
    } else if (command == "key86") {
        outcome = next_subsong_locked();
        lock.unlock();
    } else {
        lock.unlock();
        outcome = "-> unknown command, ignored";
    }
    log(outcome);
}

BOOL Player::shortcut(const char* command) {
    const std::string c = command ? command : "";
    hold_point("command " + c);
    log("command " + c);
    std::shared_ptr<const CommandHook> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = on_command_;
    }
    if (hook && (*hook)(c)) return TRUE;
    if (commands_act_at_once)
        run_on_track_thread([this, c] { perform(c); });
    else
        perform_as_xmplay(c);
    return TRUE;
}

HWND Player::open_config(DWORD wait_ms) {
    post_to_player_thread([this] {
        // The dialog's parent is XMPlay's Options window, which the main window owns.
        HWND options =
            CreateWindowExW(0, options_class, L"Options", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                            window_.load(), nullptr, GetModuleHandleW(nullptr), nullptr);
        log("config opened");
        record_->config(the_instance, options);
        log("config closed");
        DestroyWindow(options);
        if (!quitting_) return;
        log("get_description -> " + quoted(record_->get_description(the_instance)));
        instance_live_ = false;
        record_->free_instance(the_instance);
        log("free_instance");
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
    end_switch();
    quitting_ = true;
    post_to_player_thread([this, dialog] {  // dispatched by the dialog's modal loop
        log("player closing");
        close_track();
        char buffer[256];
        log("get_config -> " + std::to_string(record_->get_config(the_instance, buffer)));
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    const bool freed = wait_until([this] { return count("free_instance") > 0; }, wait_ms);
    quitting_ = false;
    return free_module(freed ? wait_ms : 0) && freed;
}

void Player::about() {
    post_to_player_thread([this] { record_->about(window_.load()); });
}

// --- Services --------------------------------------------------------------------------

BOOL Player::settings_get(const char* section, const char* key, int* value) {
    const std::string k = key_of(section, key);
    bool found = false;
    int32_t v = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = store_.find(k);
        if (it != store_.end()) {
            found = true;
            v = it->second;
        }
    }
    if (found) *value = v;
    log("store read " + k + (found ? " -> " + std::to_string(v) : " -> absent"));
    return found ? TRUE : FALSE;
}

BOOL Player::settings_set(const char* section, const char* key, const int* value) {
    const std::string k = key_of(section, key);
    hold_point("store write " + k + " = " + std::to_string(*value));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        store_[k] = *value;
    }
    log("store write " + k + " = " + std::to_string(*value));
    return TRUE;
}

BOOL Player::settings_remove(const char* section, const char* key, const void* data, DWORD size) {
    const std::string k = key_of(section, key);
    if (data || size) {
        log("store set binary " + k + " (" + std::to_string(size) + " bytes, unexpected)");
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        store_.erase(k);
    }
    log("store remove " + k);
    return TRUE;
}

char* Player::tag(int number) {
    hold_point("tag " + std::to_string(number));
    const char* text = nullptr;
    std::string value;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Tag -5 tells a track's subsong count; a track without subsongs has no such tag.
        if (number == -5 && playing_ && current_ < playlist_.size() &&
            playlist_[current_].subsongs > 0) {
            value = std::to_string(playlist_[current_].subsongs);
            text = value.c_str();
        }
    }
    char* copy = text ? strdup(text) : nullptr;
    if (copy) {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back(copy);
    }
    log("tag " + std::to_string(number) + " -> " + quoted(copy));
    return copy;
}

void Player::release(void* text) {
    std::string shown = "<not handed out>";
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = texts_.begin(); it != texts_.end(); ++it) {
            if (*it == text) {
                shown = quoted(*it);
                std::free(*it);
                texts_.erase(it);
                break;
            }
        }
    }
    log("release " + shown);
}

BOOL Player::is_playing_query() {
    hold_point("status playing");
    bool p;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        p = playing_ && !switching_ && !stopped_;  // switching: stopped meanwhile
    }
    log(std::string("status playing -> ") + (p ? "1" : "0"));
    return p ? TRUE : FALSE;
}

}  // namespace sim
