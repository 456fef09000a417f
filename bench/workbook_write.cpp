// What the workbook of a large run costs: the time and the peak memory of
// writing it from a result file.
//
//   workbook_write make FILE ROWS    writes a result file of ROWS card rows
//                                    shaped like the site's
//   workbook_write write FILE [LINKS]  writes the workbook beside it (FILE
//                                    with .xlsx for .csv), with the summary;
//                                    LINKS: links a sheet may hold
//
// One step per process, so that the peak (VmHWM) is the writing's alone.
#include "peak_memory.h"

#include "report/workbook.h"
#include "text/csv_row.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Row i of the file: most values filled, some empty, as the site's cards are.
CardRecord SampleCard(long i) {
    const QString id =
        QString::number(i * 7919 % 1000003, 36) + QLatin1Char('-') + QString::number(i);
    CardRecord card;
    card.url = QStringLiteral("https://127.0.0.1:8443/pro/ivanova-mariya-") + id;
    card.name = QStringLiteral("Иванова Мария Сергеевна %1").arg(i % 97);
    card.categories = QStringLiteral("Сантехники, Электрики, Выезд на дом");
    if (i % 4 != 0)
        card.services = QStringLiteral("Монтаж радиаторов; Установка унитаза; Замена смесителя");
    if (i % 3 != 0) {
        card.rating = QStringLiteral("4,%1").arg(i % 10);
        card.reviews = QString::number(i % 250);
    }
    card.telephone = QStringLiteral("+7 (9%1) %2-%3-%4")
                         .arg(i % 100, 2, 10, QLatin1Char('0'))
                         .arg(i % 1000, 3, 10, QLatin1Char('0'))
                         .arg(i % 100, 2, 10, QLatin1Char('0'))
                         .arg((i / 7) % 100, 2, 10, QLatin1Char('0'));
    if (i % 5 < 3)
        card.site = QStringLiteral("https://master-") + id + QStringLiteral(".example/");
    if (i % 5 != 1)
        card.email = QStringLiteral("master.") + id + QStringLiteral("@mail.example");
    card.city = QStringLiteral("Москва");
    card.address = QStringLiteral("ул. Профсоюзная, д. %1, кв. %2").arg(i % 200).arg(i % 90);
    return card;
}

} // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    long rows = 0;
    if (argc == 4 && std::strcmp(argv[1], "make") == 0) {
        QFile file(QString::fromLocal8Bit(argv[2]));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray bytes = "\xEF\xBB\xBF" + (CsvHeader() + QStringLiteral("\r\n")).toUtf8();
        for (rows = 0; rows < std::atol(argv[3]); ++rows)
            bytes += (FormatCsvRow(SampleCard(rows)) + QStringLiteral("\r\n")).toUtf8();
        if (file.write(bytes) != bytes.size())
            return 1;
    } else if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "write") == 0) {
        const QString csv = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
        WorkbookFacts facts;
        facts.webHost = QStringLiteral("127.0.0.1:8443");
        facts.apiHost = QStringLiteral("127.0.0.1:8444");
        QFile file(csv);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        ReadCsvRows(file, [&](CardRecord&& card) {
            facts.summary.RowWritten(card);
            ++rows;
        });
        facts.found = rows;
        const auto writing = std::chrono::steady_clock::now();
        try {
            WorkbookLimits limits;
            if (argc == 4)
                limits.linksPerSheet = std::atol(argv[3]);
            WriteWorkbook(WorkbookPathFor(csv), csv, {}, facts, limits);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "write: %s\n", error.what());
            return 1;
        }
        std::printf(
            "write: the workbook alone in %.2f s, %lld bytes\n",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - writing).count(),
            static_cast<long long>(QFileInfo(WorkbookPathFor(csv)).size()));
    } else {
        std::fprintf(stderr, "usage: workbook_write make FILE ROWS | write FILE [LINKS]\n");
        return 64;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %ld rows in %.2f s, peak RSS %.1f MiB\n", argv[1], rows, seconds,
                static_cast<double>(PeakKiB()) / 1024.0);
    return 0;
}
