// vestrel: the command-line client.
#include "cli/client.h"
#include "cli/console.h"

int main(int argc, char** argv) {
    vestrel::cli::prepare_console();
    vestrel::cli::install_interrupt_handler();
    vestrel::cli::SystemConsole console;
    return vestrel::cli::client_main(vestrel::cli::utf8_arguments(argc, argv), console);
}
