#pragma once
// The command-line client's platform edge: the console streams, the arguments and environment in UTF-8,
// files named in UTF-8, and the interrupt key.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel::cli {

// Sets the console up for UTF-8 bytes written as they are (Windows: code page 65001, binary streams).
void prepare_console();

// Whether standard error (2) or standard output (1) is a terminal.
bool is_terminal(int stream);

// The program's arguments in UTF-8, without the program name.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// An environment variable in UTF-8; empty when unset.
std::string environment_variable(const char* name);

// From now on the interrupt key (and, on POSIX, SIGTERM) sets a flag instead of ending the process.
void install_interrupt_handler();
bool interrupt_requested();

// fopen of a UTF-8 file name.
std::FILE* open_file(const std::string& path, const char* mode);

// Replaces `to` by `from` in one step (the rename of POSIX; MoveFileEx with replacement on Windows).
bool replace_file(const std::string& from, const std::string& to);

// The line end of the platform's console: "\n" on POSIX, "\r\n" on Windows.
std::string_view platform_line_end();

// This process's id, for names of temporary files.
unsigned long process_id();

} // namespace vestrel::cli
