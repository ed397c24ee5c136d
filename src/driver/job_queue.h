// Jobs done on several threads and reported on the thread that hands them
// in, in the order it handed them in: palfill-tree's images, converted at
// once and printed in the order of their paths, whatever the number of
// threads. Jobs handed in and not yet reported are at most `limit`, so
// that memory follows the threads, not the tree.
//
// When no thread can be made (a limit on processes, say), the queue goes
// on with those it has, down to none: the thread that hands the jobs in
// then does each itself.
#ifndef PALFILL_DRIVER_JOB_QUEUE_H_
#define PALFILL_DRIVER_JOB_QUEUE_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace palfill {

template <typename Job>
struct job_queue {
  struct slot {
    Job job;
    bool done;
  };
  // Done on the thread numbered `thread` (0 when the jobs are done inline).
  std::function<void(Job&, std::size_t thread)> work;
  std::size_t limit = 1;
  std::mutex lock;
  std::condition_variable work_ready;
  std::condition_variable job_done;
  std::deque<slot> window;  // handed in and not reported, in order
  std::size_t taken = 0;    // of those, how many from the front a thread has taken
  bool closing = false;
  std::vector<std::thread> threads;
};

namespace job_queue_detail {

template <typename Job>
void run_jobs(job_queue<Job>& queue, std::size_t thread) {
  std::unique_lock<std::mutex> guard(queue.lock);
  for (;;) {
    queue.work_ready.wait(guard,
                          [&] { return queue.closing || queue.taken < queue.window.size(); });
    if (queue.taken == queue.window.size()) return;  // closing, nothing left
    auto& slot = queue.window[queue.taken++];        // stays where it is until reported
    if (slot.done) continue;
    guard.unlock();
    queue.work(slot.job, thread);
    guard.lock();
    slot.done = true;
    queue.job_done.notify_all();
  }
}

// Reports the jobs at the front that are done, the lock let go meanwhile.
template <typename Job, typename Report>
void report_done(job_queue<Job>& queue, std::unique_lock<std::mutex>& guard, Report& report) {
  std::vector<Job> finished;
  while (!queue.window.empty() && queue.window.front().done) {
    finished.push_back(std::move(queue.window.front().job));
    queue.window.pop_front();
    if (queue.taken > 0) --queue.taken;  // a job done without work may not have been taken
  }
  if (finished.empty()) return;
  guard.unlock();
  for (Job& job : finished) report(job);
  guard.lock();
}

}  // namespace job_queue_detail

// Starts up to `count` threads doing `work`, with a window of `per_thread`
// jobs for each; returns how many it could start. One thread alone is
// none: the jobs are then done inline, as they come.
template <typename Job>
std::size_t start_jobs(job_queue<Job>& queue, std::size_t count, std::size_t per_thread,
                       std::function<void(Job&, std::size_t)> work) {
  queue.work = std::move(work);
  for (std::size_t i = 0; count > 1 && i < count; ++i) {
    try {
      queue.threads.emplace_back(job_queue_detail::run_jobs<Job>, std::ref(queue), i);
    } catch (const std::system_error&) {
      break;  // the system gives no more: go on with those there are
    }
  }
  queue.limit = per_thread * (queue.threads.empty() ? 1 : queue.threads.size());
  return queue.threads.size();
}

// Hands `job` in; `report` gets each job once done, in the order they came,
// on this thread. A job that needs no work is reported in its turn.
template <typename Job, typename Report>
void submit_job(job_queue<Job>& queue, Job job, bool needs_work, Report& report) {
  if (queue.threads.empty()) {
    if (needs_work) queue.work(job, 0);
    report(job);
    return;
  }
  std::unique_lock<std::mutex> guard(queue.lock);
  for (;;) {
    job_queue_detail::report_done(queue, guard, report);
    if (queue.window.size() < queue.limit) break;
    // The front may have finished while report_done() let the lock go,
    // its wake-up then gone unheard: the wait looks first.
    queue.job_done.wait(guard, [&] { return queue.window.front().done; });
  }
  queue.window.push_back({std::move(job), !needs_work});
  queue.work_ready.notify_one();
}

// Reports every job still in the queue, then ends its threads.
template <typename Job, typename Report>
void finish_jobs(job_queue<Job>& queue, Report& report) {
  std::unique_lock<std::mutex> guard(queue.lock);
  queue.closing = true;
  queue.work_ready.notify_all();
  for (;;) {
    job_queue_detail::report_done(queue, guard, report);
    if (queue.window.empty()) break;
    queue.job_done.wait(guard, [&] { return queue.window.front().done; });
  }
  guard.unlock();
  for (std::thread& thread : queue.threads) thread.join();
  queue.threads.clear();
}

// Drops the jobs no thread has taken, waits for those taken, and ends the
// threads, reporting nothing: for a run that stops.
template <typename Job>
void abandon_jobs(job_queue<Job>& queue) {
  {
    std::unique_lock<std::mutex> guard(queue.lock);
    queue.closing = true;
    while (queue.window.size() > queue.taken) queue.window.pop_back();
    queue.work_ready.notify_all();
  }
  for (std::thread& thread : queue.threads) thread.join();
  queue.threads.clear();
  queue.window.clear();
  queue.taken = 0;
}

}  // namespace palfill

#endif  // PALFILL_DRIVER_JOB_QUEUE_H_
