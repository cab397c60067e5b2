#pragma once

#include <filesystem>
#include <string>

namespace vantor::outputs {

// The whole text of a manifest the run adds to; throws output_error_t
// naming the file and the cause.
std::string read_manifest(const std::filesystem::path& path);

// Writes a manifest under a temporary name and renames it into place;
// throws output_error_t.
void write_manifest(const std::filesystem::path& path, const std::string& text);

}  // namespace vantor::outputs
