# libpalfill.a defines no global symbol but the palfill_* functions and
# names in namespace palfill, so that it clashes with nothing in the
# program that embeds it:
#   cmake -DNM=nm -DLIBRARY=libpalfill.a -P static_symbols.cmake
execute_process(COMMAND ${NM} --defined-only -g ${LIBRARY} OUTPUT_VARIABLE listing
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Z]) (.+)$")
    set(type ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    math(EXPR count "${count} + 1")
    # palfill_*, and C++ names (functions, objects, guards) inside palfill::.
    # An unoptimised build also keeps weak copies of standard templates
    # (std::min<unsigned long>, std::array<palfill::rgba_entry, 256>::data):
    # every program's copy is the same, and a weak one never clashes.
    if(type MATCHES "^[WV]$" AND name MATCHES "^_ZN?[KRO]*St")
      continue()
    endif()
    if(NOT name MATCHES "^palfill_" AND NOT name MATCHES "^_Z(GV|TH|TW)?Z?NK?7palfill")
      message(SEND_ERROR "libpalfill.a defines ${name}, outside palfill_* and namespace palfill")
    endif()
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no symbols read from ${LIBRARY}")
endif()
message(STATUS "${count} global symbols, all palfill_* or in namespace palfill")
