#pragma once
// Runs a program to its end and collects what it prints. Started with
// posix_spawn, whose child runs no code of this process: a Qt child process
// runs library code in the parent's memory before it executes, which
// corrupts a thread checker's view of the threads that run afterwards.

#include <string>
#include <vector>

struct ChildRun {
    int exitCode = -1; // -1: not started, killed at the time limit or died of a signal
    std::string out;
    std::string err; // or why it did not start
};

// `argv[0]` is the program's path.
ChildRun RunChild(std::vector<std::string> argv, int timeoutMs);
