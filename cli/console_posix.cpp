#include "cli/console.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace vestrel::cli {

namespace {
std::atomic<bool> interrupted{false};
extern "C" void on_interrupt(int) {
    interrupted.store(true);
}
} // namespace

void prepare_console() {}

bool is_terminal(int stream) {
    return ::isatty(stream) == 1;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::string environment_variable(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

void install_interrupt_handler() {
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool interrupt_requested() {
    return interrupted.load();
}

std::FILE* open_file(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string_view platform_line_end() {
    return "\n";
}

unsigned long process_id() {
    return static_cast<unsigned long>(::getpid());
}

} // namespace vestrel::cli
