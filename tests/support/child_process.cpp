#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

pid_t SpawnChild(std::vector<std::string> argv, int stdinFd, int stdoutFd, std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0)
        return pid;
    error = "cannot start " + argv[0] + ": " + std::strerror(spawned);
    return -1;
}

ChildRun RunChild(std::vector<std::string> argv, int timeoutMs) {
    ChildRun run;
    int out[2];
    std::string error;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return run;
    }
    const pid_t pid = SpawnChild(std::move(argv), -1, out[1], error);
    ::close(out[1]);
    if (pid < 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        ::close(out[0]);
        return run;
    }
    // The pipe is drained as the child writes, so that it never blocks on a
    // full pipe, until it is closed or the time is up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool late = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd fd{out[0], POLLIN, 0};
        const int ready = left > 0 ? ::poll(&fd, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            late = true;
            break;
        }
        char buffer[65536];
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got > 0)
            run.out.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    ::close(out[0]);
    if (late)
        ::kill(pid, SIGKILL);
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && !late && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}
