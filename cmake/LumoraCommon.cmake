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

# lumora_library(<name> SOURCES ... [LIBS ...])
# A static library of one folder of the source tree.
function(lumora_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PUBLIC_INCLUDES" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC lumora_common ${ARG_LIBS})
  if(ARG_PUBLIC_INCLUDES)
    target_include_directories(${name} PUBLIC ${ARG_PUBLIC_INCLUDES})
  endif()
endfunction()
