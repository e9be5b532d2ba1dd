# The slimming run and its parts, against a fake service (tests/mock).
vestrel_test(engine_slimming_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/slimming/duplicate_finder_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/slimming/logid_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/slimming/service_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/slimming/slimming_test.cpp
    LIBS vestrel_engine vestrel_json
    LABELS engine)

vestrel_fuzz(engine_parse_listing_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/slimming/parse_listing_fuzz.cpp
    LIBS vestrel_engine vestrel_json
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/slimming/fuzz_corpus)
if(TARGET engine_parse_listing_fuzz)
    target_include_directories(engine_parse_listing_fuzz PRIVATE "${CMAKE_SOURCE_DIR}/tests")
endif()
