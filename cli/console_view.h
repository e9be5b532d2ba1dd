#pragma once
// The ProgressView of the command-line client: the log box is standard error, the output box standard
// output. On a terminal a status line at the foot of standard error shows the stage and the counts,
// refreshed by the caller every 150 ms; off a terminal nothing but the texts is written.

#include "cli/client.h"
#include "cli/options.h"
#include "engine/scan_state.h"

#include <chrono>
#include <mutex>
#include <string>

namespace vestrel::cli {

class ConsoleView : public ProgressView {
public:
    ConsoleView(Console& console, const RunSettings& settings, const ScanState& state);

    void append_log(const std::string& text) override;
    void append_output(const std::string& text) override;
    void set_duplicate_label(const std::string& text) override;
    void show_mark(Stage stage) override;
    void move_loading_mark(int top) override;
    void hide_loading_mark() override;
    void stop_data_timer() override;
    bool is_checked(CheckBox box) override;
    std::string read_delay_text() override;

    // The data timer's tick: redraws the status line (on a terminal).
    void refresh_status();
    // Removes the status line for good (before the client's own last lines).
    void finish_status();
    // A line of the client's own on standard error, below the log.
    void note(const std::string& line);

    std::string stage_name() const;

private:
    std::string platform_text(const std::string& text) const;
    void clear_status_locked();

    Console& console_;
    const RunSettings& settings_;
    const ScanState& state_;
    const bool live_;
    std::chrono::steady_clock::time_point started_;
    mutable std::mutex lock_;
    int stage_top_ = 0;
    bool status_shown_ = false;
    bool finished_ = false;
    std::size_t status_width_ = 0;
};

} // namespace vestrel::cli
