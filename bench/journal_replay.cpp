// What continuing a large interrupted run costs: the time and the peak
// memory of rebuilding its state from its journal, against the memory the
// run itself held when it had collected as much.
//
//   journal_replay write FILE CARDS   writes the journal of a phase 1 that
//                                     collected CARDS card URLs (25 a page)
//   journal_replay replay FILE        rebuilds the state from it
//   journal_replay collect CARDS      builds the same state the way the run
//                                     does while it collects (no journal)
//   journal_replay cost CARDS DIR     does in DIR the journaling of a whole
//                                     run of CARDS cards: its records, and
//                                     the syncs of the journal and the result
//                                     file, one pair per second of the run
//                                     (40 ms a card), each after a row
//
// For "cost" the CPU time of the process (user + sys) is printed too: what
// journaling adds to a run's CPU time.
// Prints the time taken, the cards in the state, and the process's peak
// resident memory (VmHWM). One step per process, so each peak is its own.
#include "peak_memory.h"

#include "site/requests.h"
#include "store/run_journal.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const RunSettings kSettings{QStringLiteral("127.0.0.1:8443"),
                            QStringLiteral("127.0.0.1:8444"),
                            {QStringLiteral("Юристы (yuristy)")},
                            {QStringLiteral("Новосибирск--Новосибирская область")},
                            {QStringLiteral("50043")}};

// The pages of one pair as the run meets them: the listing page, then search
// requests, each adding 25 new card URLs shaped like the site's.
template <typename Page> void Pages(long cards, Page page) {
    const WorkQueue seeds =
        SeedListingQueue(kSettings.webHost, kSettings.cityRows, kSettings.categoryRows);
    QString item = seeds.front();
    for (long done = 0, n = 0; done < cards; ++n) {
        std::vector<QString> found;
        for (int i = 0; i < 25 && done < cards; ++i, ++done)
            found.push_back(QStringLiteral("https://127.0.0.1:8443/pro/ivanova-mariya-%1-%2")
                                .arg(QString::number(done * 7919 % 1000003, 36))
                                .arg(done));
        const QString next =
            done < cards
                ? SearchRequestBody(QStringLiteral("50043"),
                                    QStringLiteral("e0301bba8a9c5b4cb2d9cf95"),
                                    QStringLiteral("pt_%1").arg(n, 16, 16, QLatin1Char('0')))
                : QString();
        page(item, next, found);
        item = next;
    }
}

} // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    long cards = 0;
    if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
        const QString path = QString::fromLocal8Bit(argv[2]);
        QFile::remove(path);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(JournalFrame(JournalSettingsPayload(kSettings)));
        Pages(std::atol(argv[3]),
              [&](const QString& item, const QString& next, const std::vector<QString>& found) {
                  file.write(JournalFrame(JournalItemPayload(
                      item, next.isEmpty() ? std::vector<QString>{} : std::vector<QString>{next},
                      found)));
                  cards += static_cast<long>(found.size());
              });
        file.close();
        std::printf("journal: %lld bytes\n", static_cast<long long>(QFileInfo(path).size()));
    } else if (argc == 3 && std::strcmp(argv[1], "replay") == 0) {
        const JournalRead read = ReadJournalFile(QString::fromLocal8Bit(argv[2]));
        if (!read.trusted)
            return 1;
        cards = static_cast<long>(read.state.cardQueue.size());
    } else if (argc == 3 && std::strcmp(argv[1], "collect") == 0) {
        // The run's own collections, filled as it fills them.
        WorkQueue listing;
        QueuedSearches queued;
        UrlQueue cardQueue;
        SeenSet seen;
        Pages(std::atol(argv[2]),
              [&](const QString&, const QString& next, const std::vector<QString>& found) {
                  if (!listing.empty())
                      listing.pop_front();
                  if (!next.isEmpty()) {
                      queued.insert(next);
                      listing.push_back(next);
                  }
                  for (const QString& url : found)
                      cardQueue.PushNew(url, seen);
              });
        cards = static_cast<long>(cardQueue.size());
    } else if (argc == 4 && std::strcmp(argv[1], "cost") == 0) {
        const QString folder = QString::fromLocal8Bit(argv[3]);
        auto journal = RunJournal::Create(folder, 1, kSettings);
        Pages(std::atol(argv[2]), [&](const QString& item, const QString& next,
                                      const std::vector<QString>& found) {
            journal->ItemHandled(
                item, next.isEmpty() ? std::vector<QString>{} : std::vector<QString>{next}, found);
            cards += static_cast<long>(found.size());
        });
        journal->HandedOver();
        const QString data = folder + QStringLiteral("/data1.csv");
        journal->ResultFile(data);
        const int fd =
            ::open(QFile::encodeName(data).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const QByteArray row(300, 'x');
        for (long second = 0; second < cards / 25; ++second) {
            if (::write(fd, row.constData(), static_cast<size_t>(row.size())) < 0)
                return 1;
            journal->Sync();
            ::fdatasync(fd);
        }
        ::close(fd);
        journal->Remove();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("cost: CPU user+sys %.3f s\n",
                    static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    } else {
        std::fprintf(stderr, "usage: journal_replay write FILE CARDS | replay FILE | collect "
                             "CARDS | cost CARDS DIR\n");
        return 64;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %ld cards in %.2f s, peak RSS %.1f MiB\n", argv[1], cards, seconds,
                static_cast<double>(PeakKiB()) / 1024.0);
    return 0;
}
