#include "platform/work_pool.h"

#include <sched.h>

namespace vardel::platform {

WorkPool::WorkPool(unsigned threads) {
    workers_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

WorkPool::~WorkPool() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

unsigned WorkPool::processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

void WorkPool::enqueue(std::function<void()> job) {
    {
        MutexLock lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void WorkPool::work() {
    for (;;) {
        std::function<void()> job;
        {
            MutexLock lock(mutex_);
            while (queue_.empty() && !stopping_) mutex_.wait(wake_);
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}

}  // namespace vardel::platform
