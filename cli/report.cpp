#include "cli/report.h"

#include "cli/console.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vestrel::cli {

const char* outcome_name(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::finished:
        return "finished";
    case RunOutcome::token_failed:
        return "token_failed";
    case RunOutcome::root_failed:
        return "root_failed";
    case RunOutcome::listing_failed:
        return "listing_failed";
    case RunOutcome::stopped:
        return "stopped";
    }
    return "unknown";
}

namespace {

const char* delete_outcome_name(DeleteOutcome outcome) {
    switch (outcome) {
    case DeleteOutcome::deleted:
        return "deleted";
    case DeleteOutcome::failed:
        return "failed";
    case DeleteOutcome::planned:
        return "planned";
    case DeleteOutcome::pending:
        return "not_sent";
    }
    return "unknown";
}

} // namespace

std::string report_json(const RunSettings& settings, const ScanState& state, RunOutcome outcome,
                        double seconds) {
    using json = nlohmann::ordered_json;
    json report;
    report["origin"] = settings.origin;
    report["outcome"] = outcome_name(outcome);
    report["seconds"] = static_cast<double>(static_cast<long long>(seconds * 1000)) / 1000;
    report["settings"] = {
        {"threads", settings.threads},         {"delay", settings.delay_text},
        {"skip_errors", settings.skip_errors}, {"output_duplicates", settings.output_duplicates},
        {"dry_run", settings.dry_run},         {"pause_ms", settings.pause_ms}};
    report["counts"] = {{"directories", state.directory_count.load()},
                        {"files", state.file_count.load()},
                        {"duplicates", state.duplicate_list.size()},
                        {"deleted", state.deleted_count.load()},
                        {"failed", state.failed_count.load()}};
    json duplicates = json::array();
    for (std::size_t i = 0; i < state.duplicate_list.size(); ++i) {
        json item;
        item["path"] = state.duplicate_list[i];
        if (i < state.duplicate_details.size()) {
            const DuplicateDetail& d = state.duplicate_details[i];
            item["md5"] = d.md5;
            item["kept"] = d.kept_path;
            item["outcome"] = delete_outcome_name(d.outcome);
            if (d.outcome == DeleteOutcome::failed)
                item["error"] = d.failure;
        }
        duplicates.push_back(std::move(item));
    }
    report["duplicates"] = std::move(duplicates);
    report["listing_errors"] = state.listing_errors;
    // Texts from the service may hold bytes that are not UTF-8; they are replaced, not refused.
    return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string& message) {
    std::string temporary = path + ".tmp-" + std::to_string(process_id());
    std::FILE* file = open_file(temporary, "wb");
    if (file == nullptr) {
        message = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(temporary.c_str());
        message = "cannot write " + temporary;
        return false;
    }
    if (!replace_file(temporary, path)) {
        std::remove(temporary.c_str());
        message = "cannot replace " + path;
        return false;
    }
    return true;
}

} // namespace vestrel::cli
