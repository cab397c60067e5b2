#include "transcode/annexb.hpp"

#include <algorithm>
#include <string>

#include "exception.hpp"

namespace vantor::video {

namespace {

constexpr uint8_t start_code[4] = {0, 0, 0, 1};

constexpr uint8_t avc_nal_sps = 7;
constexpr uint8_t avc_nal_pps = 8;
constexpr uint8_t avc_nal_aud = 9;
constexpr uint8_t hevc_nal_vps = 32;
constexpr uint8_t hevc_nal_sps = 33;
constexpr uint8_t hevc_nal_pps = 34;
constexpr uint8_t hevc_nal_aud = 35;

uint8_t nal_type(nal_family_t family, uint8_t header_byte) {
  return family == nal_family_t::avc ? (header_byte & 0x1f) : ((header_byte >> 1) & 0x3f);
}

const char* family_name(nal_family_t family) { return family == nal_family_t::avc ? "avc" : "hevc"; }

// Reads a configuration record front to back; every read is bounds-checked
// and a short record throws naming what was being read.
class record_reader_t {
 public:
  record_reader_t(const char* record_name, const std::vector<uint8_t>& bytes)
      : name_(record_name), bytes_(bytes) {}

  [[noreturn]] void fail(const std::string& fault) const {
    throw vantor::exception(vantor_result_check_failed, std::string(name_) + " record: " + fault);
  }

  void need(size_t n, const std::string& what) const {
    if (bytes_.size() - pos_ < n) {
      fail("truncated: " + what + " needs " + std::to_string(n) + " bytes at offset " +
           std::to_string(pos_) + ", the " + std::to_string(bytes_.size()) +
           "-byte record has " + std::to_string(bytes_.size() - pos_) + " left");
    }
  }
  uint8_t u8(const std::string& what) {
    need(1, what);
    return bytes_[pos_++];
  }
  uint16_t u16(const std::string& what) {
    need(2, what);
    uint16_t const value = static_cast<uint16_t>((bytes_[pos_] << 8) | bytes_[pos_ + 1]);
    pos_ += 2;
    return value;
  }
  // A 16-bit length and that many bytes of NAL unit, appended behind a start code.
  // Returns the NAL unit's header byte.
  uint8_t nal_unit(const std::string& what, std::vector<uint8_t>* out) {
    uint16_t const length = u16("the length of " + what);
    if (length == 0) fail(what + " is empty");
    need(length, what);
    uint8_t const header = bytes_[pos_];
    if (out) {
      out->insert(out->end(), start_code, start_code + sizeof start_code);
      out->insert(out->end(), bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                  bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + length));
    }
    pos_ += length;
    return header;
  }
  size_t pos() const noexcept { return pos_; }
  void seek(size_t pos) noexcept { pos_ = pos; }

