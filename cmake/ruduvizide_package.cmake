# Making ruduvizide.exe in a CMake build:
#   ruduvizide_package(<target> STUB <target-or-file> FOLDER <dir> OUTPUT <file>
#                      [MTIME "<YYYY-MM-DD hh:mm:ss> UTC"])
# adds <target> (built by default) producing OUTPUT with ruduvizide.cmake.
#
# Every entry gets one time, MTIME or a fixed day by default: the folder comes
# from source control, whose file times only say when it was checked out, and
# the archive must be the same for every build of a commit.

set(RUDUVIZIDE_DEFAULT_MTIME "2025-01-01 00:00:00 UTC")
set(_ruduvizide_script ${CMAKE_CURRENT_LIST_DIR}/ruduvizide.cmake)

function(ruduvizide_package name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "STUB;FOLDER;OUTPUT;MTIME" "")
  foreach(required STUB FOLDER OUTPUT)
    if(NOT arg_${required})
      message(FATAL_ERROR "ruduvizide_package: ${required} is required")
    endif()
  endforeach()
  set(stub ${arg_STUB})
  if(TARGET ${arg_STUB})
    set(stub $<TARGET_FILE:${arg_STUB}>)
  endif()
  if(NOT arg_MTIME)
    set(arg_MTIME "${RUDUVIZIDE_DEFAULT_MTIME}")
  endif()
  # CONFIGURE_DEPENDS: a file added to the folder re-runs the glob.
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS ${arg_FOLDER}/*)
  add_custom_command(OUTPUT ${arg_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -DFOLDER=${arg_FOLDER} -DSTUB=${stub}
            -DOUTPUT=${arg_OUTPUT} "-DMTIME=${arg_MTIME}" -P ${_ruduvizide_script}
    DEPENDS ${arg_STUB} ${inputs} ${_ruduvizide_script}
    COMMENT "Packing ${arg_FOLDER} into ${arg_OUTPUT}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${arg_OUTPUT})
endfunction()
