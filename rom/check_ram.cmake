# Fails when the BASIC's data in RAM reaches into the stack below 0xF500 (at least 2 KB are left
# for the stack), when the program store below it runs into the data, or when the handlers of
# crt0.s run into the code at 0x00B8.
file(STRINGS ${MAP} lines REGEX "[sl]__DATA ")
set(start 0)
set(length 0)
foreach(line ${lines})
  if(line MATCHES "([0-9A-F]+) +s__DATA ")
    math(EXPR start "0x${CMAKE_MATCH_1}")
  elseif(line MATCHES "([0-9A-F]+) +l__DATA ")
    math(EXPR length "0x${CMAKE_MATCH_1}")
  endif()
endforeach()
math(EXPR end "${start} + ${length}")
if(start EQUAL 0 OR end GREATER 0xED00)
  message(FATAL_ERROR "BASIC data ends at ${end}, too close to the stack at 0xF500")
endif()
# The program store (memory.c) ends with the word mem_sig, below the data.
file(STRINGS ${MAP} lines REGEX " _mem_sig ")
if(NOT lines MATCHES "([0-9A-F]+) +_mem_sig ")
  message(FATAL_ERROR "no _mem_sig in the map")
endif()
math(EXPR program_end "0x${CMAKE_MATCH_1} + 2")
if(program_end GREATER start)
  message(FATAL_ERROR "the program store (to ${program_end}) runs into the data at ${start}")
endif()

file(STRINGS ${MAP} lines REGEX " _header_end ")
set(header_end 65536) # no symbol: fails below
if(lines MATCHES "([0-9A-F]+) +_header_end ")
  math(EXPR header_end "0x${CMAKE_MATCH_1}")
endif()
if(header_end GREATER 184) # 0x00B8
  message(FATAL_ERROR "crt0.s handlers end past 0x00B8, where the code starts")
endif()
