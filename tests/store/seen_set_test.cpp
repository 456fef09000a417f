// SeenSet against Qt's own case-insensitive comparison, on the characters
// where case folding is least obvious.
#include "store/seen_set.h"

#include "support/print_qstring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Letters whose folding differs from plain upper/lower pairs: ASCII, Cyrillic
// with Ё, the Kelvin sign and long s (folding onto ASCII), sharp s and its
// capital, Greek sigmas, dotted and dotless i, a title-case digraph, Cherokee
// (its small letters fold onto the capitals), Deseret letters outside the BMP
// (surrogate pairs), and lone surrogates.
const std::vector<QString> kPieces = {
    u"a"_s,
    u"A"_s,
    u"k"_s,
    u"K"_s,
    u"s"_s,
    u"S"_s,
    u"\u212A"_s,
    u"\u017F"_s,
    u"ё"_s,
    u"Ё"_s,
    u"е"_s,
    u"Е"_s,
    u"ß"_s,
    u"\u1E9E"_s,
    u"σ"_s,
    u"ς"_s,
    u"Σ"_s,
    u"i"_s,
    u"I"_s,
    u"\u0130"_s,
    u"\u0131"_s,
    u"\u01C4"_s,
    u"\u01C5"_s,
    u"\u01C6"_s,
    u"\u13A0"_s,
    u"\uAB70"_s,
    u"𐐀"_s,
    u"𐐨"_s,
    u"-"_s,
    u"/"_s,
    QString(QChar(0xD801)),
    QString(QChar(0xDC00)),
    QString(QChar(0xDC28)),
};

QString RandomText(std::mt19937& rng, int maxPieces) {
    QString text = u"https://web.test/pro/"_s;
    const int n = static_cast<int>(rng() % static_cast<unsigned>(maxPieces + 1));
    for (int i = 0; i < n; ++i)
        text += kPieces[rng() % kPieces.size()];
    return text;
}

struct QtCaseInsensitiveLess {
    bool operator()(const QString& a, const QString& b) const {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    }
};

} // namespace

TEST(SeenSet, AgreesWithQtCaseInsensitiveComparison) {
    std::mt19937 rng(20240611);
    SeenSet seen;
    std::set<QString, QtCaseInsensitiveLess> reference;
    std::vector<QString> texts;
    for (int i = 0; i < 20000; ++i) {
        const QString text = RandomText(rng, 3);
        texts.push_back(text);
        ASSERT_EQ(seen.Insert(text), reference.insert(text).second) << text.toStdString();
    }
    EXPECT_EQ(seen.size(), reference.size());
    // Probes made independently of the entries, found or not.
    for (int i = 0; i < 20000; ++i) {
        const QString probe = RandomText(rng, 3);
        ASSERT_EQ(seen.Contains(probe), reference.count(probe) == 1) << probe.toStdString();
    }
    for (const QString& text : texts) {
        const QString lower = text.toLower();
        ASSERT_EQ(seen.Contains(lower), reference.count(lower) == 1) << lower.toStdString();
    }
}

TEST(SeenSet, PairsQtTellsApartStayApart) {
    SeenSet seen;
    // Folding joins these...
    EXPECT_TRUE(seen.Insert(u"x-K"_s));
    EXPECT_FALSE(seen.Insert(u"x-\u212A"_s)); // Kelvin sign folds to k
    EXPECT_TRUE(seen.Insert(u"x-𐐀"_s));
    EXPECT_FALSE(seen.Insert(u"X-𐐨"_s)); // the pair folds as one code point
    // ...and keeps these apart: full folding of ß to "ss" is not done, and a
    // lone surrogate is a character of its own.
    EXPECT_TRUE(seen.Insert(u"x-ß"_s));
    EXPECT_TRUE(seen.Insert(u"x-ss"_s));
    EXPECT_TRUE(seen.Insert(u"x-"_s + QChar(0xD801)));
    EXPECT_TRUE(seen.Insert(u"x-"_s + QChar(0xDC00)));
    EXPECT_EQ(seen.size(), 6u);
}

TEST(SeenSet, CopiesAndReassignmentsAreIndependent) {
    SeenSet copy;
    {
        SeenSet seen;
        for (int i = 0; i < 1000; ++i)
            seen.Insert(u"https://web.test/pro/"_s + QString::number(i));
        copy = seen;
        EXPECT_TRUE(copy.Insert(u"https://web.test/pro/new"_s));
        EXPECT_FALSE(seen.Contains(u"https://web.test/pro/new"_s));
        seen = SeenSet{};
        EXPECT_EQ(seen.size(), 0u);
        EXPECT_FALSE(seen.Contains(u"https://web.test/pro/1"_s));
        EXPECT_TRUE(seen.Insert(u"https://web.test/pro/1"_s));
    }
    // The copy outlives the set it was made from, and keeps growing.
    for (int i = 1000; i < 5000; ++i)
        copy.Insert(u"https://web.test/pro/"_s + QString::number(i));
    EXPECT_EQ(copy.size(), 5001u);
    for (int i = 0; i < 5000; i += 7)
        ASSERT_TRUE(copy.Contains(u"HTTPS://WEB.TEST/PRO/"_s + QString::number(i))) << i;
    EXPECT_TRUE(copy.Contains(u"https://web.test/pro/NEW"_s));
}

