# Thread messages and the message-pumping wait, on both platforms; the Windows suite adds window messages.
set(_pump_wait_sources "${CMAKE_CURRENT_LIST_DIR}/pump_wait_test.cpp")
if(WIN32)
    list(APPEND _pump_wait_sources "${CMAKE_CURRENT_LIST_DIR}/pump_wait_win32_test.cpp")
endif()
vestrel_test(pump_wait_test SOURCES ${_pump_wait_sources} LIBS vestrel_engine)
