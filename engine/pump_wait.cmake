# Thread messages and the message-pumping wait: one back end per platform.
target_sources(vestrel_engine PRIVATE
    "${CMAKE_CURRENT_LIST_DIR}/pump_wait_${VESTREL_PLATFORM}.cpp"
)
