// The ordered job queue alone: whatever the threads and however long each
// job takes, jobs are reported once each, in the order they came, on the
// thread that handed them in; jobs that need no work wait their turn; and
// a queue told to stop reports nothing more.
#include "driver/job_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

struct numbered {
  explicit numbered(int n) : number(n) {}
  int number;
  bool worked = false;
  std::thread::id reported_on;
};

TEST(job_queue, reports_every_job_once_in_the_order_it_came) {
  for (const std::size_t threads : {0, 1, 3, 8}) {
    SCOPED_TRACE(threads);
    palfill::job_queue<numbered> queue;
    palfill::start_jobs<numbered>(queue, threads, 2, [](numbered& job, std::size_t) {
      std::this_thread::sleep_for(std::chrono::microseconds((job.number * 7919) % 300));
      job.worked = true;
    });
    std::vector<numbered> reported;
    const auto report = [&](numbered& job) {
      job.reported_on = std::this_thread::get_id();
      reported.push_back(job);
    };
    for (int i = 0; i < 500; ++i) {
      palfill::submit_job(queue, numbered{i}, i % 5 != 0, report);  // every fifth needs no work
    }
    palfill::finish_jobs(queue, report);
    ASSERT_EQ(reported.size(), 500u);
    for (int i = 0; i < 500; ++i) {
      EXPECT_EQ(reported[i].number, i);
      EXPECT_EQ(reported[i].worked, i % 5 != 0);
      EXPECT_EQ(reported[i].reported_on, std::this_thread::get_id());
    }
  }
}

TEST(job_queue, abandoned_reports_nothing_more_and_ends_its_threads) {
  palfill::job_queue<numbered> queue;
  palfill::start_jobs<numbered>(queue, 4, 8, [](numbered&, std::size_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  int reported = 0;
  const auto report = [&](numbered&) { ++reported; };
  for (int i = 0; i < 20; ++i) palfill::submit_job(queue, numbered{i}, true, report);
  const int before = reported;
  palfill::abandon_jobs(queue);
  EXPECT_EQ(reported, before);
  EXPECT_TRUE(queue.threads.empty() && queue.window.empty());
}

}  // namespace
