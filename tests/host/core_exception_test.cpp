#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "exception.hpp"
#include "support/expect_failure.hpp"
#include "transcode/video_base.hpp"

namespace vantor {
namespace {

int checked_half(int value) {
  VANTOR_CHECK(value % 2 == 0);
  return value / 2;
}

#define VANTOR_TEST_LIMIT 10

// A site whose texts differ from where the check really stands.
constexpr check_site_t documented_site = {"a/documented.cpp", "int documented(int)"};

int checked_below_limit(int value) {
  VANTOR_CHECK_AT(value < VANTOR_TEST_LIMIT, documented_site);
  return value;
}

int checked_below_limit_here(int value) {
  VANTOR_CHECK(value < VANTOR_TEST_LIMIT);
  return value;
}

TEST(exception, message_form_carries_code_and_text) {
  exception const error(vantor_result_libav_failure, "libavcodec failed to allocate a packet");
  EXPECT_EQ(error.result(), vantor_result_libav_failure);
  EXPECT_STREQ(error.what(), "libavcodec failed to allocate a packet");
  EXPECT_FALSE(error.is_assertion());
}

TEST(exception, assertion_form_keeps_fields_and_composes_what) {
  exception const error(vantor_result_check_failed, "a/b.cpp", 42, "void f()", "x > 0");
  EXPECT_TRUE(error.is_assertion());
  EXPECT_EQ(error.file(), "a/b.cpp");
  EXPECT_EQ(error.line(), 42);
  EXPECT_EQ(error.function(), "void f()");
  EXPECT_EQ(error.expression(), "x > 0");
  EXPECT_STREQ(error.what(), "a/b.cpp:42: void f(): check failed: x > 0");
}

TEST(exception, check_macro_throws_with_relative_file_and_function_text) {
  EXPECT_EQ(checked_half(4), 2);
  try {
    checked_half(3);
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.result(), vantor_result_check_failed);
    EXPECT_EQ(error.file(), "tests/host/core_exception_test.cpp");
    EXPECT_EQ(error.function(), "int vantor::{anonymous}::checked_half(int)");
    EXPECT_EQ(error.expression(), "value % 2 == 0");
    EXPECT_GT(error.line(), 0);
  }
}

TEST(exception, check_at_reports_its_site_and_both_macros_the_expression_as_written) {
  EXPECT_EQ(checked_below_limit(9), 9);
  std::optional<exception> const at_site = testing::expect_check_failure_at(
      [] { checked_below_limit(10); }, documented_site, "value < VANTOR_TEST_LIMIT");
  if (at_site) {
    EXPECT_GT(at_site->line(), 0);
  }
  testing::expect_check_failure([] { checked_below_limit_here(10); }, "value < VANTOR_TEST_LIMIT");
}

TEST(exception, host_header_checks_read_their_host_relative_path) {
  video::frame_t frame;
  try {
    frame.sanity_check();
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.file(), "transcode/video_base.hpp");
    EXPECT_EQ(error.function(), "void vantor::video::frame_t::sanity_check()");
    EXPECT_EQ(error.expression(), "timescale_ > 0 && \"frame must have nonzero timescale\"");
  }
  frame.timescale_ = 1;
  EXPECT_NO_THROW(frame.sanity_check());
}

TEST(exception, builder_streams_text_into_message_form) {
  exception_builder_t builder(vantor_result_check_failed);
  builder << "jpg" << ": unknown attribute '" << "q" << "' for this transcoder implementation.";
  exception const error = builder.exception();
  EXPECT_EQ(error.result(), vantor_result_check_failed);
  EXPECT_STREQ(error.what(), "jpg: unknown attribute 'q' for this transcoder implementation.");
  EXPECT_FALSE(error.is_assertion());
}

}  // namespace
}  // namespace vantor
