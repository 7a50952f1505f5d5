# Compiling a file into the program: vormel_embed_file(target file symbol) adds to the target a
# source, generated at build time from the file, that defines
#     extern const uint8_t <symbol>[];      the file's bytes
#     extern const size_t <symbol>Size;     their number
# The source is made again whenever the file changes. Declare the two in a header of your own.
#
# Run as a script (cmake -DINPUT=... -DOUTPUT=... -DSYMBOL=... -P EmbedFile.cmake), it writes
# that source.

if(CMAKE_SCRIPT_MODE_FILE)
    file(READ "${INPUT}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    # Sixteen bytes a line, each as 0xNN.
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
    string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
    if(size EQUAL 0)
        set(bytes "0") # an array may not be empty; the size still says 0
    endif()
    get_filename_component(name "${INPUT}" NAME)
    file(WRITE "${OUTPUT}.tmp"
        "// Generated from ${name} at build time; edit that file, not this one.\n"
        "#include <cstddef>\n#include <cstdint>\n\n"
        "extern const std::uint8_t ${SYMBOL}[] = {\n    ${bytes}\n};\n"
        "extern const std::size_t ${SYMBOL}Size = ${size};\n")
    file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
    file(REMOVE "${OUTPUT}.tmp")
    return()
endif()

set(VORMEL_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

function(vormel_embed_file target input symbol)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/embedded/${symbol}.cpp")
    add_custom_command(
        OUTPUT "${output}"
        COMMAND "${CMAKE_COMMAND}" -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${symbol}
                -P "${VORMEL_EMBED_SCRIPT}"
        DEPENDS "${input}" "${VORMEL_EMBED_SCRIPT}"
        COMMENT "Embedding ${input}"
        VERBATIM)
    # The rule that makes the source belongs to a target of this directory; the target it goes
    # into may have been made in another.
    add_library(${symbol}_embedded OBJECT "${output}")
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${symbol}_embedded>)
endfunction()
