#include "app/batch_mode.h"

#include "app/batch_view.h"
#include "core/config.h"
#include "core/platform.h"
#include "net/page_client.h"
#include "run/scraper.h"
#include "run/standard_outputs.h"
#include "site/reference_lists.h"
#include "ui/selection_files.h"
#include "ui/startup_checks.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// Loading waits as long after start as the window's does.
constexpr int kLoadAfterMs = 1000;
constexpr int kRunLimit = 5;

// The rows (in list order) that the lines name, letter case ignored, as the
// window's selection would hold them.
QStringList SelectedRows(const QStringList& rows, const QStringList& lines) {
    const QList<bool> selected = SelectedByLines(rows, lines);
    QStringList out;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (selected[i])
            out << rows[i];
    }
    return out;
}

class BatchMode {
public:
    BatchMode() : view_(StandardErrorStatus(Config().Quiet)) {
        view_.OnResumeTimer = [this] { ResumeTimerTimer(); };
        view_.OnRunEnded = [](int code) { QCoreApplication::exit(code); };
    }

    // The lists, the selection and START; exits when the run cannot start.
    void Start() {
        RunRequest request;
        if (!Load(request)) {
            QCoreApplication::exit(kExitLoadingFailed);
            return;
        }
        QString refusal = SelectionRefusal(request);
        if (refusal.isEmpty() && Config().Resume)
            refusal = ChooseRunToContinue(request, ProgramFolder(), {});
        if (!refusal.isEmpty()) {
            view_.Print(refusal, BatchRunView::Line::PrintOnly);
            QCoreApplication::exit(kExitStartRefused);
            return;
        }
        RunOutputs outputs = StandardOutputs(request, ProgramFolder());
        run_ = std::make_shared<TScraper>(std::move(request), view_, std::move(outputs));
        run_->Start();
    }

private:
    void Print(const QString& line) { view_.Print(line, BatchRunView::Line::PrintOnly); }

    // Loads the lists and makes the request of the selection; false, with
    // the error line written, when loading failed.
    bool Load(RunRequest& request) {
        request.webHost = Config().WebHost;
        request.apiHost = Config().ApiHost;
        request.limit = kRunLimit;
        request.workbook = Config().Workbook;
        QStringList categoryRows;
        QStringList cityRows;
        try {
            Print(QStringLiteral("Загружаем города и категории с сайта..."));
            {
                TPageClient client;
                LoadReferenceLists(
                    [&client](const QString& url) {
                        client.Clear();
                        client.Get(url);
                        return client.BodyText();
                    },
                    request.webHost, request.apiHost,
                    {[&](const QStringList& rows, const QStringList& ids) {
                         categoryRows += rows;
                         request.categoryIds = ids;
                     },
                     [&](const QStringList& rows) { cityRows += rows; }});
            }
            Print(QStringLiteral("Всё готово к работе, выделите нужные города и категории"));
            // Each list takes the rows named on the command line, or else its
            // saved selection (batch runs never write it).
            const QString categoriesFile = ProgramFolder() + QStringLiteral("selection1.txt");
            if (!Config().Categories.isEmpty()) {
                QStringList unknown;
                const QStringList named =
                    NamedCategoryRows(categoryRows, Config().Categories, unknown);
                for (const QString& name : unknown)
                    Print(QStringLiteral("Категория не найдена: ") + name);
                request.categoryRows = SelectedRows(categoryRows, named);
            } else if (QFile::exists(categoriesFile)) {
                request.categoryRows =
                    SelectedRows(categoryRows, ReadSelectionFile(categoriesFile));
            }
            const QString citiesFile = ProgramFolder() + QStringLiteral("selection2.txt");
            if (!Config().Cities.isEmpty()) {
                for (const QString& name : UnknownCityNames(cityRows, Config().Cities))
                    Print(QStringLiteral("Город или регион не найден: ") + name);
                request.cityRows = SelectedRows(cityRows, Config().Cities);
            } else if (QFile::exists(citiesFile)) {
                request.cityRows = SelectedRows(cityRows, ReadSelectionFile(citiesFile));
            }
        } catch (const std::exception& e) {
            Print(QStringLiteral("Ошибка ") + QString::fromUtf8(e.what()));
            return false;
        }
        return true;
    }

    // The 30 seconds after an error are over: the run goes on.
    void ResumeTimerTimer() {
        if (run_ && !run_->Finished() && !run_->Ended() && run_->Suspended()) {
            run_->Resume();
            view_.Print(Timestamp() + QStringLiteral(": Отключаем паузу, продолжаем работу"));
        }
    }

    BatchRunView view_;
    std::shared_ptr<TScraper> run_;
};

} // namespace

int RunBatchMode(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("directory-scraper"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DIRECTORY_SCRAPER_VERSION));
    const StartupProblem problem = CheckStartup(ProgramFolder(), TlsAvailable());
    if (problem != StartupProblem::None) {
        std::fprintf(stderr, "%s\n", StartupMessage(problem).toUtf8().constData());
        return kExitStartupCheck;
    }
    BatchMode batch;
    QTimer::singleShot(kLoadAfterMs, [&batch] { batch.Start(); });
    return QCoreApplication::exec();
}
