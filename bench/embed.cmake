# Turns an assembled workload (IN) into a C++ header (OUT) holding it as the array NAME[].
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(source ${IN} NAME_WE)
file(WRITE ${OUT} "// Generated from ${source}.asm by embed.cmake.\n#pragma once\n#include <cstdint>\n\n"
  "inline constexpr uint8_t ${NAME}[] = {\n    ${bytes}\n};\n")
