// The children the benchmark measures, each in a process of its own: the program's first frame
// and its reference windows, their instruction counts under callgrind, and brisko_play's
// interactions. Each child gets the starts' environment, on the starts' display when there is one.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench.h"

extern char **environ;

namespace bench {

namespace {

constexpr double MiB = 1024.0 * 1024.0;

std::vector<std::string> StartEnvironment(int padding)
{
    std::vector<std::string> environment;
    if (padding > 0)
        environment.push_back("BRISKO_BENCH_PADDING=" + std::string(size_t(padding), 'x'));
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (StartDisplay() == nullptr ||
            (variable.rfind("QT_QPA_PLATFORM=", 0) != 0 && variable.rfind("DISPLAY=", 0) != 0))
            environment.push_back(variable);
    }
    if (StartDisplay() != nullptr) {
        environment.push_back("QT_QPA_PLATFORM=xcb");
        environment.push_back(std::string("DISPLAY=") + StartDisplay());
    }
    return environment;
}

}  // namespace

std::string FirstFrameProgram()
{
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        Fail("cannot find the benchmark's own executable");
    std::string path(self, size_t(length));
    return path.substr(0, path.rfind('/') + 1) + "brisko_first_frame";
}

std::string SiblingProgram(const char *name)
{
    const std::string program = FirstFrameProgram();
    return program.substr(0, program.rfind('/') + 1) + name;
}

pid_t Spawn(std::vector<std::string> command, int output, int padding, const char *folder)
{
    std::vector<std::string> environment = StartEnvironment(padding);
    std::vector<char *> envp;
    for (std::string &variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<char *> argv;
    for (std::string &argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        Fail("cannot start " + command[0]);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string ReadToEnd(int pipe)
{
    std::string text;
    char buffer[512];
    ssize_t got;
    while ((got = read(pipe, buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(got));
    close(pipe);
    return text;
}

std::string Output(std::vector<std::string> command, const char *folder)
{
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        Fail("pipe");
    const pid_t pid = Spawn(command, output[1], 0, folder);
    close(output[1]);
    const std::string text = ReadToEnd(output[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("the run of " + command[0] + " " + command.back() + " failed");
    return text;
}

StartResult RunStart(const char *mode, bool untilReady)
{
    static const std::string program = FirstFrameProgram();
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        Fail("pipe");
    const Clock::time_point start = Clock::now();
    std::vector<std::string> command = {program, mode};
    if (untilReady)
        command.push_back("--ready");
    const pid_t pid = Spawn(command, output[1]);
    close(output[1]);
    const std::string text = ReadToEnd(output[0]);
    int status = 0;
    rusage usage{};
    long long paintedNs = 0;
    double constructionMs = 0;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(text.c_str(), "%lld %lf", &paintedNs, &constructionMs) != 2)
        Fail(std::string("the start of ") + mode + " failed");
    const double wholeMs = double(paintedNs - std::chrono::nanoseconds(start.time_since_epoch()).count()) / 1e6;
    return {wholeMs, double(usage.ru_maxrss) * 1024.0 / MiB};  // ru_maxrss is in KiB
}

double CountInstructions(const char *mode, int padding, const char *folder)
{
    static const std::string program = FirstFrameProgram();
    static const std::string here = [] {
        char path[4096];
        return std::string(getcwd(path, sizeof path) != nullptr ? path : ".");
    }();
    static int serial = 0;
    const std::string profile = here + "/callgrind." + std::string(mode) + "." + std::to_string(serial++);
    // %p: a child the toolkit forks writes a profile of its own under another name
    const pid_t pid = Spawn({"valgrind", "--tool=callgrind", "--fair-sched=yes", "--callgrind-out-file=" + profile + ".%p",
                             program, mode, "--exit-at-first-frame"},
                            -1, padding, folder);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail(std::string("callgrind could not count the start of ") + mode + " in " + folder + " (" +
             (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "exit " + std::to_string(WEXITSTATUS(status))) +
             "; is valgrind installed?)");
    const std::string file = profile + "." + std::to_string(pid);
    FILE *stream = std::fopen(file.c_str(), "r");
    if (stream == nullptr)
        Fail("no profile " + file);
    double totals = -1;
    char line[512];
    while (std::fgets(line, sizeof line, stream) != nullptr) {
        unsigned long long count = 0;
        if (std::sscanf(line, "totals: %llu", &count) == 1 || std::sscanf(line, "summary: %llu", &count) == 1)
            totals = double(count);
    }
    std::fclose(stream);
    std::remove(file.c_str());
    if (totals < 0)
        Fail("no instruction count in " + file);
    return totals;
}

void LetFilesRest()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
}

}  // namespace bench
