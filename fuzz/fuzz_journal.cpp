// Run journals as a continued run reads them. An input whose first byte is
// even is a journal file of its own: reading it in every way never fails and
// the three readings agree. An odd first byte makes the rest a list of edits
// (two bytes of position, one byte to XOR) applied to a whole journal: the
// damaged journal is either not trusted or reads exactly as a beginning of
// the original did, never as anything else.
#include "fuzz_support.h"

#include "site/requests.h"
#include "store/run_journal.h"

#include <QBuffer>

#include <vector>

namespace {

JournalRead Read(const QByteArray& bytes, JournalReading reading) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return ReadJournal(buffer, reading);
}

// What a continued run takes from a journal, comparably.
struct Taken {
    std::vector<QString> listing;
    std::vector<QString> cards;
    std::int32_t handled = 0;
    bool handedOver = false;
    QString resultPath;
    std::size_t gone = 0;
    bool operator==(const Taken&) const = default;
};

Taken Take(const JournalState& s) {
    return {{s.listingQueue.begin(), s.listingQueue.end()},
            {s.cardQueue.begin(), s.cardQueue.end()},
            s.handledItems,
            s.handedOver,
            s.resultPath,
            s.gone.size()};
}

struct Original {
    QByteArray bytes;
    std::vector<qsizetype> ends; // where each record ends
    std::vector<Taken> states;   // the state after each record
};

const Original& TheOriginal() {
    static const Original original = [] {
        const RunSettings settings{QStringLiteral("w.test"),
                                   QStringLiteral("a.test"),
                                   {QStringLiteral("Юристы (yuristy)")},
                                   {QStringLiteral("Москва"), QStringLiteral("Тверь")},
                                   {QStringLiteral("1"), QStringLiteral("2")}};
        const WorkQueue seeds =
            SeedListingQueue(settings.webHost, settings.cityRows, settings.categoryRows);
        const QString next = QStringLiteral("{\"filter\":{\"categoryId\":{\"eq\":\"1\"}}}");
        const std::vector<QByteArray> payloads = {
            JournalSettingsPayload(settings),
            JournalItemPayload(seeds[1], {}, {QStringLiteral("https://w.test/pro/x")}),
            JournalItemPayload(
                seeds[0], {next},
                {QStringLiteral("https://w.test/pro/y"), QStringLiteral("https://w.test/pro/z")}),
            JournalItemPayload(next, {}, {}),
            JournalHandedOverPayload(),
            JournalResultFilePayload(QStringLiteral("/f/data1.csv")),
            JournalGonePayload(QStringLiteral("https://w.test/pro/y"))};
        Original o;
        for (const QByteArray& payload : payloads) {
            o.bytes += JournalFrame(payload);
            o.ends.push_back(o.bytes.size());
            const JournalRead read = Read(o.bytes, JournalReading::Replay);
            FUZZ_CHECK(read.trusted);
            o.states.push_back(Take(read.state));
        }
        return o;
    }();
    return original;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));
    if (data[0] % 2 == 0) {
        const JournalRead replay = Read(input, JournalReading::Replay);
        const JournalRead summary = Read(input, JournalReading::Summary);
        const JournalRead settings = Read(input, JournalReading::Settings);
        FUZZ_CHECK(replay.length <= input.size());
        // The quick readings see no damage the full one misses the other way
        // round, and count the same cards.
        if (replay.trusted) {
            FUZZ_CHECK(summary.trusted && settings.trusted);
            FUZZ_CHECK(summary.state.cards == replay.state.cards);
            FUZZ_CHECK(summary.length == replay.length);
            FUZZ_CHECK(replay.state.cards ==
                       static_cast<std::int64_t>(replay.state.cardQueue.size()));
            // Its whole records read alone give the same state.
            const JournalRead again = Read(input.left(replay.length), JournalReading::Replay);
            FUZZ_CHECK(again.trusted && Take(again.state) == Take(replay.state));
        }
        return 0;
    }
    const Original& original = TheOriginal();
    QByteArray damaged = original.bytes;
    for (qsizetype i = 0; i + 3 <= input.size(); i += 3) {
        const unsigned position = static_cast<unsigned char>(input[i]) |
                                  static_cast<unsigned>(static_cast<unsigned char>(input[i + 1]))
                                      << 8;
        const auto at = static_cast<qsizetype>(position % static_cast<unsigned>(damaged.size()));
        damaged[at] = static_cast<char>(damaged[at] ^ input[i + 2]);
    }
    // A length that is not a whole number of edits also cuts the journal.
    if (input.size() % 3 != 0)
        damaged.truncate(static_cast<unsigned char>(input.back()) * damaged.size() / 256);
    const JournalRead read = Read(damaged, JournalReading::Replay);
    if (!read.trusted)
        return 0;
    const auto records = static_cast<std::size_t>(read.state.records);
    FUZZ_CHECK(records >= 1 && records <= original.states.size());
    FUZZ_CHECK(read.length == original.ends[records - 1]);
    FUZZ_CHECK(Take(read.state) == original.states[records - 1]);
    return 0;
}
