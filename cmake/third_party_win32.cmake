# PCRE2 and pugixml for the Windows build, compiled from Debian's source packages (script/fetch-sources).
if(NOT EXISTS "${VESTREL_SOURCES_DIR}/pcre2/.complete" OR NOT EXISTS "${VESTREL_SOURCES_DIR}/pugixml/.complete")
    message(FATAL_ERROR "Windows build: run script/fetch-sources first (looked in ${VESTREL_SOURCES_DIR})")
endif()

# pugixml: one source file.
add_library(vestrel_pugixml STATIC "${VESTREL_SOURCES_DIR}/pugixml/src/pugixml.cpp")
target_include_directories(vestrel_pugixml SYSTEM PUBLIC "${VESTREL_SOURCES_DIR}/pugixml/src")
target_compile_options(vestrel_pugixml PRIVATE -w)

# PCRE2: its own CMake build, 8-bit library only, static, no JIT (not needed for our patterns).
set(BUILD_SHARED_LIBS OFF)
set(BUILD_STATIC_LIBS ON CACHE BOOL "" FORCE)
set(PCRE2_BUILD_PCRE2_8 ON CACHE BOOL "" FORCE)
set(PCRE2_BUILD_PCRE2_16 OFF CACHE BOOL "" FORCE)
set(PCRE2_BUILD_PCRE2_32 OFF CACHE BOOL "" FORCE)
set(PCRE2_BUILD_PCRE2GREP OFF CACHE BOOL "" FORCE)
set(PCRE2_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(PCRE2_SUPPORT_JIT OFF CACHE BOOL "" FORCE)
set(PCRE2_SUPPORT_UNICODE ON CACHE BOOL "" FORCE)
set(PCRE2_STATIC_PIC ON CACHE BOOL "" FORCE)
# The library's own warnings are not ours to fix.
set(_saved_opts "${CMAKE_C_FLAGS}")
add_subdirectory("${VESTREL_SOURCES_DIR}/pcre2" "${CMAKE_BINARY_DIR}/pcre2" EXCLUDE_FROM_ALL SYSTEM)
if(TARGET pcre2-8-static)
    set(_pcre2_target pcre2-8-static)
else()
    set(_pcre2_target pcre2-8)
endif()
target_compile_options(${_pcre2_target} PRIVATE -w)
add_library(vestrel_pcre2 INTERFACE)
target_link_libraries(vestrel_pcre2 INTERFACE ${_pcre2_target})
target_include_directories(vestrel_pcre2 SYSTEM INTERFACE "${CMAKE_BINARY_DIR}/pcre2/interface" "${CMAKE_BINARY_DIR}/pcre2")
target_compile_definitions(vestrel_pcre2 INTERFACE PCRE2_CODE_UNIT_WIDTH=8 PCRE2_STATIC)
