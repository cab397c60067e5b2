#include <gtest/gtest.h>

#include <string>

#include "exception.hpp"
#include "transcoder_options.hpp"
#include "value_reader.hpp"

namespace {

using vantor::transcoder_options::read_transcoder_option;

std::string refusal(const std::string& value) {
  unsigned target = 7;
  try {
    read_transcoder_option(target, "impl_x", "quality", value);
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor::vantor_result_check_failed);
    EXPECT_FALSE(e.is_assertion());
    EXPECT_EQ(target, 7u) << "a refused value must leave the target alone";
    return e.what();
  }
  ADD_FAILURE() << "'" << value << "' was accepted as " << target;
  return {};
}

TEST(read_transcoder_option, accepts_unsigned_decimal_up_to_the_limit) {
  struct case_t {
    const char* text;
    unsigned value;
  };
  for (case_t const c : {case_t{"0", 0}, case_t{"75", 75}, case_t{"007", 7},
                         case_t{"4294967295", 4294967295u}}) {
    unsigned target = 1;
    read_transcoder_option(target, "impl", "quality", c.text);
    EXPECT_EQ(target, c.value) << c.text;
  }
}

TEST(read_transcoder_option, refusals_name_implementation_attribute_and_value) {
  for (const char* text : {"", "+5", "-5", " 5", "5 ", "5\t", "1e3", "0x10", "5.0", "abc",
                           "4294967296", "99999999999999999999999"}) {
    std::string const message = refusal(text);
    EXPECT_EQ(message.rfind("impl_x: ", 0), 0u) << message;
    EXPECT_NE(message.find("'quality'"), std::string::npos) << message;
    EXPECT_NE(message.find("'" + std::string(text) + "'"), std::string::npos) << message;
  }
}

TEST(read_transcoder_option, refusals_say_what_is_wrong) {
  EXPECT_NE(refusal("").find("empty"), std::string::npos);
  EXPECT_NE(refusal("-1").find("sign"), std::string::npos);
  EXPECT_NE(refusal("+1").find("sign"), std::string::npos);
  EXPECT_NE(refusal("1 2").find("blank"), std::string::npos);
  EXPECT_NE(refusal("12a").find("digits"), std::string::npos);
  EXPECT_NE(refusal("4294967296").find("larger than 4294967295"), std::string::npos);
}

struct options_t {
  unsigned int alpha = 1;
  unsigned int beta = 2;
  unsigned int gamma = 3;
};
using reader_t = vantor::transcoder_options::value_reader_t<options_t>;

TEST(value_reader, sorts_its_table_by_unsigned_bytes_shorter_first) {
  reader_t const reader{{"gamma", &options_t::gamma},
                        {"\xe9t\xe9", &options_t::alpha},
                        {"Beta", &options_t::beta},
                        {"gam", &options_t::beta},
                        {"alpha", &options_t::alpha}};
  std::vector<std::string> names;
  for (const auto& field : reader.fields()) names.push_back(field.first);
  // Upper case before lower case, a prefix before its extensions, bytes
  // above 0x7f after ASCII (unsigned comparison).
  EXPECT_EQ(names, (std::vector<std::string>{"Beta", "alpha", "gam", "gamma", "\xe9t\xe9"}));
}

TEST(value_reader, finds_every_field_of_an_unsorted_list) {
  reader_t const reader{{"gamma", &options_t::gamma}, {"beta", &options_t::beta},
                        {"alpha", &options_t::alpha}};
  options_t options;
  reader.read(options, "impl", {{"beta", "20"}, {"gamma", "30"}, {"alpha", "10"}});
  EXPECT_EQ(options.alpha, 10u);
  EXPECT_EQ(options.beta, 20u);
  EXPECT_EQ(options.gamma, 30u);
}

TEST(value_reader, last_of_repeated_attributes_wins) {
  reader_t const reader{{"alpha", &options_t::alpha}};
  options_t options;
  reader.read(options, "impl", {{"alpha", "50"}, {"alpha", "80"}});
  EXPECT_EQ(options.alpha, 80u);
}

std::string unknown_attribute_text(const reader_t& reader,
                                   const std::vector<vantor::transcoder_attribute_t>& attributes) {
  options_t options;
  try {
    reader.read(options, "impl_y", attributes);
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor::vantor_result_check_failed);
    return e.what();
  }
  return "(accepted)";
}

TEST(value_reader, names_are_exact_case_sensitive_and_untrimmed) {
  reader_t const reader{{"alpha", &options_t::alpha}, {"beta", &options_t::beta}};
  for (const char* name : {"Alpha", "alpha ", " alpha", "alph", "alphaa", "", "zeta", "a"}) {
    EXPECT_EQ(unknown_attribute_text(reader, {{name, "1"}}),
              std::string("impl_y: unknown attribute '") + name +
                  "' for this transcoder implementation.");
  }
}

TEST(value_reader, stops_at_the_first_unknown_attribute) {
  reader_t const reader{{"alpha", &options_t::alpha}};
  options_t options;
  EXPECT_THROW(reader.read(options, "impl", {{"alpha", "9"}, {"nope", "1"}, {"alpha", "5"}}),
               vantor::exception);
  EXPECT_EQ(options.alpha, 9u) << "attributes before the unknown one are applied, later ones not";
}

TEST(value_reader, empty_table_accepts_only_no_attributes) {
  reader_t const reader;
  options_t options;
  EXPECT_NO_THROW(reader.read(options, "impl_y", {}));
  EXPECT_EQ(unknown_attribute_text(reader, {{"first", "1"}, {"second", "2"}}),
            "impl_y: unknown attribute 'first' for this transcoder implementation.");
}

TEST(value_reader, value_errors_pass_through_unchanged) {
  reader_t const reader{{"alpha", &options_t::alpha}};
  options_t options;
  std::string expected;
  try {
    unsigned target = 0;
    read_transcoder_option(target, "impl", "alpha", "-3");
  } catch (const vantor::exception& e) {
    expected = e.what();
  }
  try {
    reader.read(options, "impl", {{"alpha", "-3"}});
    FAIL() << "a signed value was accepted";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(std::string(e.what()), expected);
  }
}

}  // namespace
