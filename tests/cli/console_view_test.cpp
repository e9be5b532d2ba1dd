// The console's view: line ends, and the status line that only a terminal gets.
#include "cli/console.h"
#include "cli/console_view.h"

#include <gtest/gtest.h>

namespace vestrel::cli {
namespace {

struct Screen : Console {
    bool terminal = false;
    std::string out, err;
    void write_out(std::string_view t) override { out += t; }
    void write_err(std::string_view t) override { err += t; }
    std::string read_input() override { return {}; }
    bool err_is_terminal() override { return terminal; }
    std::string environment(const char*) override { return {}; }
    bool interrupted() override { return false; }
    std::string_view line_end() override { return "\n"; }
};

TEST(ConsoleView, OffATerminalOnlyTheTextsAreWritten) {
    Screen screen;
    RunSettings settings;
    ScanState state;
    ConsoleView view(screen, settings, state);
    view.append_log(">>参数获取成功\r\n");
    view.refresh_status();
    view.append_output("\r\n[遍历文件]\r\n");
    view.append_output("用户选择不输出");
    view.set_duplicate_label("重复数目: 0");
    EXPECT_EQ(screen.err, ">>参数获取成功\n重复数目: 0\n");
    EXPECT_EQ(screen.out, "\n[遍历文件]\n用户选择不输出");
}

TEST(ConsoleView, OnATerminalTheStatusLineShowsStageAndCountsAndMakesWayForTheLog) {
    Screen screen;
    screen.terminal = true;
    RunSettings settings;
    ScanState state;
    ConsoleView view(screen, settings, state);
    view.move_loading_mark(74);
    state.directory_count = 12;
    state.file_count = 345;
    view.refresh_status();
    EXPECT_EQ(screen.err.rfind("\r[读取子目录] 目录数:12 文件数:345 重复:0 已删除:0 00:0", 0), 0u)
        << screen.err;
    screen.err.clear();
    view.append_log(">>查找重复文件中,等等\r\n");
    // The status line is blanked first, so the log line stands alone.
    EXPECT_EQ(screen.err.find('\r'), 0u);
    EXPECT_NE(screen.err.find("\r>>查找重复文件中,等等\n"), std::string::npos) << screen.err;
    view.finish_status();
    screen.err.clear();
    view.refresh_status();
    EXPECT_EQ(screen.err, "");
}

} // namespace
} // namespace vestrel::cli
