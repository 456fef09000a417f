#pragma once
// The program's configuration: the two site hosts and the settings given on
// the command line. Set once at start, read everywhere.

#include <QString>
#include <QStringList>

struct AppConfig {
    QString WebHost = QStringLiteral("localhost:8443"); // HTML pages
    QString ApiHost = QStringLiteral("localhost:8444"); // JSON API
    QString CaFile; // extra trusted CA certificates (PEM) for both clients
    // Rows to select once the lists are loaded, instead of the saved ones.
    QStringList Categories; // row text or slug
    QStringList Cities;     // row text
    // No window: START is pressed once the lists are loaded, log lines go to
    // standard output, and the program exits after the run.
    bool Batch = false;
    // The result file is not handed to the desktop at the end of a run.
    bool NoOpen = false;
    // Batch mode continues the interrupted run of the same hosts and
    // selection, when there is one.
    bool Resume = false;
    // Batch mode writes no status line on standard error.
    bool Quiet = false;
    // Runs also write the workbook data<N>.xlsx (the window's check box
    // starts checked).
    bool Workbook = false;
};

AppConfig& Config();

// The outcome of reading the command line: either a configuration to run
// with, or an exit code with a text for standard output (help, version) or
// standard error (usage errors).
struct CommandLine {
    AppConfig config;
    bool exit = false;
    int exitCode = 0;
    QString output;
    QString error;
};

CommandLine ParseCommandLine(const QStringList& arguments);

// Exit codes.
constexpr int kExitRunEnded = 0;
constexpr int kExitLoadingFailed = 1;
constexpr int kExitStartRefused = 2;
constexpr int kExitStartupCheck = 3;
constexpr int kExitRunLogNotSaved = 4;
constexpr int kExitRunError = 5;    // the run ended, but an error was shown during it
constexpr int kExitHttpLibrary = 6; // the HTTP library could not be initialised
constexpr int kExitUsage = 64;