// Entries live in blocks of characters that grow as the set does: a text
// larger than any block, texts that end a block, and a set moved away from,
// which stays usable.
TEST(SeenSet, TextsOfAnySizeAcrossStorageBlocksAndMovedSets) {
    SeenSet seen;
    const QString huge = u"https://web.test/pro/"_s + QString(600000, u'ж');
    EXPECT_TRUE(seen.Insert(huge));
    std::vector<QString> texts;
    for (int i = 0; i < 3000; ++i)
        texts.push_back(u"https://web.test/pro/"_s + QString(i % 700, u'q') + QString::number(i));
    for (const QString& text : texts)
        ASSERT_TRUE(seen.Insert(text));
    EXPECT_TRUE(seen.Contains(huge.toUpper()));
    for (const QString& text : texts)
        ASSERT_TRUE(seen.Contains(text.toUpper())) << text.size();

    SeenSet moved(std::move(seen));
    EXPECT_EQ(moved.size(), texts.size() + 1);
    EXPECT_TRUE(moved.Contains(texts.back()));
    EXPECT_EQ(seen.size(), 0u); // NOLINT(bugprone-use-after-move): a moved-from set is empty
    EXPECT_FALSE(seen.Contains(texts.front()));
    EXPECT_TRUE(seen.Insert(texts.front()));
    SeenSet assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(assigned.Contains(huge));
    EXPECT_TRUE(moved.Insert(huge));
    EXPECT_EQ(moved.size(), 1u);
}

TEST(SeenSet, IgnoresLetterCaseCyrillicIncluded) {
    SeenSet seen;
    EXPECT_TRUE(seen.Insert(u"https://web.test/pro/Иван-Пётр"_s));
    EXPECT_TRUE(seen.Contains(u"HTTPS://WEB.TEST/PRO/ИВАН-ПЁТР"_s));
    EXPECT_TRUE(seen.Contains(u"https://web.test/pro/иван-пётр"_s));
    EXPECT_FALSE(seen.Insert(u"https://Web.Test/pro/иВАН-пЁТР"_s));
    EXPECT_FALSE(seen.Contains(u"https://web.test/pro/иван-петр"_s)); // е is not ё
    EXPECT_FALSE(seen.Contains(u"https://web.test/pro/Иван"_s));
    EXPECT_TRUE(seen.Insert(QString()));
    EXPECT_FALSE(seen.Insert(QString()));
    EXPECT_EQ(seen.size(), 2u);
}

TEST(SeenSet, ManyEntriesStayDistinctAndFindable) {
    SeenSet seen;
    constexpr int kCount = 100000;
    for (int i = 0; i < kCount; ++i)
        ASSERT_TRUE(seen.Insert(u"https://web.test/pro/мастер-"_s + QString::number(i, 36)));
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; i += 997) {
        const QString upper =
            (u"https://web.test/pro/мастер-"_s + QString::number(i, 36)).toUpper();
        EXPECT_TRUE(seen.Contains(upper));
        EXPECT_FALSE(seen.Insert(upper));
    }
    EXPECT_FALSE(seen.Contains(u"https://web.test/pro/мастер-"_s));
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kCount));

    WorkQueue queue;
    for (int i = 0; i < kCount; ++i)
        queue.push_back(QString::number(i));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(queue.front(), QString::number(i));
        queue.pop_front();
    }
    EXPECT_TRUE(queue.empty());
}

// The card queue holds the set's own texts: a URL the set has (in any letter
// case) is not queued again, and the entries stay valid when the set is
// moved or gone, also where its storage grew into blocks of megabytes (freed
// blocks that size go back to the system).
TEST(UrlQueue, QueuesEachNewUrlOnceAndOutlivesItsSet) {
    std::vector<QString> urls;
    for (int i = 0; i < 60000; ++i)
        urls.push_back(u"https://web.test/pro/Мастер-"_s + QString::number(i * 7919, 36));
    UrlQueue queue;
    {
        SeenSet seen;
        for (const QString& url : urls)
            ASSERT_TRUE(queue.PushNew(url, seen) && !queue.PushNew(url.toUpper(), seen));
        SeenSet moved = std::move(seen);
        EXPECT_FALSE(queue.PushNew(urls[0], moved));
    }
    EXPECT_EQ(std::vector<QString>(queue.begin(), queue.end()), urls);
    queue.pop_front();
    queue.Filter([](QStringView url) { return url.endsWith(u'0'); });
    std::vector<QString> kept;
    std::copy_if(urls.begin() + 1, urls.end(), std::back_inserter(kept),
                 [](const QString& url) { return url.endsWith(u'0'); });
    EXPECT_EQ(std::vector<QString>(queue.begin() + 1, queue.end()),
              std::vector<QString>(kept.begin() + 1, kept.end()));
    EXPECT_EQ(queue.front(), kept.front());
}
