# The slimming run: shared state, the stages and their workers, the duplicate finder, the service requests.
target_sources(vestrel_engine PRIVATE
    "${CMAKE_CURRENT_LIST_DIR}/duplicate_finder.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/logid.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/service.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/service_http.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/slimming.cpp"
)
target_link_libraries(vestrel_engine PUBLIC vestrel_web vestrel_script vestrel_json)
