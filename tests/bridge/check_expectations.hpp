#pragma once

// Helpers for the bridge tests: catching the host exception and comparing
// the fields of its assertion form.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "exception.hpp"

namespace vantor::video::testing {

inline constexpr const char* bridge_file = "ffmpeg_utils/ffmpeg_utils.cpp";

// The exception `action` throws, or nothing (recorded as a test failure).
inline std::optional<vantor::exception> thrown_by(const std::function<void()>& action) {
  try {
    action();
  } catch (const vantor::exception& e) {
    return e;
  }
  ADD_FAILURE() << "no vantor::exception was thrown";
  return std::nullopt;
}

// A failed check in the bridge: code 13, the bridge's file, `function`, `expression`.
inline void expect_check_failure(const std::function<void()>& action, const std::string& function,
                                 const std::string& expression, const char* file = bridge_file) {
  std::optional<vantor::exception> e = thrown_by(action);
  if (!e) return;
  EXPECT_EQ(e->result(), vantor_result_check_failed);
  EXPECT_TRUE(e->is_assertion()) << e->what();
  EXPECT_EQ(e->file(), file);
  EXPECT_EQ(e->function(), function);
  EXPECT_EQ(e->expression(), expression);
}

// The message form with `result` and exactly `message`.
inline void expect_message(const std::function<void()>& action, vantor_result result,
                           const std::string& message) {
  std::optional<vantor::exception> e = thrown_by(action);
  if (!e) return;
  EXPECT_EQ(e->result(), result);
  EXPECT_FALSE(e->is_assertion()) << e->what();
  EXPECT_EQ(std::string(e->what()), message);
}

}  // namespace vantor::video::testing
