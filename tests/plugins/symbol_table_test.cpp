#include <cxxabi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "plugins/plugin_test_support.hpp"

namespace {

struct symbol_t {
  char type;            // nm's letter: T text, V/W weak, u unique, ...
  std::string name;     // demangled
  std::string mangled;  // as in the symbol table
};

std::string demangle(const std::string& mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> text(
      abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status), std::free);
  return status == 0 && text ? std::string(text.get()) : mangled;
}

// Whether a mangled name lies in namespace std or __gnu_cxx (functions,
// members, their local statics and guard variables).
bool is_standard_library(const std::string& mangled) {
  for (const char* prefix : {"_ZSt", "_ZNSt", "_ZNKSt", "_ZN9__gnu_cxx", "_ZNK9__gnu_cxx", "_ZZSt",
                             "_ZZNSt", "_ZZNKSt", "_ZGVZSt", "_ZGVZNSt", "_ZGVZNKSt"}) {
    if (mangled.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

// The defined dynamic symbols of `path`, as nm reads the ELF file.
std::vector<symbol_t> exported_symbols(const std::string& path) {
  std::string const command = "nm -D --defined-only --format=posix '" + path + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  EXPECT_TRUE(pipe) << command;
  std::string output;
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) output += buffer;
  int const status = pclose(pipe.release());
  EXPECT_EQ(status, 0) << output;

  // POSIX format: "<name> <type> <value> [<size>]".
  std::vector<symbol_t> symbols;
  std::istringstream lines(output);
  std::string line;
  std::regex const record(R"((\S+) ([A-Za-z]) [0-9a-f]+( [0-9a-f]+)?)");
  while (std::getline(lines, line)) {
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, record)) << line;
    if (!match.empty()) {
      // Versioned references ("name@@VERSION") keep only the name.
      std::string const mangled = match[1].str().substr(0, match[1].str().find('@'));
      symbols.push_back({match[2].str()[0], demangle(mangled), mangled});
    }
  }
  return symbols;
}

bool is_weak(char type) { return type == 'V' || type == 'W' || type == 'v' || type == 'w'; }

std::string listing(const std::vector<symbol_t>& symbols) {
  std::string text;
  for (const symbol_t& symbol : symbols) text += std::string(1, symbol.type) + " " + symbol.name + "\n";
  return text;
}

struct module_case_t {
  const char* module;
  const char* interface;
};

class module_symbols : public ::testing::TestWithParam<module_case_t> {};

TEST_P(module_symbols, exports_only_entry_point_and_shared_type_information) {
  module_case_t const c = GetParam();
  std::vector<symbol_t> const symbols = exported_symbols(vantor::testing::module_path(c.module));
  std::string const interface = std::string("vantor::") + c.interface;
  std::set<std::string> const weak_allowed = {
      "typeinfo for vantor::plugin_t",   "typeinfo name for vantor::plugin_t",
      "vtable for vantor::plugin_t",     "typeinfo for " + interface,
      "typeinfo name for " + interface,  "vtable for " + interface};
  std::set<std::string> const required = {"mp4_get_plugin_impl_1_15_9",
                                          "typeinfo for vantor::plugin_t",
                                          "typeinfo for " + interface, "vtable for " + interface};
  std::set<std::string> found;
  for (const symbol_t& symbol : symbols) {
    found.insert(symbol.name);
    if (symbol.name == "mp4_get_plugin_impl_1_15_9") {
      EXPECT_EQ(symbol.type, 'T') << "the entry point is a plain, unmangled function";
    } else {
      EXPECT_TRUE(weak_allowed.count(symbol.name)) << "unexpected export: " << symbol.name;
      EXPECT_TRUE(is_weak(symbol.type)) << symbol.name << " is exported as " << symbol.type;
    }
    EXPECT_EQ(symbol.name.find("factory_t::"), std::string::npos) << symbol.name;
    EXPECT_EQ(symbol.name.find("anonymous"), std::string::npos) << "private class leaks: " << symbol.name;
  }
  for (const std::string& name : required)
    EXPECT_TRUE(found.count(name)) << "missing export: " << name << "\n" << listing(symbols);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, module_symbols,
    ::testing::Values(module_case_t{"video_decoder_avc_avcodec", "video_decoder_factory_t"},
                      module_case_t{"video_decoder_hvc_avcodec", "video_decoder_factory_t"},
                      module_case_t{"video_encoder_jpg_avcodec", "video_encoder_factory_t"},
                      module_case_t{"video_filter_resize_swscale", "video_filter_resize_factory_t"}));

TEST(library_symbols, exports_the_four_factories_and_nothing_else) {
  std::vector<symbol_t> const symbols =
      exported_symbols(std::string(VANTOR_BUILD_DIR) + "/lib/libvantor_ffmpeg_utils.so");
  std::set<std::string> const factories = {
      "vantor::video::create_avcodec_avc_decoder(vantor::log_context_t&, "
      "std::unique_ptr<vantor::sample_source_t, std::default_delete<vantor::sample_source_t> >)",
      "vantor::video::create_avcodec_hvc_decoder(vantor::log_context_t&, "
      "std::unique_ptr<vantor::sample_source_t, std::default_delete<vantor::sample_source_t> >)",
      "vantor::video::create_avcodec_jpg_encoder(vantor::log_context_t&, "
      "std::unique_ptr<vantor::video::frame_source_t, "
      "std::default_delete<vantor::video::frame_source_t> >, "
      "std::optional<vantor::fraction_t<unsigned int, unsigned int> > const&, unsigned int)",
      "vantor::video::create_swscale_resize_filter(vantor::log_context_t&, "
      "std::unique_ptr<vantor::video::frame_source_t, "
      "std::default_delete<vantor::video::frame_source_t> >, unsigned int, unsigned int, "
      "unsigned int, unsigned int, unsigned int, unsigned int)"};
  std::set<std::string> found;
  for (const symbol_t& symbol : symbols) {
    // libstdc++ gives its inline templates and their local statics default
    // visibility, so hidden visibility alone would let their instances out.
    EXPECT_TRUE(factories.count(symbol.name))
        << (is_standard_library(symbol.mangled) ? "standard library instance exported: "
                                                : "unexpected export: ")
        << symbol.type << " " << symbol.name;
    EXPECT_EQ(symbol.type, 'T') << symbol.name;
    found.insert(symbol.name);
  }
  EXPECT_EQ(found, factories) << listing(symbols);
}

}  // namespace
