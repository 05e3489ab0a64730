# The fuzz harness as a library: Harness.cpp and the shipped instruction
# table embedded as a byte array. The fuzz targets link an instrumented
# copy; the regression replay of the test suite links the normal build.
#
#   torvik_fuzz_harness(NAME CORE_LIBRARY)
set(TORVIK_FUZZ_DIR "${CMAKE_CURRENT_LIST_DIR}")

function(torvik_embed_table output)
  file(READ "${TORVIK_TABLE}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  set(content "// Generated from ${TORVIK_TABLE}.\n#include <cstddef>\nnamespace torvik::fuzz {\n")
  string(APPEND content "extern const unsigned char kShippedTable[] = {${bytes} 0};\n")
  string(APPEND content "extern const std::size_t kShippedTableSize = sizeof kShippedTable - 1;\n}\n")
  set(old "")
  if(EXISTS "${output}")
    file(READ "${output}" old)
  endif()
  # Rewritten only when the table changed, so that nothing is rebuilt for
  # every configure.
  if(NOT old STREQUAL content)
    file(WRITE "${output}" "${content}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${TORVIK_TABLE}")
endfunction()

function(torvik_fuzz_harness name core)
  set(table_source "${CMAKE_CURRENT_BINARY_DIR}/${name}_table.cpp")
  torvik_embed_table("${table_source}")
  add_library(${name} STATIC "${TORVIK_FUZZ_DIR}/Harness.cpp" "${table_source}")
  target_include_directories(${name} PUBLIC "${TORVIK_FUZZ_DIR}")
  target_link_libraries(${name} PUBLIC ${core})
endfunction()
