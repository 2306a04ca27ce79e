// Runs the built qbox as a child process and collects what it printed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace TestSupport {

struct QboxResult {
    int Status = -1;  // exit status, or -1 when the process did not exit normally
    std::string Out;
    std::string Err;
};

inline std::string ReadAllFrom(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
    return text;
}

// This process's environment with the NAME=VALUE entries given added or replaced.
inline std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> all;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        bool replaced = false;
        for (const std::string& change : changes)
            replaced = replaced || text.compare(0, change.find('=') + 1, change, 0, change.find('=') + 1) == 0;
        if (!replaced) all.push_back(text);
    }
    all.insert(all.end(), changes.begin(), changes.end());
    return all;
}

// Runs qbox with the arguments; stdin is /dev/null. Output goes through temporary
// files, so a large stdout cannot block the child against a full pipe.
// environment adds or replaces NAME=VALUE entries of the child's environment.
// A run still going after timeoutSeconds (when not 0) is killed and gives Status -1.
// prefix runs qbox through another program (e.g. one that changes the user).
inline QboxResult RunQbox(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {}, int timeoutSeconds = 0,
                          const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> all = prefix;
    all.push_back(QBOX_PATH);
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);

    char outName[] = "/tmp/qb-out-XXXXXX";
    char errName[] = "/tmp/qb-err-XXXXXX";
    int out = ::mkstemp(outName);
    int err = ::mkstemp(errName);
    if (out < 0 || err < 0) throw std::runtime_error("cannot make output files");
    ::unlink(outName);
    ::unlink(errName);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<std::string> childEnvironment = EnvironmentWith(environment);
    std::vector<char*> envp;
    for (std::string& entry : childEnvironment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t child = 0;
    int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start qbox");

    int status = 0;
    if (timeoutSeconds > 0) {
        for (int waited = 0; ::waitpid(child, &status, WNOHANG) == 0; waited += 10) {
            if (waited >= timeoutSeconds * 1000) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                break;
            }
            ::usleep(10 * 1000);
        }
    } else {
        ::waitpid(child, &status, 0);
    }
    QboxResult result;
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ::lseek(out, 0, SEEK_SET);
    ::lseek(err, 0, SEEK_SET);
    result.Out = ReadAllFrom(out);
    result.Err = ReadAllFrom(err);
    ::close(out);
    ::close(err);
    return result;
}

// The lines of a program's output, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace TestSupport
