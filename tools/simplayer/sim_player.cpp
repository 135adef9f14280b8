#include "sim_player.h"

#include "playback_thread.h"

namespace sim {

Player* Player::instance = nullptr;

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

Player::Player() {
    instance = this;
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&created_);
    transport_ = Transport::make(Behaviour::xmplay, *this);
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ui_release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ui_thread_ = std::thread([this] { ui_thread_main(); });
    WaitForSingleObject(ready_, INFINITE);
    playback_ = std::make_unique<PlaybackThread>(*this);
}

Player::~Player() {
    release_ui_thread();
    if (module_) unload();
    transport_->end_switches();
    playback_.reset();
    if (HWND w = window_.load()) PostMessageW(w, WM_CLOSE, 0, 0);
    ui_thread_.join();
    transport_.reset();
    CloseHandle(ready_);
    CloseHandle(ui_release_);
    for (char* t : texts_) std::free(t);
    instance = nullptr;
}

double Player::now_ms() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - created_.QuadPart) * 1000.0 /
           static_cast<double>(frequency_.QuadPart);
}

// --- Playback, handed to the transport ------------------------------------------------------

void Player::set_behaviour(Behaviour behaviour) {
    if (behaviour == transport_->behaviour()) return;
    auto other = Transport::make(behaviour, *this);
    other->set_playlist(transport_->playlist());
    transport_ = std::move(other);
}

void Player::set_playlist(std::vector<Track> tracks) {
    transport_->set_playlist(std::move(tracks));
}

void Player::play(size_t index) {
    run_on_track_thread([this, index] {
        transport_->close();
        transport_->open(index);
    });
}

void Player::stop() {
    run_on_track_thread([this] { transport_->close(); });
}

void Player::play_while_busy(size_t index) {
    run_on_track_thread(
        [this, index] {
            transport_->close();
            transport_->open(index);
        },
        false);
}

void Player::press_stop() {
    transport_->press_stop();
}

void Player::seek(int32_t ms) {
    transport_->seek(ms);
}

void Player::set_real_time() {
    transport_->set_real_time();
}

void Player::set_position(int32_t ms) {
    transport_->set_position(ms);
}

size_t Player::current() const {
    return transport_->current();
}

bool Player::playing() const {
    return transport_->playing();
}

int Player::subsong() const {
    return transport_->subsong();
}

int32_t Player::position_now() const {
    return transport_->position();
}

}  // namespace sim
