// A test's hook into the fakes: installed and cleared under a lock, and called on a copy that the
// call holds, so that a hook cleared while a watcher thread calls it still runs whole and a new
// one is never seen half-made.
//
// A test installs a hook for a scope: `install` gives an `Installed` that clears the hook when it
// goes and waits until every call of it still running on another thread has returned. Declared
// after what the hook reads (as a hook's captures always are), it goes first: no hook of a test
// runs once the locals it reads are gone, whatever watcher is still running then. `keep` is for a
// hook that owns all it reads; it stays until the next reset.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace fake {

class Installed {
  public:
    Installed() = default;
    explicit Installed(std::function<void()> remove) : remove_(std::move(remove)) {}
    Installed(Installed&& other) noexcept : remove_(std::exchange(other.remove_, nullptr)) {}
    Installed& operator=(Installed&& other) noexcept {
        reset();
        remove_ = std::exchange(other.remove_, nullptr);
        return *this;
    }
    ~Installed() { reset(); }
    // Clears the hook now and waits for its calls on other threads.
    void reset() {
        if (auto remove = std::exchange(remove_, nullptr)) remove();
    }

  private:
    std::function<void()> remove_;
};

template <class Signature>
class Hook {
  public:
    using Function = std::function<Signature>;

    [[nodiscard]] Installed install(Function function) {
        auto installed = std::make_shared<const Function>(std::move(function));
        std::weak_ptr<const Function> mine = installed;
        swap(installed);
        return Installed([this, mine] {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (function_ == mine.lock()) function_.reset();
            }
            while (!mine.expired()) std::this_thread::yield();  // a call still running returns
        });
    }
    void keep(Function function) {
        auto kept = function ? std::make_shared<const Function>(std::move(function)) : nullptr;
        swap(kept);
    }
    void clear() { keep(nullptr); }
    // The hook as it is now, or null: call it through the copy.
    std::shared_ptr<const Function> get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return function_;
    }
    template <class... Args>
    void operator()(Args&&... args) const {
        if (const auto function = get()) (*function)(std::forward<Args>(args)...);
    }

  private:
    void swap(std::shared_ptr<const Function>& other) {
        std::lock_guard<std::mutex> lock(mutex_);
        function_.swap(other);
    }

    mutable std::mutex mutex_;
    std::shared_ptr<const Function> function_;
};

}  // namespace fake
