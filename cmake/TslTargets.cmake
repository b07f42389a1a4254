# Warnings and helpers shared by every target of the project.
function(tsl_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# tsl_library(name SOURCES ... [WIN32_SOURCES ...] [POSIX_SOURCES ...] [DEPS ...]
#             [WIN32_LIBS ...] [POSIX_LIBS ...])
# A static library of src/; the platform lists pick the _win32.cpp or _posix.cpp halves.
function(tsl_library name)
  cmake_parse_arguments(A "" "" "SOURCES;WIN32_SOURCES;POSIX_SOURCES;DEPS;WIN32_LIBS;POSIX_LIBS"
                        ${ARGN})
  set(srcs ${A_SOURCES})
  if(WIN32)
    list(APPEND srcs ${A_WIN32_SOURCES})
  else()
    list(APPEND srcs ${A_POSIX_SOURCES})
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  tsl_warnings(${name})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  if(WIN32)
    target_link_libraries(${name} PUBLIC ${A_WIN32_LIBS})
  else()
    target_link_libraries(${name} PUBLIC ${A_POSIX_LIBS} Threads::Threads)
  endif()
endfunction()
