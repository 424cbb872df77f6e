# Making ruduvizide.exe: a folder zipped with CMake's own archive support and
# appended to the extractor stub.
#
# Included, this file defines
#   ruduvizide_package(<target> STUB <target-or-file> FOLDER <dir> OUTPUT <file>
#                      [MTIME "<YYYY-MM-DD hh:mm:ss> UTC"])
# which adds <target> (built by default) producing OUTPUT.
#
# Run as a script (cmake -DFOLDER=.. -DSTUB=.. -DOUTPUT=.. [-DMTIME=..] -P
# ruduvizide.cmake) it does the packing itself; scripts/package-libs calls it
# that way.
#
# Names are sorted and relative to FOLDER. Each entry keeps its file's own
# modification time, which the extractor's -u compares with what is installed,
# so a newer release of a library replaces an older one. MTIME (or
# SOURCE_DATE_EPOCH, in script mode) stamps every entry with one time instead,
# for a reproducible archive; the function does that by default with a fixed
# day, since it packs folders from source control, whose file times only say
# when they were checked out.

set(RUDUVIZIDE_DEFAULT_MTIME "2025-01-01 00:00:00 UTC")

if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(_ruduvizide_script ${CMAKE_CURRENT_LIST_FILE})

  function(ruduvizide_package name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "STUB;FOLDER;OUTPUT;MTIME" "")
    foreach(required STUB FOLDER OUTPUT)
      if(NOT arg_${required})
        message(FATAL_ERROR "ruduvizide_package: ${required} is required")
      endif()
    endforeach()
    set(stub ${arg_STUB})
    set(stub_dep ${arg_STUB})
    if(TARGET ${arg_STUB})
      set(stub $<TARGET_FILE:${arg_STUB}>)
    endif()
    if(NOT arg_MTIME)
      set(arg_MTIME "${RUDUVIZIDE_DEFAULT_MTIME}")
    endif()
    set(mtime_arg "-DMTIME=${arg_MTIME}")
    # CONFIGURE_DEPENDS: a file added to the folder re-runs the glob.
    file(GLOB_RECURSE inputs CONFIGURE_DEPENDS ${arg_FOLDER}/*)
    add_custom_command(OUTPUT ${arg_OUTPUT}
      COMMAND ${CMAKE_COMMAND} -DFOLDER=${arg_FOLDER} -DSTUB=${stub}
              -DOUTPUT=${arg_OUTPUT} ${mtime_arg} -P ${_ruduvizide_script}
      DEPENDS ${stub_dep} ${inputs} ${_ruduvizide_script}
      COMMENT "Packing ${arg_FOLDER} into ${arg_OUTPUT}"
      VERBATIM)
    add_custom_target(${name} ALL DEPENDS ${arg_OUTPUT})
  endfunction()
  return()
endif()

# ---- script mode ----------------------------------------------------------

foreach(required FOLDER STUB OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "ruduvizide.cmake: -D${required}=... is required")
  endif()
endforeach()
if(NOT IS_DIRECTORY "${FOLDER}")
  message(FATAL_ERROR "not a folder: ${FOLDER}")
endif()
if(NOT EXISTS "${STUB}" OR IS_DIRECTORY "${STUB}")
  message(FATAL_ERROR "extractor stub not found: ${STUB}")
endif()
if(NOT DEFINED MTIME AND DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP MTIME "%Y-%m-%d %H:%M:%S UTC" UTC)
endif()
set(mtime_option)
if(MTIME)
  set(mtime_option "--mtime=${MTIME}")
endif()

# Files, plus folders that would otherwise vanish because they are empty.
# Naming a folder to the archiver would add its contents a second time and in
# directory order, so folders with contents are left implicit.
file(GLOB_RECURSE all RELATIVE "${FOLDER}" LIST_DIRECTORIES true "${FOLDER}/*")
set(names)
foreach(rel IN LISTS all)
  set(abs "${FOLDER}/${rel}")
  if(IS_SYMLINK "${abs}")
    message(FATAL_ERROR "symbolic links cannot go into the archive: ${abs}")
  elseif(IS_DIRECTORY "${abs}")
    file(GLOB children "${abs}/*")
    if(NOT children)
      list(APPEND names "${rel}")
    endif()
  else()
    list(APPEND names "${rel}")
  endif()
endforeach()
if(NOT names)
  message(FATAL_ERROR "nothing to pack in ${FOLDER}")
endif()
list(SORT names COMPARE STRING)

get_filename_component(out_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
set(list_file "${OUTPUT}.files")
set(zip_file "${OUTPUT}.zip")
set(part_file "${OUTPUT}.part")
set(lines "")
foreach(rel IN LISTS names)
  # The archiver reads a leading '-' in the list as an option.
  if(rel MATCHES "^-")
    string(APPEND lines "--add-file=${rel}\n")
  else()
    string(APPEND lines "${rel}\n")
  endif()
endforeach()
file(WRITE "${list_file}" "${lines}")
file(REMOVE "${zip_file}" "${part_file}")

# The archiver converts names through the locale: it must be a UTF-8 one.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8
          ${CMAKE_COMMAND} -E tar cf "${zip_file}" --format=zip ${mtime_option}
          "--files-from=${list_file}"
  WORKING_DIRECTORY "${FOLDER}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "zipping ${FOLDER} failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E cat "${STUB}" "${zip_file}"
  OUTPUT_FILE "${part_file}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "appending the archive to ${STUB} failed")
endif()
file(CHMOD "${part_file}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(RENAME "${part_file}" "${OUTPUT}")
file(REMOVE "${list_file}" "${zip_file}")
list(LENGTH names count)
message(STATUS "${OUTPUT}: ${count} entries from ${FOLDER}")
