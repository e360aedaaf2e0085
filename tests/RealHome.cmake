# What the suite could change in the real home of the user who runs it: the
# start-at-login folders (the XDG autostart folder, ~/Library) and the
# application's data folder. CTest runs it before the first test
# (MODE=record) and after the last one (MODE=compare), which fails when the
# suite changed, added or removed anything there.
#
#   cmake -DMODE=record|compare -DSNAPSHOT=<file> -P RealHome.cmake

cmake_minimum_required(VERSION 3.16)

if(NOT MODE MATCHES "^(record|compare)$" OR NOT SNAPSHOT)
  message(FATAL_ERROR "usage: cmake -DMODE=record|compare -DSNAPSHOT=<file> -P RealHome.cmake")
endif()

set(home "$ENV{HOME}")
set(config "$ENV{XDG_CONFIG_HOME}")
if(NOT IS_ABSOLUTE "${config}")
  set(config "${home}/.config")
endif()
set(data "$ENV{XDG_DATA_HOME}")
if(NOT IS_ABSOLUTE "${data}")
  set(data "${home}/.local/share")
endif()

# One line per entry below each folder: its path and what it is, a file with
# its MD5 and modification time.
set(listing "")
foreach(folder "${config}/autostart" "${home}/Library" "${data}/Arvel")
  if(NOT EXISTS "${folder}")
    string(APPEND listing "${folder} missing\n")
    continue()
  endif()
  file(GLOB_RECURSE entries LIST_DIRECTORIES true "${folder}/*")
  list(SORT entries)
  foreach(entry "${folder}" ${entries})
    if(IS_SYMLINK "${entry}")
      file(READ_SYMLINK "${entry}" target)
      string(APPEND listing "${entry} link ${target}\n")
    elseif(IS_DIRECTORY "${entry}")
      string(APPEND listing "${entry} folder\n")
    else()
      file(MD5 "${entry}" md5)
      file(TIMESTAMP "${entry}" time "%Y-%m-%d %H:%M:%S" UTC)
      string(APPEND listing "${entry} file ${md5} ${time}\n")
    endif()
  endforeach()
endforeach()

if(MODE STREQUAL "record")
  file(WRITE "${SNAPSHOT}" "${listing}")
  return()
endif()

if(NOT EXISTS "${SNAPSHOT}")
  message(FATAL_ERROR "No record of the real home before the tests: ${SNAPSHOT}")
endif()
file(READ "${SNAPSHOT}" before)
if(NOT before STREQUAL listing)
  message(FATAL_ERROR "The tests changed the real home ${home}.\nBefore:\n${before}After:\n${listing}")
endif()
message(STATUS "The real home ${home} is as the tests found it")
