#pragma once

namespace vantor {

// Result codes carried by vantor::exception.
enum vantor_result : int {
  vantor_result_ok = 0,
  vantor_result_io_error = 5,         // a file could not be read or written
  vantor_result_check_failed = 13,    // failed check, unknown option
  vantor_result_libav_failure = 89,   // failure reported by FFmpeg
};

// Larger is more verbose. A log context of level L emits messages of level <= L.
enum vantor_log_level_t : int {
  vantor_log_error = 0,
  vantor_log_warning = 1,
  vantor_log_info = 2,
  vantor_log_debug = 3,
  vantor_log_trace = 4,
};

}  // namespace vantor
