# Packs a folder into a self-extracting archive: the folder zipped and
# appended to the extractor stub.
#   cmake -DFOLDER=<dir> -DSTUB=<file> -DOUTPUT=<file>
#         [-DMTIME="<YYYY-MM-DD hh:mm:ss> UTC"] -P ruduvizide.cmake
# scripts/package-libs and ruduvizide_package() (ruduvizide_package.cmake)
# call it.
#
# Names are sorted and relative to FOLDER. Each entry keeps its file's own
# modification time, which the extractor's -u compares with what is installed,
# so a newer release of a library replaces an older one. MTIME, or else
# SOURCE_DATE_EPOCH, stamps every entry with one time instead.
#
# The archive holds nothing but names, contents, sizes and those times: the
# entries are described to the archiver in an mtree list, which fixes owner,
# mode and time, so that packing the same folder again gives the same bytes
# whoever packs it, when, and in which time zone.

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
find_program(BSDTAR bsdtar)
if(NOT BSDTAR)
  message(FATAL_ERROR "bsdtar not found (Debian: libarchive-tools)")
endif()

# Seconds since 1970 of "YYYY-MM-DD hh:mm:ss UTC", by the proleptic Gregorian
# calendar (days_from_civil); CMake can print a time but not read one.
function(utc_seconds text out)
  if(NOT text MATCHES "^([0-9]+)-([0-9]+)-([0-9]+) ([0-9]+):([0-9]+):([0-9]+) UTC$")
    message(FATAL_ERROR "MTIME must read YYYY-MM-DD hh:mm:ss UTC: ${text}")
  endif()
  set(f ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3}
        ${CMAKE_MATCH_4} ${CMAKE_MATCH_5} ${CMAKE_MATCH_6})
  list(TRANSFORM f REPLACE "^0+([0-9])" "\\1")  # a leading zero would read as octal
  list(GET f 0 y)
  list(GET f 1 m)
  list(GET f 2 d)
  if(m GREATER 2)
    math(EXPR m "${m} - 3")
  else()
    math(EXPR m "${m} + 9")
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR era "${y} / 400")
  math(EXPR yoe "${y} - ${era} * 400")
  math(EXPR doy "(153 * ${m} + 2) / 5 + ${d} - 1")
  math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy}")
  list(GET f 3 hh)
  list(GET f 4 mm)
  list(GET f 5 ss)
  math(EXPR s "(${era} * 146097 + ${doe} - 719468) * 86400 + ${hh} * 3600 + ${mm} * 60 + ${ss}")
  set(${out} ${s} PARENT_SCOPE)
endfunction()

set(fixed_time)
if(MTIME)
  utc_seconds("${MTIME}" fixed_time)
elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(fixed_time $ENV{SOURCE_DATE_EPOCH})
endif()

# Files, plus folders that would otherwise vanish because they are empty.
# Folders with contents stay implicit, as in archives other tools make.
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
set(list_file "${OUTPUT}.mtree")
set(zip_file "${OUTPUT}.zip")
set(part_file "${OUTPUT}.part")
set(lines "#mtree\n")
foreach(rel IN LISTS names)
  # mtree reads a name up to a blank and takes '\ooo' for a byte: anything
  # but plain characters is written that way, non-ASCII bytes included.
  set(name "${rel}")
  if(NOT rel MATCHES "^[A-Za-z0-9._/+,@%~()-]*$")
    set(name "")
    string(HEX "${rel}" hex)
    string(REGEX MATCHALL ".." bytes "${hex}")
    foreach(byte IN LISTS bytes)
      math(EXPR code "0x${byte}")
      string(ASCII ${code} char)
      if(code LESS 128 AND char MATCHES "^[A-Za-z0-9._/+,@%~()-]$")
        string(APPEND name "${char}")
      else()
        math(EXPR o1 "${code} / 64")
        math(EXPR o2 "${code} / 8 % 8")
        math(EXPR o3 "${code} % 8")
        string(APPEND name "\\${o1}${o2}${o3}")
      endif()
    endforeach()
  endif()
  set(when ${fixed_time})
  if(NOT when)
    file(TIMESTAMP "${FOLDER}/${rel}" when "%s" UTC)
  endif()
  if(IS_DIRECTORY "${FOLDER}/${rel}")
    string(APPEND lines "${name} type=dir mode=0755 uid=0 gid=0 time=${when}\n")
  else()
    string(APPEND lines "${name} type=file mode=0644 uid=0 gid=0 time=${when} contents=${name}\n")
  endif()
endforeach()
file(WRITE "${list_file}" "${lines}")
file(REMOVE "${zip_file}" "${part_file}")

# Names go through the locale: it must be a UTF-8 one. The entries' DOS
# times are local times: UTC makes them the same everywhere.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 TZ=UTC
          ${BSDTAR} -cf "${zip_file}" --format=zip "@${list_file}"
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
