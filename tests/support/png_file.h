// Writes small PNG files for the tests' own pictures (uncompressed deflate: simple, and any PNG
// decoder reads it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// rgba: width x height pixels, four bytes each, top row first.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);
