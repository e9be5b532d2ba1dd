// nimbara-sim: serves a simulated Nimbara account on 127.0.0.1 until SIGINT or SIGTERM.
#include "sim/simulator.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <pthread.h>

namespace {

constexpr int exit_usage = 64;       // sysexits.h EX_USAGE: bad options or a bad account file
constexpr int exit_unavailable = 69; // EX_UNAVAILABLE: cannot listen

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    vestrel::SimulatorCommandLine command;
    std::string message;
    if (!vestrel::parse_simulator_arguments(args, command, message)) {
        std::cerr << "nimbara-sim: " << message << "\n";
        return exit_usage;
    }
    if (command.help) {
        std::cout << message;
        return 0;
    }

    // The signals are taken by sigwait below, on this thread only: block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    vestrel::Simulator simulator(command.options);
    if (!simulator.load()) {
        std::cerr << "nimbara-sim: " << simulator.error() << "\n";
        return exit_usage;
    }
    if (!command.dump_account.empty()) {
        std::ofstream out(command.dump_account, std::ios::binary);
        out << simulator.account_json();
        if (!out) {
            std::cerr << "nimbara-sim: cannot write " << command.dump_account << "\n";
            return exit_usage;
        }
        return 0;
    }
    if (simulator.start() == 0) {
        std::cerr << "nimbara-sim: " << simulator.error() << "\n";
        return exit_unavailable;
    }
    std::printf("listening on %s\n", simulator.url().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "nimbara-sim: %zu files; log in as \"%s\"\n", simulator.file_count(),
                 simulator.user().c_str());

    int received = 0;
    sigwait(&signals, &received);
    simulator.stop();
    return 0;
}