 private:
  const char* name_;
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

// Both records open with configurationVersion and keep lengthSizeMinusOne
// at a fixed offset of a fixed-size header. Returns the NAL length size and
// leaves the reader just behind lengthSizeMinusOne.
unsigned read_header(record_reader_t& reader, size_t header_size, size_t length_size_offset) {
  reader.need(header_size, "the header");
  uint8_t const version = reader.u8("configurationVersion");
  if (version != 1) {
    reader.fail("configurationVersion is " + std::to_string(version) + ", expected 1");
  }
  reader.seek(length_size_offset);
  unsigned const length_size_minus_one = reader.u8("lengthSizeMinusOne") & 0x03u;
  if (length_size_minus_one == 2) reader.fail("lengthSizeMinusOne is 2; NAL lengths of 3 bytes are not allowed");
  return length_size_minus_one + 1;
}

void check_nal_type(record_reader_t& reader, nal_family_t family, const std::string& what,
                    uint8_t header, uint8_t expected) {
  uint8_t const type = nal_type(family, header);
  if (type != expected) {
    reader.fail(what + " has NAL unit type " + std::to_string(type) + ", expected " +
                std::to_string(expected));
  }
}

// `count` parameter sets of one avcC array, each of NAL unit type `type`.
void read_avc_sets(record_reader_t& reader, unsigned count, const char* name, uint8_t type,
                   std::vector<uint8_t>& sets) {
  for (unsigned i = 0; i < count; ++i) {
    std::string const what = name + std::to_string(i);
    check_nal_type(reader, nal_family_t::avc, what, reader.nal_unit(what, &sets), type);
  }
}

// avcC: version, profile, compatibility, level, lengthSizeMinusOne, the SPS
// array and the PPS array. Trailing profile extensions are not needed here.
unsigned parse_avcc(const std::vector<uint8_t>& record, std::vector<uint8_t>& sets) {
  record_reader_t reader("avcC", record);
  unsigned const length_size = read_header(reader, 6, 4);
  unsigned const sps_count = reader.u8("numOfSequenceParameterSets") & 0x1fu;
  read_avc_sets(reader, sps_count, "SPS ", avc_nal_sps, sets);
  unsigned const pps_count = reader.u8("numOfPictureParameterSets");
  read_avc_sets(reader, pps_count, "PPS ", avc_nal_pps, sets);
  return length_size;
}

// hvcC: a 23-byte header (lengthSizeMinusOne in byte 21, numOfArrays in
// byte 22), then arrays of NAL units, each with its NAL unit type.
unsigned parse_hvcc(const std::vector<uint8_t>& record, std::vector<uint8_t>& sets) {
  record_reader_t reader("hvcC", record);
  unsigned const length_size = read_header(reader, 23, 21);
  unsigned const array_count = reader.u8("numOfArrays");
  for (unsigned a = 0; a < array_count; ++a) {
    std::string const array_name = "array " + std::to_string(a);
    uint8_t const type = reader.u8("the NAL unit type of " + array_name) & 0x3fu;
    unsigned const count = reader.u16("the NAL unit count of " + array_name);
    bool const keep = type == hevc_nal_vps || type == hevc_nal_sps || type == hevc_nal_pps;
    for (unsigned i = 0; i < count; ++i) {
      std::string const what = "NAL unit " + std::to_string(i) + " of " + array_name;
      uint8_t const header = reader.nal_unit(what, keep ? &sets : nullptr);
      if (keep) check_nal_type(reader, nal_family_t::hevc, what, header, type);
    }
  }
  return length_size;
}

bool is_access_unit_delimiter(nal_family_t family, uint8_t header_byte) {
  return nal_type(family, header_byte) ==
         (family == nal_family_t::avc ? avc_nal_aud : hevc_nal_aud);
}

class vector_sink_t final : public annexb_sink_t {
 public:
  explicit vector_sink_t(std::vector<uint8_t>& out) : out_(out) {}
  void write(const uint8_t* data, size_t size) override { out_.insert(out_.end(), data, data + size); }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace

annexb_converter_t::annexb_converter_t(nal_family_t family, const std::vector<uint8_t>& decoder_config)
    : family_(family) {
  if (decoder_config.empty()) return;
  length_size_ = family == nal_family_t::avc ? parse_avcc(decoder_config, parameter_sets_)
                                             : parse_hvcc(decoder_config, parameter_sets_);
  passthrough_ = false;
}

bool annexb_converter_t::convert(const uint8_t* bytes, size_t size, bool with_parameter_sets,
                                 uint64_t sample_number, std::vector<uint8_t>& out) const {
  vector_sink_t sink(out);
  annexb_sample_writer_t writer(*this, size, with_parameter_sets, sample_number, sink);
  writer.feed(bytes, size);
  return writer.finish();
}

annexb_sample_writer_t::annexb_sample_writer_t(const annexb_converter_t& converter,
                                               size_t sample_size, bool with_parameter_sets,
                                               uint64_t sample_number, annexb_sink_t& sink)
    : converter_(converter),
      sink_(sink),
      sample_size_(sample_size),
      sample_number_(sample_number),
      owe_parameter_sets_(with_parameter_sets && !converter.parameter_sets().empty()) {}

void annexb_sample_writer_t::fail(const std::string& fault) const {
  throw vantor::exception(vantor_result_check_failed,
                          std::string(family_name(converter_.family())) + " sample " +
                              std::to_string(sample_number_) + ": " + fault);
}

void annexb_sample_writer_t::start_nal_unit(uint8_t header_byte) {
  if (owe_parameter_sets_ && !is_access_unit_delimiter(converter_.family(), header_byte)) {
    const std::vector<uint8_t>& sets = converter_.parameter_sets();
    sink_.write(sets.data(), sets.size());
    owe_parameter_sets_ = false;
    wrote_parameter_sets_ = true;
  }
  sink_.write(start_code, sizeof start_code);
}

void annexb_sample_writer_t::feed(const uint8_t* data, size_t size) {
  if (size > sample_size_ - consumed_) {
    fail("more bytes fed than the sample's size of " + std::to_string(sample_size_));
  }
  if (converter_.passthrough()) {
    if (size > 0) sink_.write(data, size);
    consumed_ += size;
    return;
  }

  const uint8_t* const end = data + size;
  while (data < end) {
    switch (state_) {
      case state_t::length:
        if (prefix_have_ == 0) nal_start_ = consumed_;
        nal_length_ = (nal_length_ << 8) | *data++;
        ++consumed_;
        if (++prefix_have_ < converter_.length_size()) break;
        if (nal_length_ == 0) {
          fail("NAL unit " + std::to_string(nal_index_) + " at byte " + std::to_string(nal_start_) +
               " has length 0");
        }
        if (nal_length_ > sample_size_ - consumed_) {
          fail("NAL unit " + std::to_string(nal_index_) + " at byte " + std::to_string(nal_start_) +
               " has length " + std::to_string(nal_length_) + ", past the end of the " +
               std::to_string(sample_size_) + "-byte sample (" +
               std::to_string(sample_size_ - consumed_) + " bytes left)");
        }
        body_left_ = nal_length_;
        state_ = state_t::header;
        break;
      case state_t::header:
        start_nal_unit(*data);
        state_ = state_t::body;
        [[fallthrough]];
      case state_t::body: {
        size_t const n = std::min(body_left_, static_cast<size_t>(end - data));
        sink_.write(data, n);
        data += n;
        consumed_ += n;
        body_left_ -= n;
        if (body_left_ == 0) {
          state_ = state_t::length;
          prefix_have_ = 0;
          nal_length_ = 0;
          ++nal_index_;
        }
        break;
      }
    }
  }
}

bool annexb_sample_writer_t::finish() {
  if (consumed_ != sample_size_) {
    fail("only " + std::to_string(consumed_) + " of " + std::to_string(sample_size_) +
         " bytes were fed");
  }
  if (!converter_.passthrough() && state_ == state_t::length && prefix_have_ > 0) {
    fail("the length prefix of NAL unit " + std::to_string(nal_index_) + " at byte " +
         std::to_string(nal_start_) + " is cut short: " + std::to_string(prefix_have_) + " of " +
         std::to_string(converter_.length_size()) + " bytes");
  }
  return wrote_parameter_sets_;
}

}  // namespace vantor::video
