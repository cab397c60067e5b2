#pragma once

// Runs a callable that must throw vantor::exception, and hands the exception
// back so a test can look at its fields.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "exception.hpp"

namespace vantor::testing {

template <typename Call>
std::optional<vantor::exception> catch_vantor(Call&& call) {
  try {
    call();
  } catch (const vantor::exception& e) {
    return e;
  }
  return std::nullopt;
}

// The assertion form with code 13 and `expression`.
template <typename Call>
std::optional<vantor::exception> expect_check_failure(Call&& call, const std::string& expression) {
  std::optional<vantor::exception> e = catch_vantor(call);
  if (!e) {
    ADD_FAILURE() << "expected the check \"" << expression << "\" to fail";
    return e;
  }
  EXPECT_TRUE(e->is_assertion()) << e->what();
  EXPECT_EQ(e->result(), vantor_result_check_failed);
  EXPECT_EQ(e->expression(), expression) << e->what();
  return e;
}

// The same, and the check names `site`: its file and function texts.
template <typename Call>
std::optional<vantor::exception> expect_check_failure_at(Call&& call, const check_site_t& site,
                                                         const std::string& expression) {
  std::optional<vantor::exception> e = expect_check_failure(call, expression);
  if (e) {
    EXPECT_EQ(e->file(), site.file) << e->what();
    EXPECT_EQ(e->function(), site.function) << e->what();
  }
  return e;
}

// The message form with `result` and exactly `message`.
template <typename Call>
void expect_message(Call&& call, vantor_result result, const std::string& message) {
  std::optional<vantor::exception> e = catch_vantor(call);
  if (!e) {
    ADD_FAILURE() << "expected \"" << message << "\"";
    return;
  }
  EXPECT_FALSE(e->is_assertion()) << e->what();
  EXPECT_EQ(e->result(), result);
  EXPECT_EQ(std::string(e->what()), message);
}

}  // namespace vantor::testing
