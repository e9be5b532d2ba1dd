# The HTTP request routine: the portable steps, one transport back end per platform, and the scripted
# transport that tests use. WinHTTP is bound by name at run time, so Windows links nothing extra for it.
target_sources(vestrel_web PRIVATE
    "${CMAKE_CURRENT_LIST_DIR}/http_request.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/http_transport_${VESTREL_PLATFORM}.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/http_fake_transport.cpp"
)
# The routine handles the calling thread's messages (engine: pump_wait) and finds a page's charset with
# the regular-expression object (script).
target_link_libraries(vestrel_web PUBLIC vestrel_engine vestrel_script)
if(NOT WIN32)
    target_link_libraries(vestrel_web PRIVATE CURL::libcurl)
endif()
