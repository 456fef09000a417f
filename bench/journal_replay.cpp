// What continuing a large interrupted run costs: the time and the peak
// memory of rebuilding its state from its journal, against the memory the
// run itself held when it had collected as much.
//
//   journal_replay write FILE CARDS   writes the journal of a phase 1 that
//                                     collected CARDS card URLs (25 a page)
//   journal_replay replay FILE        rebuilds the state from it
//   journal_replay collect CARDS      builds the same state the way the run
//                                     does while it collects (no journal)
//
// Prints the time taken, the cards in the state, and the process's peak
// resident memory (VmHWM). One step per process, so each peak is its own.
#include "run/requests.h"
#include "run/run_journal.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

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
        WorkQueue cardQueue;
        SeenSet seen;
        Pages(std::atol(argv[2]),
              [&](const QString&, const QString& next, const std::vector<QString>& found) {
                  if (!listing.empty())
                      listing.pop_front();
                  if (!next.isEmpty()) {
                      queued.insert(next);
                      listing.push_back(next);
                  }
                  for (const QString& url : found) {
                      if (seen.Insert(url))
                          cardQueue.push_back(url);
                  }
              });
        cards = static_cast<long>(cardQueue.size());
    } else {
        std::fprintf(stderr, "usage: journal_replay write FILE CARDS | replay FILE | collect "
                             "CARDS\n");
        return 64;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %ld cards in %.2f s, peak RSS %.1f MiB\n", argv[1], cards, seconds,
                static_cast<double>(PeakKiB()) / 1024.0);
    return 0;
}
