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

# lumora_library(<name> [SOURCES ...] [GLOB <dir>...] [LIBS ...] [INCLUDES ...])
# The static library of one folder of the source tree. GLOB takes every .cpp
# and .h below the given folders (relative to the calling CMakeLists), so new
# files join the library without editing this list. A folder that has no
# source yet gives an interface library, so its users can already link it.
function(lumora_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;GLOB;LIBS;INCLUDES" ${ARGN})
  set(sources ${ARG_SOURCES})
  foreach(dir ${ARG_GLOB})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.qrc)
    list(APPEND sources ${found})
  endforeach()
  set(compiled ${sources})
  list(FILTER compiled INCLUDE REGEX "\\.(cpp|qrc)$")
  if(compiled)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC lumora_common ${ARG_LIBS})
    target_include_directories(${name} PUBLIC ${ARG_INCLUDES})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE lumora_common ${ARG_LIBS})
    target_include_directories(${name} INTERFACE ${ARG_INCLUDES})
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
