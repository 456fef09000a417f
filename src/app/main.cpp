// Entry point: reads the command line, starts the application and shows the
// main window.

#include "core/config.h"
#include "ui/main_form.h"

#include <QApplication>
#include <QStringList>

#include <curl/curl.h>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);

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

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("directory-scraper"));
    QApplication::setApplicationVersion(QStringLiteral(DIRECTORY_SCRAPER_VERSION));
    QApplication::setApplicationDisplayName(WindowCaption(Config().WebHost));

    auto MainForm = std::make_unique<TMainForm>();
    MainForm->show();
    return QApplication::exec();
}
