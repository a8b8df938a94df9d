#pragma once
// A fixed set of worker threads that run tasks handed to them, for work
// that can go on beside the thread that hands it out (compressing the next
// pieces of a backup while the archive is written). Results come back
// through futures, so the caller takes them in the order it chose; it also
// bounds how much is in flight by how many futures it keeps.
//
// With 0 threads a task runs at once on the thread that submits it: the
// same results, one at a time.
//
// submit() may be called from any thread. The destructor runs what is still
// queued and joins the workers; a task must not wait for a later one.
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/thread_annotations.h"

namespace vardel::platform {

class WorkPool {
  public:
    explicit WorkPool(unsigned threads);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    unsigned threads() const { return static_cast<unsigned>(workers_.size()); }
    // Processors this process may run on (at least 1).
    static unsigned processors();

    // Queues `fn`; its result or exception comes through the future.
    template <class F>
    auto submit(F&& fn) -> std::future<std::invoke_result_t<F>> {
        using R = std::invoke_result_t<F>;
        auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(fn));
        std::future<R> result = task->get_future();
        if (workers_.empty()) {
            (*task)();
        } else {
            enqueue([task] { (*task)(); });
        }
        return result;
    }

  private:
    void enqueue(std::function<void()> job) EXCLUDES(mutex_);
    void work() EXCLUDES(mutex_);

    Mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::vector<std::thread> workers_;
};

}  // namespace vardel::platform
