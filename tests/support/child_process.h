#pragma once
// Starting the programs a test needs. With posix_spawn, whose child runs no
// code of this process: a Qt child process runs library code in the parent's
// memory before it executes, which corrupts a thread checker's view of the
// threads that run afterwards.

#include <sys/types.h>

#include <string>
#include <vector>

// Starts `argv` (argv[0] is the program's path) with `stdinFd` and `stdoutFd`
// as its standard input and output (-1: this process's own); its pid, or -1
// with `error` set.
pid_t SpawnChild(std::vector<std::string> argv, int stdinFd, int stdoutFd, std::string& error);

struct ChildRun {
    int exitCode = -1; // -1: not started, killed at the time limit or died of a signal
    std::string out;   // its standard output; its errors go to this process's
};

// Runs `argv` to its end, killed after `timeoutMs`.
ChildRun RunChild(std::vector<std::string> argv, int timeoutMs);
