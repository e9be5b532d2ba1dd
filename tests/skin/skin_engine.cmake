# The skin engine library itself, under Wine (Windows builds only).
if(NOT WIN32)
    return()
endif()
vestrel_test(skin_engine_test SOURCES skin_engine_test.cpp
    LIBS vestrel_app vestrel_assets vestrel_loader vestrel_skin_format gdi32 user32)
# The window tests need a display; a Wine session begun without one cannot create windows, so they also run
# on a virtual X display in a Wine prefix of their own.
add_test(NAME skin_engine_test.on_display
    COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/run-on-display" "$<TARGET_FILE:skin_engine_test>" --gtest_filter=SkinWindow.*)
set_tests_properties(skin_engine_test.on_display PROPERTIES LABELS "win32;display" SKIP_RETURN_CODE 77
    RUN_SERIAL TRUE TIMEOUT 240)

add_executable(skin_showcase skin_showcase.cpp)
target_link_libraries(skin_showcase PRIVATE vestrel_app vestrel_assets vestrel_loader gdi32 user32)
