#pragma once
// The checks made when the window is first shown: a program unpacked into a
// folder of its own, with a working TLS-capable HTTP library.

#include <QString>

enum class StartupProblem {
    None,
    InsideArchive, // the folder has "Rar$" in it (an archive tool's temp folder)
    TempFolder,    // a folder named Temp (any letter case) on the path
    MissingFiles,  // the network library cannot do HTTPS
};

// The first failing check for a program folder (with its trailing "/").
StartupProblem CheckStartup(const QString& programFolder, bool tlsAvailable);

// The message shown for a problem, its lines separated by CR LF.
QString StartupMessage(StartupProblem problem);

// Whether the HTTP library was built with TLS support, which every request of
// the program needs.
bool TlsAvailable();
