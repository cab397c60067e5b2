#include <gtest/gtest.h>

#include <string>

#include "exception.hpp"
#include "transcode/video_base.hpp"

namespace vantor {
namespace {

int checked_half(int value) {
  VANTOR_CHECK(value % 2 == 0);
  return value / 2;
}

TEST(Exception, MessageFormCarriesCodeAndText) {
  exception const error(vantor_result_libav_failure, "libavcodec failed to allocate a packet");
  EXPECT_EQ(error.result(), vantor_result_libav_failure);
  EXPECT_STREQ(error.what(), "libavcodec failed to allocate a packet");
  EXPECT_FALSE(error.is_assertion());
}

TEST(Exception, AssertionFormKeepsFieldsAndComposesWhat) {
  exception const error(vantor_result_check_failed, "a/b.cpp", 42, "void f()", "x > 0");
  EXPECT_TRUE(error.is_assertion());
  EXPECT_EQ(error.file(), "a/b.cpp");
  EXPECT_EQ(error.line(), 42);
  EXPECT_EQ(error.function(), "void f()");
  EXPECT_EQ(error.expression(), "x > 0");
  EXPECT_STREQ(error.what(), "a/b.cpp:42: void f(): check failed: x > 0");
}

TEST(Exception, CheckMacroThrowsWithRelativeFileAndFunctionText) {
  EXPECT_EQ(checked_half(4), 2);
  try {
    checked_half(3);
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.result(), vantor_result_check_failed);
    EXPECT_EQ(error.file(), "tests/host/test_core_exception.cpp");
    EXPECT_EQ(error.function(), "int vantor::{anonymous}::checked_half(int)");
    EXPECT_EQ(error.expression(), "value % 2 == 0");
    EXPECT_GT(error.line(), 0);
  }
}

TEST(Exception, HostHeaderChecksReadTheirHostRelativePath) {
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

TEST(Exception, BuilderStreamsTextIntoMessageForm) {
  exception_builder_t builder(vantor_result_check_failed);
  builder << "jpg" << ": unknown attribute '" << "q" << "' for this transcoder implementation.";
  exception const error = builder.exception();
  EXPECT_EQ(error.result(), vantor_result_check_failed);
  EXPECT_STREQ(error.what(), "jpg: unknown attribute 'q' for this transcoder implementation.");
  EXPECT_FALSE(error.is_assertion());
}

}  // namespace
}  // namespace vantor
