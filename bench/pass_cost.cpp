// Cost of one idle watcher pass (nothing due), in nanoseconds, natively.
#include <atomic>
#include <chrono>
#include <cstdio>

#include "settings/settings.h"
#include "watchers/loop_watcher.h"
#include "watchers/time_limit_watcher.h"

extern std::atomic<long> bench_messages;

namespace {

template <class Pass>
double ns_per_pass(Pass pass, long passes) {
    const auto begin = std::chrono::steady_clock::now();
    for (long i = 0; i < passes; ++i) pass();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - begin).count() / passes;
}

}  // namespace

int main() {
    constexpr long passes = 50'000'000;
    quarvel::set(quarvel::settings.time_limit, 60000);
    quarvel::set(quarvel::settings.start_loop_time, 10);
    quarvel::set(quarvel::settings.end_loop_time, 1000);

    bench_messages = 0;
    const double time_ns = ns_per_pass(quarvel::time_limit_pass, passes);
    const double time_messages = static_cast<double>(bench_messages.load()) / passes;
    bench_messages = 0;
    const quarvel::CloseStamp armed_for = quarvel::track_close_stamp();
    const double loop_ns = ns_per_pass([armed_for] { quarvel::loop_pass(armed_for); }, passes);
    const double loop_messages = static_cast<double>(bench_messages.load()) / passes;

    std::printf("idle time-limit pass: %.2f ns, %.2f host messages\n", time_ns, time_messages);
    std::printf("idle loop pass:       %.2f ns, %.2f host messages\n", loop_ns, loop_messages);
    return 0;
}
