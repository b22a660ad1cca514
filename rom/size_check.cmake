# Fails when FILE is not exactly SIZE bytes (a ROM image that outgrew its space).
file(SIZE ${FILE} size)
if(NOT size EQUAL SIZE)
  message(FATAL_ERROR "${FILE} is ${size} bytes; the ROM holds exactly ${SIZE}")
endif()
