// The program's icon, a PNG image compiled into the executable from Resource/icon.png.
#pragma once

#include <cstddef>
#include <cstdint>

extern const std::uint8_t kProgramIconPng[];
extern const std::size_t kProgramIconPngSize;
