// Linked into every program of a ThreadSanitizer build, and only there.
//
// std::timed_mutex::try_lock_for locks through pthread_mutex_clocklock,
// which neither GCC 12's nor LLVM 14's ThreadSanitizer intercepts. Unseen,
// such a lock makes TSan report its unlock as "unlock of an unlocked mutex"
// and lose the order that the mutex gives, so every update (which holds the
// window's update lock this way) would fail the run. This definition takes
// the call over and waits through pthread_mutex_timedlock, which TSan sees.
#include <pthread.h>
#include <time.h>

namespace {

constexpr long long kNanosPerSecond = 1'000'000'000;

long long Nanos(const timespec& time) {
    return static_cast<long long>(time.tv_sec) * kNanosPerSecond + time.tv_nsec;
}

}  // namespace

extern "C" int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock,
                                       const timespec* deadline) noexcept {
    if (clock == CLOCK_REALTIME) {
        return pthread_mutex_timedlock(mutex, deadline);
    }
    // The same time left, as a deadline on the clock timedlock measures.
    timespec now{};
    timespec wall{};
    clock_gettime(clock, &now);
    clock_gettime(CLOCK_REALTIME, &wall);
    long long left = Nanos(*deadline) - Nanos(now);
    long long until = Nanos(wall) + (left > 0 ? left : 0);
    timespec realDeadline{};
    realDeadline.tv_sec = static_cast<time_t>(until / kNanosPerSecond);
    realDeadline.tv_nsec = static_cast<long>(until % kNanosPerSecond);
    return pthread_mutex_timedlock(mutex, &realDeadline);
}
