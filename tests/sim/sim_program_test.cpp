// nimbara-sim as a program: its first line, its options, its exit codes and signals.
#include "sim_client.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace vestrel::testing;
using nlohmann::json;

namespace {

struct Running {
    pid_t pid = -1;
    int out = -1; // read end of its stdout
    int err = -1; // read end of its stderr
};

Running launch(const std::vector<std::string>& args) {
    int out[2], err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    Running r;
    r.pid = fork();
    if (r.pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        std::vector<char*> argv{const_cast<char*>(NIMBARA_SIM_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(NIMBARA_SIM_PATH, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    r.out = out[0];
    r.err = err[0];
    return r;
}

std::string read_line(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

std::string read_all(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

int wait_exit(Running& r) {
    int status = 0;
    waitpid(r.pid, &status, 0);
    close(r.out);
    close(r.err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SimProgram, BadOptionsAndAccountsExitWith64AndAMessage) {
    std::string bad_account = ::testing::TempDir() + "sim-bad-account.json";
    std::ofstream(bad_account) << R"({"files": [{"path": "no-slash"}]})";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--port", "70000"}, "bad value \"70000\" for --port"},
        {{"--port"}, "--port needs a value"},
        {{"--colour", "red"}, "unknown option --colour"},
        {{"stray"}, "unexpected argument \"stray\""},
        {{"--error-rate", "1.5"}, "--error-rate"},
        {{"--latency-ms", "-1"}, "--latency-ms"},
        {{"--generate", "files=ten"}, "bad value \"ten\" for files"},
        {{"--generate", "colour=1"}, "unknown setting \"colour\""},
        {{"--account", "a.json", "--generate", "files=1"}, "exclude each other"},
        {{"--account", "/nonexistent/account.json"}, "cannot read the account file"},
        {{"--account", bad_account}, "no-slash"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Running r = launch(c.args);
        std::string err = read_all(r.err);
        EXPECT_EQ(wait_exit(r), 64);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
}

TEST(SimProgram, FirstLineIsTheUrlAndSignalsEndItCleanly) {
    for (int signal : {SIGTERM, SIGINT}) {
        Running r =
            launch({"--port", "0", "--generate", "files=500,dirs=20", "--user", "u", "--password", "p"});
        std::string line = read_line(r.out);
        ASSERT_EQ(line.rfind("listening on http://127.0.0.1:", 0), 0u) << line;
        std::string url = line.substr(std::string("listening on ").size());
        HttpReply login = http(url + "/passport/login", {}, true, "username=u&password=p");
        EXPECT_EQ(login.status, 302);
        EXPECT_EQ(json::parse(http(url + "/sim/state?files=0").body)["file_count"], 500);
        kill(r.pid, signal);
        EXPECT_EQ(wait_exit(r), 0);
        EXPECT_NE(http(url + "/sim/state").code, CURLE_OK);
    }
}

TEST(SimProgram, DumpsTheGeneratedAccount) {
    std::string dump = ::testing::TempDir() + "sim-dump.json";
    Running r = launch({"--generate", "files=40,dirs=4", "--seed", "9", "--dump-account", dump});
    EXPECT_EQ(wait_exit(r), 0);
    std::ifstream in(dump);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    vestrel::GeneratorOptions g;
    g.files = 40;
    g.directories = 4;
    EXPECT_EQ(text, vestrel::generate_account_json(g, 9));
}

// The ctest fixture starts the program as the Windows end-to-end tests do.
TEST(SimProgram, RunsAsATestFixture) {
    std::string url = test_server_url("nimbara_sim");
    ASSERT_FALSE(url.empty());
    json state = json::parse(http(url + "/sim/state?files=0").body);
    EXPECT_EQ(state["file_count"], 3);
}

} // namespace
