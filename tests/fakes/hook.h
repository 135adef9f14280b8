// A test's hook into the fakes: installed and cleared under a lock, and called on a copy that the
// call holds, so that a hook cleared while a watcher thread calls it still runs whole and a new
// one is never seen half-made. A hook must own what it reads (or the test must end the watchers
// before what it reads goes): a watcher may call it until the fixture's teardown has stopped it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace fake {

template <class Signature>
class Hook {
  public:
    using Function = std::function<Signature>;

    Hook& operator=(Function function) {
        auto installed = function ? std::make_shared<const Function>(std::move(function)) : nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        function_.swap(installed);
        return *this;
    }
    // The hook as it is now, or null: call it through the copy.
    std::shared_ptr<const Function> get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return function_;
    }
    explicit operator bool() const { return get() != nullptr; }
    template <class... Args>
    void operator()(Args&&... args) const {
        if (const auto function = get()) (*function)(std::forward<Args>(args)...);
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Function> function_;
};

}  // namespace fake
