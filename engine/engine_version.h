#pragma once

namespace vestrel {

// The engine's version text, for reports and the command-line client.
const char* engine_version();

} // namespace vestrel
