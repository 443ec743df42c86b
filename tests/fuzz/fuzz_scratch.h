#pragma once

// A scratch volume for the fuzz targets: a temporary folder that becomes the
// library's home and is removed at exit.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvofuzz {

// Creates the scratch folder once, sets it as home and silences the library's
// failure texts; returns the folder with a trailing "/".
const std::string &scratchHome();

void writeFile(const std::string &relative, const uint8_t *data, size_t size);

// Splits data at every "|@@|".
std::vector<std::string> splitChunks(const uint8_t *data, size_t size);

} // namespace corvofuzz
