#pragma once
// A ProgressView that records every call, safe from any thread, with settable check boxes and delay text.

#include "engine/scan_state.h"

#include <mutex>
#include <string>
#include <vector>

namespace vestrel::testing {

class RecordingView : public ProgressView {
public:
    bool skip_errors = false;
    bool output_duplicates = false;
    std::string delay_text = "0";

    void append_log(const std::string& text) override { add("log", text); }
    void append_output(const std::string& text) override { add("output", text); }
    void set_duplicate_label(const std::string& text) override { add("label", text); }
    void show_mark(Stage stage) override { add("mark", std::to_string(static_cast<int>(stage))); }
    void move_loading_mark(int top) override { add("top", std::to_string(top)); }
    void hide_loading_mark() override { add("hide", ""); }
    void stop_data_timer() override { add("timer", ""); }
    bool is_checked(CheckBox box) override {
        return box == CheckBox::skip_errors ? skip_errors : output_duplicates;
    }
    std::string read_delay_text() override { return delay_text; }

    // Every call as "kind:argument", in order.
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(lock_);
        return events_;
    }
    // The calls of one kind, arguments only.
    std::vector<std::string> of(const std::string& kind) const {
        std::lock_guard<std::mutex> lock(lock_);
        std::vector<std::string> out;
        for (const auto& e : events_)
            if (e.compare(0, kind.size() + 1, kind + ":") == 0)
                out.push_back(e.substr(kind.size() + 1));
        return out;
    }
    std::string log() const { return joined("log"); }
    std::string output() const { return joined("output"); }
    // The stage events only (marks, tops, hide, timer), in order.
    std::vector<std::string> stages() const {
        std::lock_guard<std::mutex> lock(lock_);
        std::vector<std::string> out;
        for (const auto& e : events_)
            if (e.rfind("mark:", 0) == 0 || e.rfind("top:", 0) == 0 || e.rfind("hide:", 0) == 0 ||
                e.rfind("timer:", 0) == 0)
                out.push_back(e);
        return out;
    }

private:
    void add(const char* kind, const std::string& text) {
        std::lock_guard<std::mutex> lock(lock_);
        events_.push_back(std::string(kind) + ":" + text);
    }
    std::string joined(const std::string& kind) const {
        std::string out;
        for (const auto& part : of(kind))
            out += part;
        return out;
    }
    mutable std::mutex lock_;
    std::vector<std::string> events_;
};

} // namespace vestrel::testing
