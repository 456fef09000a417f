// Filling the two lists from the site, one second after start.

#include "ui/main_form.h"

#include "core/config.h"
#include "core/platform.h"
#include "net/page_client.h"
#include "site/reference_lists.h"
#include "ui/selection_files.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QScopeGuard>
#include <QTimer>

#include <exception>

void TMainForm::Timer1Timer() {
    CategoryIds.clear();
    Timer1->stop();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool cursorShown = true;
    const auto restoreCursor = [&] {
        if (cursorShown)
            QApplication::restoreOverrideCursor();
        cursorShown = false;
    };
    const auto restoreAtEnd = qScopeGuard(restoreCursor);

    try {
        AppendLog(QStringLiteral("Загружаем города и категории с сайта..."));
        {
            // The client is released and the cursor restored whatever happens.
            TPageClient client;
            const auto release = qScopeGuard(restoreCursor);
            const FetchText fetch = [&client](const QString& url) {
                client.Clear();
                client.Get(url);
                return client.BodyText();
            };
            // Rows are added as each list arrives; an error keeps what came.
            LoadReferenceLists(
                fetch, Config().WebHost, Config().ApiHost,
                {[this](const QStringList& rows, const QStringList& ids) {
                     CatsListBox->addItems(rows);
                     CategoryIds = ids;
                 },
                 [this](const QStringList& rows) { CitiesListBox->addItems(rows); }});
        }
        AppendLog(QStringLiteral("Всё готово к работе, выделите нужные города и категории"));
        ApplyInitialSelection();
        loadingSucceeded_ = true;
    } catch (const std::exception& e) {
        AppendLog(QStringLiteral("Ошибка ") + QString::fromUtf8(e.what()));
    }
    loadingEnded_ = true;
    emit ReferenceLoadingEnded(loadingSucceeded_);
}

void TMainForm::ApplyInitialSelection() {
    // Each list takes the rows named on the command line, or else its saved
    // selection.
    const QString categoriesFile = ProgramFolder() + QStringLiteral("selection1.txt");
    if (!Config().Categories.isEmpty())
        SelectNamedCategories();
    else if (QFile::exists(categoriesFile))
        RestoreSelection(*CatsListBox, ReadSelectionFile(categoriesFile));
    const QString citiesFile = ProgramFolder() + QStringLiteral("selection2.txt");
    if (!Config().Cities.isEmpty())
        SelectNamedCities();
    else if (QFile::exists(citiesFile))
        RestoreSelection(*CitiesListBox, ReadSelectionFile(citiesFile));
}

// --category: a row named by its text or by its slug alone. Names that match
// no row are reported.
void TMainForm::SelectNamedCategories() {
    QStringList rows;
    for (int i = 0; i < CatsListBox->count(); ++i)
        rows << CatsListBox->item(i)->text();
    QStringList unknown;
    const QStringList named = NamedCategoryRows(rows, Config().Categories, unknown);
    for (const QString& name : unknown)
        AppendLog(QStringLiteral("Категория не найдена: ") + name);
    RestoreSelection(*CatsListBox, named);
}

// --city: a row named by its text.
void TMainForm::SelectNamedCities() {
    QStringList rows;
    for (int i = 0; i < CitiesListBox->count(); ++i)
        rows << CitiesListBox->item(i)->text();
    for (const QString& name : UnknownCityNames(rows, Config().Cities))
        AppendLog(QStringLiteral("Город или регион не найден: ") + name);
    RestoreSelection(*CitiesListBox, Config().Cities);
}
