# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=block -P embed.cmake
# Writes a C++ source defining vestrel::assets::NAME() over the bytes of INPUT. An INPUT that is empty or
# absent gives an empty block.
if(EXISTS "${INPUT}")
    file(READ "${INPUT}" hex HEX)
else()
    set(hex "")
endif()
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
set(body "")
if(size GREATER 0)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # 32 bytes a line.
    string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n    " bytes "${bytes}")
    set(body "alignas(16) const std::uint8_t bytes[${size}] = {\n    ${bytes}\n};\n")
    set(value "std::span<const std::uint8_t>(bytes, ${size})")
else()
    set(value "std::span<const std::uint8_t>()")
endif()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT} at build time; do not edit.
#include <cstdint>
#include <span>

namespace vestrel::assets {
namespace {
${body}} // namespace

std::span<const std::uint8_t> ${NAME}() { return ${value}; }

} // namespace vestrel::assets
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
