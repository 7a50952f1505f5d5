// libFuzzer target for the skin file parser: any bytes must give either a skin or an error that
// names a line of the text, and never crash, hang or read out of bounds.
//
//     CXX=clang++ cmake -S . -B build-fuzz && cmake --build build-fuzz --target fuzz_skin_file
//     build-fuzz/tests/fuzz_skin_file -max_total_time=60 CORPUS_DIR Resource/
#include "platform/skin/skin_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    SkinFile skin;
    SkinFileError error;
    if (ParseSkinText(text, &skin, &error)) return 0;
    int lines = 1;
    for (char c : text)
        lines += c == '\n';
    // A fault is always explained, and at a line that exists (0: the whole file).
    if (error.message.empty() || error.line < 0 || error.line > lines) __builtin_trap();
    return 0;
}
