#pragma once
// The JSON report of a run (--report FILE), written atomically: to a temporary file beside it, then renamed.

#include "cli/options.h"
#include "engine/scan_state.h"
#include "engine/slimming.h"

#include <string>

namespace vestrel::cli {

// The report's text.
std::string report_json(const RunSettings& settings, const ScanState& state, RunOutcome outcome,
                        double seconds);

// Writes `text` to `path` so that the file holds either its old content or all of `text`. False with a
// message when it cannot.
bool write_file_atomically(const std::string& path, const std::string& text, std::string& message);

const char* outcome_name(RunOutcome outcome);

} // namespace vestrel::cli
