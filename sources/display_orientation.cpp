#include "sources/display_orientation.hpp"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vantor::sources {

orientation_t orientation_of_display_matrix(const int32_t matrix[9]) {
  // A stored point (x, y), y downwards, is shown at
  // (a*x + c*y, b*x + d*y) with a, b, c, d = matrix[0], [1], [3], [4].
  double a = matrix[0] / 65536.0;
  double const b = matrix[1] / 65536.0;
  double c = matrix[3] / 65536.0;
  double const d = matrix[4] / 65536.0;
  double const determinant = a * d - b * c;
  if (!std::isfinite(determinant) || determinant == 0) return {};
  orientation_t orientation;
  // A mirror turns the orientation around; undo a left-right mirror of
  // the shown picture (negating its x) and what is left is a rotation.
  if (determinant < 0) {
    orientation.mirror = true;
    a = -a;
    c = -c;
  }
  double const x_scale = std::hypot(a, c);
  double const y_scale = std::hypot(b, d);
  // The clockwise angle the stored x axis is shown at.
  double const degrees = std::atan2(b / y_scale, a / x_scale) * 180 / M_PI;
  long const quarter_turns = std::lround(degrees / 90);
  orientation.rotation = static_cast<uint16_t>(((quarter_turns % 4) + 4) % 4 * 90);
  return orientation;
}

orientation_t orientation_of_stream(const AVStream& stream) {
  AVCodecParameters const* par = stream.codecpar;
  AVPacketSideData const* side_data = av_packet_side_data_get(
      par->coded_side_data, par->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
  if (!side_data || side_data->size < 9 * sizeof(int32_t)) return {};
  int32_t matrix[9];
  std::memcpy(matrix, side_data->data, sizeof matrix);
  return orientation_of_display_matrix(matrix);
}

}  // namespace vantor::sources
