# Settings shared by every target of the project.
add_library(lumora_common INTERFACE)
target_compile_features(lumora_common INTERFACE cxx_std_17)
target_compile_options(lumora_common INTERFACE -Wall -Wextra)
target_compile_definitions(lumora_common INTERFACE
  QT_DEPRECATED_WARNINGS
  QT_DISABLE_DEPRECATED_BEFORE=0x050F00
  BOOST_LOG_DYN_LINK
  BOOST_ALL_DYN_LINK
  BOOST_FILESYSTEM_NO_DEPRECATED
  BOOST_BIND_GLOBAL_PLACEHOLDERS)

if(LUMORA_SANITIZE)
  target_compile_options(lumora_common INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(lumora_common INTERFACE -fsanitize=address,undefined)
endif()

# lumora_library(<name> [SOURCES ...] [GLOB <dir>...] [EXCLUDE <file>...]
#                [PUBLIC <lib>...] [PRIVATE <lib>...]
#                [HEADERS_AS <folder>] [INCLUDES <dir>...])
# The static library of one folder of the source tree. GLOB takes every .cpp
# and .h below the given folders (relative to the calling CMakeLists), so new
# files join the library without editing this list; EXCLUDE leaves out files
# (relative to the calling CMakeLists) that another library of the same
# folder holds. A folder that has no source yet gives an interface library,
# so its users can already link it.
#
# PUBLIC takes what the library's headers need (their users get it too),
# PRIVATE what only its sources need (linked, but its headers and settings
# stay out of the users' compilations).
#
# Headers: HEADERS_AS makes the library's own headers, and only those,
# reachable as "<folder>/<path below the calling folder>" ("util/Md5.h";
# "." for no folder) through a folder of links made for this library alone
# (<build>/include/<name>), so that a user reaches the headers of the
# libraries it links and no others. INCLUDES exports folders as they are,
# for a library whose folder is its include root (Logger/include, TeskClient/src).
function(lumora_library name)
  cmake_parse_arguments(ARG "" "HEADERS_AS" "SOURCES;GLOB;EXCLUDE;PUBLIC;PRIVATE;INCLUDES" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "lumora_library(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  set(sources ${ARG_SOURCES})
  foreach(dir ${ARG_GLOB})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.qrc)
    foreach(file ${found})
      get_filename_component(file ${file} ABSOLUTE) # "src/util/./X.h" as "src/util/X.h"
      list(APPEND sources ${file})
    endforeach()
  endforeach()
  foreach(file ${ARG_EXCLUDE})
    get_filename_component(file ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(REMOVE_ITEM sources ${file})
  endforeach()

  set(includes ${ARG_INCLUDES})
  if(ARG_HEADERS_AS)
    set(root ${PROJECT_BINARY_DIR}/include/${name})
    file(REMOVE_RECURSE ${root})
    set(headers ${sources})
    list(FILTER headers INCLUDE REGEX "\\.h$")
    foreach(header ${headers})
      get_filename_component(header ${header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
      file(RELATIVE_PATH relative ${CMAKE_CURRENT_SOURCE_DIR} ${header})
      get_filename_component(link ${root}/${ARG_HEADERS_AS}/${relative} ABSOLUTE)
      get_filename_component(folder ${link} DIRECTORY)
      file(MAKE_DIRECTORY ${folder})
      file(CREATE_LINK ${header} ${link} SYMBOLIC)
    endforeach()
    list(APPEND includes ${root})
  endif()

  set(compiled ${sources})
  list(FILTER compiled INCLUDE REGEX "\\.(cpp|qrc)$")
  if(compiled)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC lumora_common ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
    target_include_directories(${name} PUBLIC ${includes})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE lumora_common ${ARG_PUBLIC} ${ARG_PRIVATE})
    target_include_directories(${name} INTERFACE ${includes})
  endif()
endfunction()

# Adds every subfolder of the current folder that has a CMakeLists.txt.
function(lumora_add_subfolders)
  file(GLOB entries LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(dir ${entries})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${dir} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt
       AND NOT dir STREQUAL "support")
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
