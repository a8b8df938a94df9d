#pragma once
// Clang's thread-safety annotations, and a mutex that carries them (the
// standard library's has none). A clang build with -Wthread-safety checks
// that every member marked GUARDED_BY is touched only with its mutex held;
// other compilers see plain code.
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define VARDEL_TSA(x) __attribute__((x))
#else
#define VARDEL_TSA(x)
#endif

#define CAPABILITY(x) VARDEL_TSA(capability(x))
#define SCOPED_CAPABILITY VARDEL_TSA(scoped_lockable)
#define GUARDED_BY(x) VARDEL_TSA(guarded_by(x))
#define PT_GUARDED_BY(x) VARDEL_TSA(pt_guarded_by(x))
#define REQUIRES(...) VARDEL_TSA(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) VARDEL_TSA(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VARDEL_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VARDEL_TSA(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VARDEL_TSA(try_acquire_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VARDEL_TSA(assert_capability(x))
#define NO_THREAD_SAFETY_ANALYSIS VARDEL_TSA(no_thread_safety_analysis)

namespace vardel::platform {

class CAPABILITY("mutex") Mutex {
  public:
    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_.try_lock(); }

    // Waits on `cv` with this mutex held before and after, until notified
    // (or spuriously: callers loop on their condition) or `deadline`.
    template <class Clock, class Duration>
    std::cv_status wait_until(std::condition_variable& cv,
                              const std::chrono::time_point<Clock, Duration>& deadline)
        REQUIRES(this) {
        std::unique_lock<std::mutex> lock(m_, std::adopt_lock);
        std::cv_status s = cv.wait_until(lock, deadline);
        lock.release();
        return s;
    }
    void wait(std::condition_variable& cv) REQUIRES(this) {
        std::unique_lock<std::mutex> lock(m_, std::adopt_lock);
        cv.wait(lock);
        lock.release();
    }

  private:
    std::mutex m_;
};

// A mutex its holder may take again: the log file's, whose holder logs.
class CAPABILITY("mutex") RecursiveMutex {
  public:
    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }
    // Tells the analysis what a lock held elsewhere (a transaction) ensures.
    void assert_held() const ASSERT_CAPABILITY(this) {}
    std::recursive_mutex& native() { return m_; }

  private:
    std::recursive_mutex m_;
};

// Holds a Mutex (or a RecursiveMutex) for its scope.
template <class M>
class SCOPED_CAPABILITY BasicMutexLock {
  public:
    explicit BasicMutexLock(M& m) ACQUIRE(m) : m_(m) { m_.lock(); }
    ~BasicMutexLock() RELEASE() { m_.unlock(); }
    BasicMutexLock(const BasicMutexLock&) = delete;
    BasicMutexLock& operator=(const BasicMutexLock&) = delete;

  private:
    M& m_;
};
using MutexLock = BasicMutexLock<Mutex>;
using RecursiveMutexLock = BasicMutexLock<RecursiveMutex>;

}  // namespace vardel::platform
