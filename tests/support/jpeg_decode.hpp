#pragma once

// Reads our JPEG samples with an independent decoder (libjpeg-turbo), and
// walks the marker segments to tell what kind of JPEG a sample is.

#include <turbojpeg.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantor::testing {

// A picture as libjpeg-turbo decodes it: Y, Cb, Cr planes at full range,
// chroma at the resolution the file's subsampling gives.
struct decoded_jpeg_t {
  int width = 0;
  int height = 0;
  int subsampling = -1;  // TJSAMP_*
  int colorspace = -1;   // TJCS_*
  std::vector<uint8_t> y, cb, cr;
  int chroma_width = 0;
  int chroma_height = 0;
};

inline decoded_jpeg_t decode_jpeg(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
  if (!handle) throw std::runtime_error("tjInitDecompress failed");
  auto fail = [&](const char* what) {
    throw std::runtime_error(std::string(what) + ": " + tjGetErrorStr2(handle.get()));
  };
  decoded_jpeg_t out;
  if (tjDecompressHeader3(handle.get(), bytes.data(), bytes.size(), &out.width, &out.height,
                          &out.subsampling, &out.colorspace) != 0)
    fail("tjDecompressHeader3");
  out.chroma_width = tjPlaneWidth(1, out.width, out.subsampling);
  out.chroma_height = tjPlaneHeight(1, out.height, out.subsampling);
  out.y.resize(size_t(out.width) * out.height);
  out.cb.resize(size_t(out.chroma_width) * out.chroma_height);
  out.cr.resize(out.cb.size());
  unsigned char* planes[3] = {out.y.data(), out.cb.data(), out.cr.data()};
  int strides[3] = {out.width, out.chroma_width, out.chroma_width};
  if (tjDecompressToYUVPlanes(handle.get(), bytes.data(), bytes.size(), planes, out.width,
                              strides, out.height, 0) != 0)
    fail("tjDecompressToYUVPlanes");
  return out;
}

// RGB pixels as a viewer shows the JPEG: libjpeg-turbo's decode of JFIF
// (full-range BT.601) to sRGB values, three bytes a pixel.
struct rgb_picture_t {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

inline rgb_picture_t decode_jpeg_rgb(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
  if (!handle) throw std::runtime_error("tjInitDecompress failed");
  rgb_picture_t out;
  int subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle.get(), bytes.data(), bytes.size(), &out.width, &out.height,
                          &subsampling, &colorspace) != 0)
    throw std::runtime_error(std::string("tjDecompressHeader3: ") + tjGetErrorStr2(handle.get()));
  out.rgb.resize(size_t(out.width) * out.height * 3);
  if (tjDecompress2(handle.get(), bytes.data(), bytes.size(), out.rgb.data(), out.width, 0,
                    out.height, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0)
    throw std::runtime_error(std::string("tjDecompress2: ") + tjGetErrorStr2(handle.get()));
  return out;
}

// The frame header of a JPEG: which SOF marker, and each component's sampling.
struct jpeg_frame_header_t {
  int sof_marker = -1;  // 0xC0 baseline, 0xC1 extended, 0xC2 progressive, ...
  int precision = 0;
  int width = 0;
  int height = 0;
  std::vector<int> sampling;  // per component: (h << 4) | v
};

// Walks the segments from SOI to the first SOF; throws on a malformed file.
inline jpeg_frame_header_t read_frame_header(const std::vector<uint8_t>& b) {
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) throw std::runtime_error("no SOI");
  size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) throw std::runtime_error("marker expected");
    const int marker = b[at + 1];
    const size_t length = size_t{b[at + 2]} << 8 | b[at + 3];
    if (at + 2 + length > b.size()) throw std::runtime_error("segment past the end");
    const bool is_sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                        marker != 0xC8 && marker != 0xCC;
    if (is_sof) {
      const uint8_t* s = &b[at + 4];
      jpeg_frame_header_t h;
      h.sof_marker = marker;
      h.precision = s[0];
      h.height = s[1] << 8 | s[2];
      h.width = s[3] << 8 | s[4];
      for (int c = 0; c < s[5]; ++c) h.sampling.push_back(s[6 + 3 * c + 1]);
      return h;
    }
    if (marker == 0xDA) break;
    at += 2 + length;
  }
  throw std::runtime_error("no SOF before the scan");
}

}  // namespace vantor::testing
