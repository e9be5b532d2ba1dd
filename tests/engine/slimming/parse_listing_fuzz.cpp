// Feeds arbitrary list responses to parse_listing and the delete body to the service's own reading of it:
// nothing crashes, and a recorded entry always has a path.
#include "engine/slimming.h"
#include "mock/fake_service.h"
#include "mock/recording_view.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    vestrel::ScanState state;
    vestrel::testing::RecordingView view;
    vestrel::testing::FakeService service;
    vestrel::SlimmingOptions options;
    options.pause_ms = 0;
    vestrel::SlimmingRun run(state, view, service, options);
    std::unordered_set<std::string> seen;
    run.parse_listing(text, &seen);
    for (const auto& entry : state.file_list)
        if (entry.path.empty() || entry.md5.empty())
            std::abort();
    for (const auto& dir : state.directory_list)
        if (dir.empty())
            std::abort();
    // A path that is valid UTF-8 comes back from the delete body unchanged.
    bool valid_utf8 = true;
    try {
        (void)nlohmann::json(text).dump();
    } catch (const nlohmann::json::exception&) {
        valid_utf8 = false;
    }
    if (valid_utf8 && vestrel::testing::FakeService::body_path(vestrel::delete_body(text)) != text)
        std::abort();
    return 0;
}
