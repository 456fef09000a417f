#include "core/config.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

AppConfig& Config() {
    static AppConfig config;
    return config;
}

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine result;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Collects the cards of a professionals directory site into a CSV file, data<N>.csv "
        "beside the program.\n"
        "Every run is also remembered in cards.sqlite beside the program (the cards' names, "
        "phones, e-mails and addresses; delete the file to forget them all): a run is compared "
        "with the last complete run of the same sites, categories and cities, and the new, "
        "changed and gone cards are written to changes<N>.csv, in the result file's format."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption webHost(QStringLiteral("web-host"),
                                     QStringLiteral("Host (and port) of the site's pages."),
                                     QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption apiHost(QStringLiteral("api-host"),
                                     QStringLiteral("Host (and port) of the site's API."),
                                     QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption caFile(
        QStringLiteral("ca-file"),
        QStringLiteral("PEM file of extra CA certificates to trust besides the system's."),
        QStringLiteral("FILE"));
    const QCommandLineOption category(
        QStringLiteral("category"),
        QStringLiteral("Select this category (its row text or slug) once the lists are loaded, "
                       "instead of the saved selection. Repeatable."),
        QStringLiteral("TEXT"));
    const QCommandLineOption city(
        QStringLiteral("city"),
        QStringLiteral("Select this city or region (its row text) once the lists are loaded, "
                       "instead of the saved selection. Repeatable."),
        QStringLiteral("TEXT"));
    const QCommandLineOption batch(
        QStringLiteral("batch"),
        QStringLiteral(
            "No window: start the run once the lists are loaded, write the log to "
            "standard output and exit when the run ends. Exit codes: 0 the run "
            "ended, 1 loading the lists failed, 2 start refused (nothing selected, or "
            "the run to continue is going on in another copy of the program), "
            "3 a start-up check failed, 4 the run log file could not be written, 5 the run "
            "ended, but an error was reported during it (its \"Ошибка: ...\" lines "
            "say which) or pages of the card lists could not be loaded, 6 the HTTP library "
            "could not be initialised, 64 bad command line."));
    const QCommandLineOption noOpen(
        QStringLiteral("no-open"),
        QStringLiteral("Do not hand the result file to the desktop when a run ends."));
    const QCommandLineOption resume(
        QStringLiteral("resume"),
        QStringLiteral("Batch mode: continue the interrupted run of the same hosts and selection "
                       "(the most recent one), if there is one; else start a new run."));
    const QCommandLineOption quiet(
        QStringLiteral("quiet"),
        QStringLiteral("Batch mode: no status line (phase, progress, rate, time left) on "
                       "standard error."));
    const QCommandLineOption xlsx(
        QStringLiteral("xlsx"),
        QStringLiteral("Also write the workbook data<N>.xlsx beside the result file (the cards, "
                       "a summary with a chart of the filled columns, the changes since the "
                       "earlier run) and open it instead of the CSV. In the window the check box "
                       "\"Также Excel (.xlsx)\" does the same and is remembered; this option "
                       "checks it."));
    parser.addOptions({help, version, webHost, apiHost, caFile, category, city, batch, noOpen,
                       resume, quiet, xlsx});

    QString usage = parser.helpText();
    usage.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                  QStringLiteral("Usage: directory-scraper"));
    if (!parser.parse(arguments)) {
        result.exit = true;
        result.exitCode = kExitUsage;
        result.error = parser.errorText() + QLatin1Char('\n') + usage;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.exit = true;
        result.exitCode = kExitUsage;
        result.error = QStringLiteral("Unexpected argument: %1\n%2")
                           .arg(parser.positionalArguments().first(), usage);
        return result;
    }
    if (parser.isSet(help)) {
        result.exit = true;
        result.output = usage;
        return result;
    }
    if (parser.isSet(version)) {
        result.exit = true;
        result.output = QStringLiteral("directory-scraper %1\n")
                            .arg(QCoreApplication::applicationVersion().isEmpty()
                                     ? QStringLiteral(DIRECTORY_SCRAPER_VERSION)
                                     : QCoreApplication::applicationVersion());
        return result;
    }
    if (parser.isSet(webHost))
        result.config.WebHost = parser.value(webHost);
    if (parser.isSet(apiHost))
        result.config.ApiHost = parser.value(apiHost);
    if (parser.isSet(caFile))
        result.config.CaFile = parser.value(caFile);
    result.config.Categories = parser.values(category);
    result.config.Cities = parser.values(city);
    result.config.Batch = parser.isSet(batch);
    result.config.NoOpen = parser.isSet(noOpen);
    result.config.Resume = parser.isSet(resume);
    result.config.Quiet = parser.isSet(quiet);
    result.config.Workbook = parser.isSet(xlsx);
    return result;
}
