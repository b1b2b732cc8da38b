// File and number helpers shared by the measuring programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The whole file; false, with a line on standard error, when it cannot be
// read.
bool readWholeFile(const std::string& path, std::vector<unsigned char>* bytes);

// Writes bytes to path, replacing it; false, with a line on standard error,
// when that fails.
bool writeWholeFile(const std::string& path, const unsigned char* bytes, std::size_t size);

// A decimal count in [low, high]; false, with a line on standard error
// naming what, when text is not one.
bool parseCount(const char* text, const char* what, long low, long high, long* value);

}  // namespace bench
