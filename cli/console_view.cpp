#include "cli/console_view.h"

#include <algorithm>
#include <cstdio>

namespace vestrel::cli {

ConsoleView::ConsoleView(Console& console, const RunSettings& settings, const ScanState& state)
    : console_(console), settings_(settings), state_(state), live_(console.err_is_terminal()),
      started_(std::chrono::steady_clock::now()) {}

std::string ConsoleView::platform_text(const std::string& text) const {
    std::string_view end = console_.line_end();
    if (end == "\r\n")
        return text;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += end;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void ConsoleView::clear_status_locked() {
    if (!status_shown_)
        return;
    console_.write_err("\r" + std::string(status_width_, ' ') + "\r");
    status_shown_ = false;
}

void ConsoleView::append_log(const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    clear_status_locked();
    console_.write_err(platform_text(text));
}

void ConsoleView::append_output(const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    console_.write_out(platform_text(text));
}

void ConsoleView::set_duplicate_label(const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    clear_status_locked();
    console_.write_err(text + std::string(console_.line_end()));
}

void ConsoleView::show_mark(Stage) {}

void ConsoleView::move_loading_mark(int top) {
    std::lock_guard<std::mutex> lock(lock_);
    stage_top_ = top;
}

void ConsoleView::hide_loading_mark() {}

// The counts are read afresh on every refresh; the status line goes on showing the deletions.
void ConsoleView::stop_data_timer() {}

bool ConsoleView::is_checked(CheckBox box) {
    return box == CheckBox::skip_errors ? settings_.skip_errors : settings_.output_duplicates;
}

std::string ConsoleView::read_delay_text() {
    return settings_.delay_text;
}

std::string ConsoleView::stage_name() const {
    switch (stage_top_) {
    case 42:
        return "读取主目录";
    case 74:
        return "读取子目录";
    case 107:
        return "查找重复";
    case 139:
        return "删除重复";
    case 170:
        return "完成";
    default:
        return "初始化";
    }
}

void ConsoleView::refresh_status() {
    if (!live_)
        return;
    std::lock_guard<std::mutex> lock(lock_);
    if (finished_)
        return;
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count();
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    std::string line = "[" + stage_name() + "] 目录数:" + std::to_string(state_.directory_count.load()) +
                       " 文件数:" + std::to_string(state_.file_count.load()) +
                       " 重复:" + std::to_string(state_.duplicate_count.load()) +
                       " 已删除:" + std::to_string(state_.deleted_count.load()) + " " + elapsed;
    // Display width: count characters, two columns for the CJK ones (three UTF-8 bytes each here).
    std::size_t width = 0;
    for (std::size_t i = 0; i < line.size();) {
        auto c = static_cast<unsigned char>(line[i]);
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        width += len >= 3 ? 2 : 1;
        i += len;
    }
    std::string text = "\r" + line;
    if (width < status_width_)
        text += std::string(status_width_ - width, ' ');
    console_.write_err(text);
    status_width_ = std::max(status_width_, width);
    status_shown_ = true;
}

void ConsoleView::finish_status() {
    std::lock_guard<std::mutex> lock(lock_);
    clear_status_locked();
    finished_ = true;
}

void ConsoleView::note(const std::string& line) {
    std::lock_guard<std::mutex> lock(lock_);
    clear_status_locked();
    console_.write_err(line + std::string(console_.line_end()));
}

} // namespace vestrel::cli
