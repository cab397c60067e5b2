// The text of --help: the options laid out from their table, between what
// comes before and after them.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "option_table.hpp"
#include "tool_options.hpp"

namespace vantor::tools {

namespace {

constexpr size_t help_column = 22;  // where the explanations start
constexpr size_t line_width = 80;

constexpr const char* before_options = R"(Usage: vantor-transcode [INPUT] [options]
       vantor-transcode --batch LIST [--jobs N] [-o DIR] [options]

Decodes the H.264 or HEVC video of INPUT (MP4, MOV, MKV, ...) and writes every
picture as a JPEG file, or all pictures as raw planes. The decoder, the resize
filter and the JPEG encoder are loaded from the plug-in modules.
Containers: MP4, MOV, fragmented MP4 segments, Matroska, MPEG-TS, FLV and raw
H.264/HEVC streams.

)";

constexpr const char* after_options = R"(
Standard output carries data only: the planes of --raw - and the JSON lines of
--batch. Progress is shown on standard error while it is a terminal; a summary
line follows there at the end, as do warnings and errors. Every file is written
under a temporary name and renamed when complete, so no file is left cut short.
Ctrl-C stops at the next picture, finishes the files (JPEGs, sheet, VTT, MP4)
with the pictures so far, prints the summary and exits with 130. Exit status:
0 done, 1 the input or the output failed (the JPEG files written before the
failure are kept), 2 bad arguments, 130 interrupted.

Batch mode writes one JSON line per input to standard output as soon as the
input is done, so in the order the inputs finish, not in list order ("line" is
the input's line in LIST):
  {"path":"a/x.mp4","line":1,"output":"out/x.mp4","status":0,"pictures":75,"seconds":0.052,"message":null}
A failed input has status 1 and its cause in "message"; the other inputs go on.
Progress is off; a summary line follows on standard error. Exit status: 0 all
inputs done, 1 any input failed, 2 bad arguments or an unreadable LIST.

To spread a list over several machines, run one vantor-transcode per input
with GNU parallel (docs/batch.md has the details), e.g.
  parallel vantor-transcode {} -o out/{/} :::: LIST
  parallel --sshlogin 2/host1,2/host2 --workdir ... --transferfile {} \
    --return out/{/} --cleanup vantor-transcode {} -o out/{/} :::: LIST

Examples:
  vantor-transcode                                   thumbnails of the sample clip in out/
  vantor-transcode movie.mp4 -o thumbs --size 640x360 --fit --quality 75
  vantor-transcode movie.mp4 --size 640x480 --rect 0,60,640,360 -o letterboxed
  vantor-transcode movie.mp4 --raw - | ffplay -f rawvideo -pixel_format yuv420p -video_size 320x240 -
  vantor-transcode movie.mp4 --size 640x360 --raw - | ffmpeg -f rawvideo -pixel_format yuv420p -video_size 640x360 -framerate 25 -i - out.mkv
  find videos -name '*.mp4' | vantor-transcode --batch - --jobs 4 -o thumbs --size 320x180 --fit
)";

// `text` broken between words into lines of at most `width` characters
// (a longer word keeps a line of its own).
std::vector<std::string> wrapped(std::string_view text, size_t width) {
  std::vector<std::string> lines(1);
  for (size_t at = 0; at < text.size();) {
    size_t const end = std::min(text.find(' ', at), text.size());
    std::string_view const word = text.substr(at, end - at);
    if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) lines.emplace_back();
    if (!lines.back().empty()) lines.back() += ' ';
    lines.back() += word;
    at = end + 1;
  }
  return lines;
}

// "  -o, --output DIR    folder for ...", the default on a line of its own.
std::string option_help(const option_row_t& row) {
  std::string label = "  ";
  if (row.short_name) label += std::string(row.short_name) + ", ";
  if (row.long_name) label += std::string(row.long_name) + (row.argument ? " " : "");
  if (row.argument) label += row.argument;

  size_t const width = line_width - help_column;
  std::vector<std::string> lines = wrapped(row.help, width);
  if (row.default_text) {
    for (std::string& line : wrapped(std::string("(default: ") + row.default_text + ")", width))
      lines.push_back(std::move(line));
  }
  std::string text;
  if (label.size() + 2 > help_column) text = label + "\n" + std::string(help_column, ' ');
  else text = label + std::string(help_column - label.size(), ' ');
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += std::string(help_column, ' ');
    text += lines[i] + "\n";
  }
  return text;
}

}  // namespace

std::string tool_help_text() {
  std::string text = before_options;
  for (const option_row_t& row : option_table()) text += option_help(row);
  return text + after_options;
}

}  // namespace vantor::tools
