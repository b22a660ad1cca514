# Copies the free images (basic.rom, dev_dos.rom, font.bin) and the symbols of basic.rom from IMAGES
# into the run folder RUN.
# A file in the run folder that is not the copy we put there last time is the user's own image (the
# ABC80's original ROMs, say): it is left alone. IMAGES/installed/ keeps what we put there.
file(MAKE_DIRECTORY ${IMAGES}/installed)
foreach(name basic.rom dev_dos.rom font.bin basic.rom.sym)
  set(built ${IMAGES}/${name})
  set(target ${RUN}/${name})
  set(record ${IMAGES}/installed/${name})
  set(ours TRUE)
  if(EXISTS ${target})
    set(ours FALSE)
    if(EXISTS ${record})
      file(SHA256 ${target} target_hash)
      file(SHA256 ${record} record_hash)
      if(target_hash STREQUAL record_hash)
        set(ours TRUE)
      endif()
    endif()
  endif()
  if(ours)
    file(COPY_FILE ${built} ${target} ONLY_IF_DIFFERENT)
    file(COPY_FILE ${built} ${record} ONLY_IF_DIFFERENT)
  else()
    message(STATUS "Keeping your own ${name} in ${RUN}")
  endif()
endforeach()

# The settings a first start gets (a real ABC80's pace): only where there is no Lunabrik.cfg yet,
# so the user's own settings are never touched.
if(EXISTS ${IMAGES}/Lunabrik.cfg AND NOT EXISTS ${RUN}/Lunabrik.cfg AND NOT IS_SYMLINK ${RUN}/Lunabrik.cfg)
  file(COPY_FILE ${IMAGES}/Lunabrik.cfg ${RUN}/Lunabrik.cfg)
endif()
