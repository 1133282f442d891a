# Warnings for every target of the project: on, and clean.
add_library(zentlog_warnings INTERFACE)
target_compile_options(zentlog_warnings INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                  -Wold-style-cast -Woverloaded-virtual -Wimplicit-fallthrough>
  $<$<CXX_COMPILER_ID:MSVC>:/W4>)
if(ZENTLOG_WERROR)
  target_compile_options(zentlog_warnings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Werror> $<$<CXX_COMPILER_ID:MSVC>:/WX>)
endif()

# zentlog_library(NAME SOURCES... LIBS ...): one static library of the project.
function(zentlog_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE zentlog_warnings)
endfunction()
