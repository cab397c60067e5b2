#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "batch_run.hpp"
#include "tool_options.hpp"

namespace {

using vantor::tools::parse_tool_options;
using vantor::stages::picture_rect_t;
using vantor::tools::tool_options_t;
using vantor::tools::usage_error_t;

tool_options_t parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "vantor-transcode");
  return parse_tool_options(static_cast<int>(arguments.size()), arguments.data());
}

std::string usage_error(std::vector<const char*> arguments) {
  try {
    parse(std::move(arguments));
  } catch (const usage_error_t& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(tool_options, defaults) {
  tool_options_t const options = parse({});
  EXPECT_TRUE(options.input.empty());
  EXPECT_EQ(options.output_dir, "out");
  EXPECT_FALSE(options.size);
  EXPECT_FALSE(options.rect);
  EXPECT_FALSE(options.fit);
  EXPECT_FALSE(options.quality);
  EXPECT_FALSE(options.raw);
  EXPECT_EQ(options.log_level, 1);
  EXPECT_TRUE(options.plugins_dir.empty());
}

TEST(tool_options, reads_every_option) {
  tool_options_t const options = parse({"clip.mp4", "-o", "thumbs", "--size", "640x480", "--rect",
                                        "0,60,640,360", "--quality", "75", "--log-level", "3",
                                        "--plugins", "/opt/p"});
  EXPECT_EQ(options.input, "clip.mp4");
  EXPECT_EQ(options.output_dir, "thumbs");
  ASSERT_TRUE(options.size);
  EXPECT_EQ(options.size->width, 640u);
  EXPECT_EQ(options.size->height, 480u);
  EXPECT_EQ(options.rect, (vantor::stages::picture_rect_t{0, 60, 640, 360}));
  EXPECT_EQ(options.quality, "75");
  EXPECT_EQ(options.log_level, 3);
  EXPECT_EQ(options.plugins_dir, "/opt/p");

  tool_options_t const raw = parse({"--raw", "-", "--size", "320x240", "--fit", "--", "-odd-name.mp4"});
  EXPECT_EQ(raw.raw, "-");
  EXPECT_TRUE(raw.fit);
  EXPECT_EQ(raw.input, "-odd-name.mp4");
  EXPECT_TRUE(parse({"x.mp4", "--size", "2x2", "--help"}).help);
  EXPECT_TRUE(parse({"--size", "2x2", "--fit", "--rect", "0,0,2,2", "--version"}).version)
      << "--version, like --help, is not checked against the other options";
}

TEST(tool_options, malformed_zero_and_odd_sizes) {
  // One side alone is a size of its own ("640x", "x480"); "x" is not.
  EXPECT_EQ(parse({"--size", "640x"}).size->height, 0u);
  EXPECT_EQ(parse({"--size", "x480"}).size->width, 0u);
  for (const char* size : {"640", "x", "xx", "640xx", "640x480x2", "-640x480", "640 x480", "+640x480",
                           "640X480", "axb", "99999999999x2"}) {
    EXPECT_NE(usage_error({"--size", size}).find("is not a size"), std::string::npos) << size;
  }
  EXPECT_NE(usage_error({"--size", "0x480"}).find("above 0"), std::string::npos);
  EXPECT_NE(usage_error({"--size", "640x0"}).find("above 0"), std::string::npos);
  EXPECT_NE(usage_error({"--size", "641x480"}).find("even"), std::string::npos);
  EXPECT_NE(usage_error({"--size", "640x481"}).find("even"), std::string::npos);
}

TEST(tool_options, rectangles_must_be_well_formed_even_and_inside) {
  EXPECT_NE(usage_error({"--size", "640x480", "--rect", "0,0,640"}).find("is not a rectangle"),
            std::string::npos);
  EXPECT_NE(usage_error({"--size", "640x480", "--rect", "0,0,0,480"}).find("above 0"),
            std::string::npos);
  EXPECT_NE(usage_error({"--size", "640x480", "--rect", "1,0,320,240"}).find("even"),
            std::string::npos);
  EXPECT_NE(usage_error({"--size", "640x480", "--rect", "2,0,640,480"}).find("outside"),
            std::string::npos);
  EXPECT_NE(usage_error({"--size", "640x480", "--rect", "0,4294967294,2,2"}).find("outside"),
            std::string::npos);
  EXPECT_EQ(usage_error({"--size", "640x480", "--rect", "320,240,320,240"}), "(accepted)");
  EXPECT_NE(usage_error({"--rect", "0,0,2,2"}).find("give --size"), std::string::npos);
  EXPECT_NE(usage_error({"--fit"}).find("give --size"), std::string::npos);
  EXPECT_NE(usage_error({"--size", "640x480", "--fit", "--rect", "0,0,2,2"}).find("only one"),
            std::string::npos);
}

TEST(tool_options, quality_and_log_level_ranges) {
  EXPECT_EQ(parse({"--quality", "0"}).quality, "0");
  EXPECT_EQ(parse({"--quality", "100"}).quality, "100");
  EXPECT_NE(usage_error({"--quality", "101"}).find("above 100"), std::string::npos);
  EXPECT_NE(usage_error({"--quality", "-1"}).find("not a number"), std::string::npos);
  EXPECT_NE(usage_error({"--quality", "high"}).find("not a number"), std::string::npos);
  EXPECT_NE(usage_error({"--log-level", "5"}).find("0 to 4"), std::string::npos);
  EXPECT_NE(usage_error({"--raw", "x.yuv", "--quality", "50"}).find("--raw"), std::string::npos);
  EXPECT_NE(usage_error({"--raw", "x.yuv", "-o", "dir"}).find("--raw"), std::string::npos);
}

TEST(tool_options, missing_values_unknown_options_and_two_inputs) {
  EXPECT_NE(usage_error({"--size"}).find("--size needs a value"), std::string::npos);
  EXPECT_NE(usage_error({"-o"}).find("-o needs a value"), std::string::npos);
  EXPECT_NE(usage_error({"--sise", "2x2"}).find("unknown option '--sise'"), std::string::npos);
  EXPECT_NE(usage_error({"a.mp4", "b.mp4"}).find("only one input"), std::string::npos);
}

TEST(tool_options, values_attach_with_an_equals_sign) {
  tool_options_t const options =
      parse({"--size=320x", "--output=thumbs", "--every=2.5s", "--vtt=a=b.vtt", "clip.mp4"});
  ASSERT_TRUE(options.size);
  EXPECT_EQ(options.size->width, 320u);
  EXPECT_EQ(options.size->height, 0u);
  EXPECT_EQ(options.output_dir, "thumbs");
  EXPECT_TRUE(options.output_dir_given);
  EXPECT_EQ(options.every, 2'500'000);
  EXPECT_EQ(options.vtt, "a=b.vtt") << "the value runs from the first '='";
  EXPECT_EQ(parse({"--", "--size=2x2"}).input, "--size=2x2");

  EXPECT_EQ(usage_error({"--output="}), "-o needs a folder name");
  EXPECT_EQ(usage_error({"--size=320"}).rfind("--size '320' is not a size", 0), 0u);
  EXPECT_EQ(usage_error({"--fit=yes"}), "--fit takes no value");
  EXPECT_EQ(usage_error({"--sise=2x2"}), "unknown option '--sise'");
  EXPECT_EQ(usage_error({"--=x"}), "unknown option '--=x'");
}

// Each option that needs or excludes another, with the exact words people see.
TEST(tool_options, combinations_are_refused_with_their_reason) {
  struct case_t {
    std::vector<const char*> arguments;
    std::string message;
  };
  std::string const no_tiles = "--sprite needs the tile size: give --size WxH as well";
  std::string const one_side = " needs both sides of --size; one side alone already keeps the aspect ratio";
  for (const case_t& c : std::vector<case_t>{
           {{"--batch", "l", "--raw", "x.yuv"},
            "--raw writes one file and does not combine with --batch; batch mode writes JPEG folders "
            "under -o DIR"},
           {{"--batch", "l", "--threads", "2"},
            "--threads is for one input; --batch runs --jobs inputs at once"},
           {{"a.mp4", "--jobs", "2"},
            "--jobs sets how many inputs of --batch LIST run at once; give --batch"},
           {{"--batch", "l", "--mp4", "t.mp4"}, "--mp4 names one file and does not combine with --batch"},
           {{"--batch", "l", "--vtt", "i.vtt"}, "--vtt names one file and does not combine with --batch"},
           {{"--every", "1s", "--count", "3"},
            "--every and --count both set the marks; give only one of them"},
           {{"--start", "1:30", "--end", "90"}, "--end 0:01:30.000 is not after --start 0:01:30.000"},
           {{"--size", "320x", "--fit"}, "--fit" + one_side},
           {{"--size", "x180", "--rect", "0,0,2,2"}, "--rect" + one_side},
           {{"--size", "640x480", "--rect", "0,0,2,2", "--fit"},
            "--rect and --fit both place the picture; give only one of them"},
           {{"--fit"}, "--fit places the picture inside --size WxH; give --size as well"},
           {{"--size", "640x480", "--rect", "2,0,640,480"},
            "--rect 2,0,640,480 lies outside the 640x480 frame of --size"},
           {{"--raw", "x.yuv", "--quality", "50"},
            "--quality sets the JPEG quality and has no effect with --raw"},
           {{"--raw", "x.yuv", "--vtt", "i.vtt"}, "--vtt goes with JPEG output, not with --raw"},
           {{"--raw", "x.yuv", "--size", "2x2", "--sprite", "2x2"},
            "--sprite goes with JPEG output, not with --raw"},
           {{"--sprite", "2x2"}, no_tiles},
           {{"--size", "320x", "--sprite", "2x2"}, no_tiles},
           {{"--raw", "x.yuv", "--output", "dir"},
            "-o names the JPEG folder and has no effect with --raw"},
           {{"--every", "0"}, "--every 0: the interval must be above 0"},
           {{"--start", "soon"},
            "--start 'soon' is not a time; write e.g. 10s, 2.5s, 500ms, 1m, 7 (seconds) or 00:01:30.500"},
           {{""}, "the input file name is empty"}}) {
    EXPECT_EQ(usage_error(c.arguments), c.message) << c.arguments[0];
  }
}

TEST(tool_options, batch_jobs_and_version) {
  tool_options_t const batch = parse({"--batch", "list.txt", "--jobs", "3", "-o", "thumbs"});
  EXPECT_EQ(batch.batch_list, "list.txt");
  EXPECT_EQ(batch.jobs, 3u);
  EXPECT_EQ(batch.output_dir, "thumbs");
  EXPECT_FALSE(parse({"--batch", "-"}).jobs) << "no --jobs: one per core, decided at run time";

  // The combinations and --jobs 0 are checked end to end, with their exit status.
  EXPECT_NE(usage_error({"--batch", "l", "--jobs", "two"}).find("not a number"), std::string::npos);
  EXPECT_NE(usage_error({"--batch", "l", "--jobs", "257"}).find("above 256"), std::string::npos);
  EXPECT_EQ(usage_error({"--batch", "l", "--jobs", "256"}), "(accepted)");
  EXPECT_NE(usage_error({"a.mp4", "--batch", "l"}).find("no INPUT ('a.mp4')"), std::string::npos);
  EXPECT_NE(usage_error({"--batch", ""}).find("--batch needs a list"), std::string::npos);
}

using vantor::tools::batch_input_t;

std::vector<batch_input_t> list_of(const std::string& text) {
  std::istringstream stream(text);
  return vantor::tools::parse_batch_list(stream);
}

TEST(batch_list, one_path_per_line_blank_lines_skipped) {
  std::vector<batch_input_t> const inputs =
      list_of("a.mp4\n\n  \t\nwith space.mkv\r\n\r\n -lead.mp4\nlast.mp4");
  ASSERT_EQ(inputs.size(), 4u);
  EXPECT_EQ(inputs[0].path, "a.mp4");
  EXPECT_EQ(inputs[1].path, "with space.mkv") << "the CR of a CRLF line is not part of the name";
  EXPECT_EQ(inputs[2].path, " -lead.mp4") << "blanks inside a name are kept";
  EXPECT_EQ(inputs[3].path, "last.mp4") << "a last line without a newline counts";
  EXPECT_EQ(inputs[0].line, 1u);
  EXPECT_EQ(inputs[1].line, 4u);
  EXPECT_EQ(inputs[2].line, 6u);
  EXPECT_EQ(inputs[3].line, 7u);
  EXPECT_TRUE(list_of("").empty());
  EXPECT_TRUE(list_of("\n \n\r\n").empty());
}

TEST(batch_list, output_folders_are_unique_in_list_order) {
  std::vector<batch_input_t> inputs =
      list_of("a/x.mp4\nb/x.mp4\nx.mp4~2\nc/x.mp4\ny.mkv\ndir/\n..\n");
  vantor::tools::assign_output_folders(inputs, "out");
  std::vector<std::string> folders;
  for (const batch_input_t& input : inputs) folders.push_back(input.output_dir);
  EXPECT_EQ(folders, (std::vector<std::string>{"out/x.mp4", "out/x.mp4~2", "out/x.mp4~2~2",
                                               "out/x.mp4~3", "out/y.mkv", "out/input",
                                               "out/input~2"}));
}

TEST(batch_json, lines_keep_their_form_and_any_name_stays_inside_one_valid_line) {
  using vantor::tools::batch_json_line;
  batch_input_t input{"a/x.mp4", 1, "out/x.mp4"};
  std::string const names = R"({"path":"a/x.mp4","line":1,"output":"out/x.mp4",)";
  vantor::tools::transcode_outcome_t done;
  done.summary.pictures = 75;
  EXPECT_EQ(batch_json_line(input, done, 0.0523),
            names + R"("status":0,"pictures":75,"seconds":0.052,"message":null})" + "\n");
  vantor::tools::transcode_outcome_t failed;
  failed.failed = true;
  failed.message = "a/x.mp4: cannot open the file: No such file or directory";
  EXPECT_EQ(batch_json_line(input, failed, 0.001),
            names + R"("status":1,"pictures":0,"seconds":0.001,)" +
                R"("message":"cannot open the file: No such file or directory"})" + "\n");
  done.summary.interrupted = true;
  EXPECT_EQ(batch_json_line(input, done, 2),
            names + R"("status":130,"pictures":75,"seconds":2.0,"message":"interrupted"})" + "\n");

  // Quotes, backslashes and control characters are escaped; UTF-8 passes as
  // it is; Latin-1, an overlong '/' and a cut sequence become U+FFFD.
  std::string const escaped = std::string("q\"b\\s/\t\n\x01\x1f\x7f\0", 11) + "\xc3\xa9\xf0\x9f\x8e\x9e";
  input.path = escaped + "\xe9t" + "\xc0\xaf" + "a\xe2\x82";
  std::string const line = batch_json_line(input, done, 1);
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  EXPECT_EQ(line.rfind(R"({"path":"q\"b\\s/\t\n\u0001\u001f)", 0), 0u) << line;
  std::string const fffd = "\xef\xbf\xbd";
  EXPECT_EQ(nlohmann::json::parse(line)["path"], escaped + fffd + "t" + fffd + fffd + "a" + fffd);
}

TEST(tool_options, help_mentions_every_option_with_its_default) {
  std::string const help = vantor::tools::tool_help_text();
  for (const char* option : {"-o, --output DIR", "--size WxH", "--rect X,Y,W,H", "--fit",
                             "--quality N", "--raw FILE", "--log-level N", "--plugins DIR",
                             "--batch LIST", "--jobs N", "--version", "(default: the number of cores)",
                             "~2", "in the order the inputs finish", "parallel", "--sshlogin",
                             "(default: out)", "(default: the JPEG module's own, 30)",
                             "(default: 1)", "--start T", "--end T",
                             "(default: the number of cores, at most 4)",
                             "Standard output carries data only", "Examples:"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

}  // namespace
