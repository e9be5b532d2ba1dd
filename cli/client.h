#pragma once
// vestrel, the command-line client: `vestrel run` drives a slimming run against the service, `vestrel demo`
// against the embedded simulator.

#include <string>
#include <string_view>
#include <vector>

namespace vestrel::cli {

// Where the client writes and reads; the real console or a test's capture.
class Console {
public:
    virtual ~Console() = default;
    virtual void write_out(std::string_view text) = 0;
    virtual void write_err(std::string_view text) = 0;
    virtual std::string read_input() = 0;
    virtual bool err_is_terminal() = 0;
    virtual std::string environment(const char* name) = 0;
    virtual bool interrupted() = 0;
    // The line end that "\r\n" of the system's texts becomes.
    virtual std::string_view line_end() = 0;
};

// The process's own console (standard streams, environment, interrupt key).
class SystemConsole : public Console {
public:
    void write_out(std::string_view text) override;
    void write_err(std::string_view text) override;
    std::string read_input() override;
    bool err_is_terminal() override;
    std::string environment(const char* name) override;
    bool interrupted() override;
    std::string_view line_end() override;
};

// The client; returns the exit code.
int client_main(const std::vector<std::string>& args, Console& console);

} // namespace vestrel::cli
