# Manual pages made from each program's --help and --version by help2man, so
# they never disagree with the programs. A cross build runs the programs
# through its emulator (qemu-arm with the sysroot).
if(NOT TRM27K_MANPAGES)
  return()
endif()
find_program(HELP2MAN help2man REQUIRED)

set(TRM27K_MAN_NAMES
  "trm27k-monitor=poll a TRM27K power system through the trm27k plug-in"
  "trm27k-sim=simulate a TRM27K power system on a serial line"
  "trm27k-decode=print saved TRM27K record images as JSON")

set(pages)
foreach(entry IN LISTS TRM27K_MAN_NAMES)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 program)
  list(GET parts 1 summary)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1)
  set(runner $<TARGET_FILE:${program}>)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # help2man runs one command: a small script that runs the program under the emulator.
    set(runner ${CMAKE_CURRENT_BINARY_DIR}/${program}.run)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    file(GENERATE OUTPUT ${runner}
      CONTENT "#!/bin/sh\nexec ${emulator} $<TARGET_FILE:${program}> \"$@\"\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
  endif()
  # Sections beyond the --help text (configuration, files, examples, exit
  # status) come from PROGRAM.h2m beside this file where there is one.
  set(include "")
  set(include_file "")
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${program}.h2m)
    set(include_file ${CMAKE_CURRENT_SOURCE_DIR}/${program}.h2m)
    set(include --include=${include_file})
  endif()
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${summary}
            ${include} --output=${page} ${runner}
    COMMAND ${GZIP} -9nf ${page}
    DEPENDS ${program} ${include_file} VERBATIM)
  list(APPEND pages ${page}.gz)
endforeach()
add_custom_target(trm27k_manpages ALL DEPENDS ${pages})
install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
