# Turns the assembled workload (IN) into a C++ header (OUT) holding it as WorkloadImage[].
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUT} "// Generated from workload.asm by embed.cmake.\n#pragma once\n#include <cstdint>\n\n"
  "inline constexpr uint8_t WorkloadImage[] = {\n    ${bytes}\n};\n")
