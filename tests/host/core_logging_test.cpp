#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log_context.hpp"
#include "support/capture_log.hpp"
#include "vstringprintf.hpp"

namespace vantor {
namespace {

using testing::capture_log_t;

TEST(log_context, writes_only_admitted_levels) {
  capture_log_t log(2);
  log.context.log_at_level(vantor_log_info, "info");
  log.context.log_at_level(vantor_log_debug, "debug");
  log.context.log_at_level(vantor_log_error, "error");
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].text, "info");
  EXPECT_EQ(log.lines[1].text, "error");
  log.context.level = 3;
  log.context.log_at_level(vantor_log_debug, "debug");
  EXPECT_EQ(log.lines.size(), 3u);
}

TEST(logging_synchronizer, threshold_is_the_context_level_at_construction) {
  capture_log_t log(3);
  logging_synchronizer_t synchronizer(log.context, 100);
  log.context.level = 0;
  EXPECT_EQ(synchronizer.verbosity_threshold, 3);
}

TEST(logging_synchronizer, flush_writes_in_order_and_only_once) {
  capture_log_t log(4);
  logging_synchronizer_t synchronizer(log.context, 100);
  synchronizer.store_event(vantor_log_warning, "one");
  synchronizer.store_event(vantor_log_info, "two");
  EXPECT_TRUE(log.lines.empty()) << "nothing is written before the flush";
  synchronizer.flush_events();
  synchronizer.flush_events();
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].text, "one");
  EXPECT_EQ(log.lines[0].level, vantor_log_warning);
  EXPECT_EQ(log.lines[1].text, "two");
}

TEST(logging_synchronizer, drops_beyond_capacity_and_says_how_many) {
  capture_log_t log(4);
  logging_synchronizer_t synchronizer(log.context, 3);
  for (int i = 0; i < 5; ++i) synchronizer.store_event(vantor_log_info, std::to_string(i));
  synchronizer.flush_events();
  ASSERT_EQ(log.lines.size(), 4u);
  EXPECT_EQ(log.lines[2].text, "2");
  EXPECT_NE(log.lines[3].text.find("dropped 2 "), std::string::npos) << log.lines[3].text;
  // The capacity counts unflushed events only: after a flush there is room again.
  synchronizer.store_event(vantor_log_info, "again");
  synchronizer.flush_events();
  ASSERT_EQ(log.lines.size(), 5u);
  EXPECT_EQ(log.lines[4].text, "again");
}

TEST(logging_synchronizer, concurrent_stores_lose_nothing_within_capacity) {
  constexpr int threads = 4;
  constexpr int per_thread = 2000;
  capture_log_t log(4);
  logging_synchronizer_t synchronizer(log.context, threads * per_thread);
  std::atomic<bool> done{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&synchronizer, t] {
      for (int i = 0; i < per_thread; ++i) {
        synchronizer.store_event(vantor_log_info, std::to_string(t) + ":" + std::to_string(i));
      }
    });
  }
  // The owner flushes while the writers run, as a decoder does between libavcodec calls.
  std::thread owner([&] {
    while (!done.load()) synchronizer.flush_events();
  });
  for (std::thread& writer : writers) writer.join();
  done = true;
  owner.join();
  synchronizer.flush_events();

  ASSERT_EQ(log.lines.size(), size_t{threads * per_thread});
  std::set<std::string> seen;
  std::vector<int> next(threads, 0);
  for (const auto& line : log.lines) {
    EXPECT_TRUE(seen.insert(line.text).second) << "duplicate " << line.text;
    // Each writer's events keep their order.
    size_t const colon = line.text.find(':');
    int const t = std::stoi(line.text.substr(0, colon));
    int const i = std::stoi(line.text.substr(colon + 1));
    EXPECT_EQ(i, next[t]);
    next[t] = i + 1;
  }
}

TEST(logging_synchronizer, concurrent_stores_beyond_capacity_are_counted_not_lost) {
  constexpr int threads = 4;
  constexpr int per_thread = 500;
  capture_log_t log(4);
  logging_synchronizer_t synchronizer(log.context, 100);
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&synchronizer] {
      for (int i = 0; i < per_thread; ++i) synchronizer.store_event(vantor_log_info, "e");
    });
  }
  for (std::thread& writer : writers) writer.join();
  synchronizer.flush_events();
  ASSERT_EQ(log.lines.size(), 101u);
  EXPECT_NE(log.lines.back().text.find("dropped 1900 "), std::string::npos) << log.lines.back().text;
}

TEST(vstringprintf, formats_short_and_long_texts) {
  EXPECT_EQ(stringprintf("%d-%s", 7, "x"), "7-x");
  std::string const long_text(1000, 'a');
  EXPECT_EQ(stringprintf("[%s]", long_text.c_str()), "[" + long_text + "]");
  EXPECT_EQ(stringprintf("%s", ""), "");
}

}  // namespace
}  // namespace vantor
