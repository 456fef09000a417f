#pragma once
// The program's configuration: the two site hosts and the settings given on
// the command line. Set once at start, read everywhere.

#include <QString>
#include <QStringList>

struct AppConfig {
    QString WebHost = QStringLiteral("localhost:8443"); // HTML pages
    QString ApiHost = QStringLiteral("localhost:8444"); // JSON API
    QString CaFile; // extra trusted CA certificates (PEM) for both clients
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

constexpr int kExitUsage = 64;
