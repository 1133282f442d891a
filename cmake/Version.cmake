# The program's version comes from project(... VERSION ...) alone: zentlog/Version.h carries it
# into the code (zentlog_version), the package takes it from the same place.
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${PROJECT_BINARY_DIR}/generated/zentlog/Version.h @ONLY)
add_library(zentlog_version INTERFACE)
target_include_directories(zentlog_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
