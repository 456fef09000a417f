// Entry point: reads the command line, then runs the window, or batch mode
// without one.

#include "app/batch_mode.h"
#include "core/config.h"
#include "core/thread_base.h"
#include "ui/main_form.h"

#include <QApplication>
#include <QStringList>

#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

int RunWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("directory-scraper"));
    QApplication::setApplicationVersion(QStringLiteral(DIRECTORY_SCRAPER_VERSION));
    QApplication::setApplicationDisplayName(WindowCaption(Config().WebHost));
    auto MainForm = std::make_unique<TMainForm>();
    MainForm->show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    // A file size limit must show up as a failed write of the result file,
    // not kill the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Before any thread uses curl. Without it nothing can be downloaded.
    if (const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT); init != CURLE_OK) {
        std::fprintf(stderr, "directory-scraper: cannot initialise the HTTP library: %s\n",
                     curl_easy_strerror(init));
        return kExitHttpLibrary;
    }

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = ParseCommandLine(arguments);
    if (commandLine.exit) {
        if (!commandLine.output.isEmpty())
            std::fputs(commandLine.output.toLocal8Bit().constData(), stdout);
        if (!commandLine.error.isEmpty())
            std::fputs(commandLine.error.toLocal8Bit().constData(), stderr);
        return commandLine.exitCode;
    }
    Config() = commandLine.config;
    const int code = Config().Batch ? RunBatchMode(argc, argv) : RunWindow(argc, argv);

    // Workers of a stopped run may still wait for their answers (and a run
    // that did not end in time after the window closed, for the window):
    // leave without tearing the application down under them.
    std::fflush(nullptr);
    if (TThread::LiveCount() > 0)
        std::_Exit(code);
    return code;
}
