// Program folder, tick-named files and time stamps.
#include "core/platform.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace Qt::StringLiterals;

TEST(TickFileName, TickIsWrittenAsSigned32Bit) {
    EXPECT_EQ(TickFileName("log-%d.txt", 3000000000u), u"log--1294967296.txt"_s);
    EXPECT_EQ(TickFileName("log-%d.txt", 2147483648u), u"log--2147483648.txt"_s);
    EXPECT_EQ(TickFileName("log-%d.txt", 2147483647u), u"log-2147483647.txt"_s);
    EXPECT_EQ(TickFileName("log-%d.txt", 4294967295u), u"log--1.txt"_s);
    EXPECT_EQ(TickFileName("log-%d.txt", 0u), u"log-0.txt"_s);
    EXPECT_EQ(TickFileName("data%d.csv", 123456u), u"data123456.csv"_s);
}

TEST(TickCount, AdvancesInMilliseconds) {
    const std::uint32_t first = TickCount();
    const std::uint32_t second = TickCount();
    // Unsigned difference, so a wrap between the two reads is no failure.
    EXPECT_LT(static_cast<std::uint32_t>(second - first), 1000u);
}

TEST(ProgramFolder, DefaultAndOverride) {
    const QString own = ProgramFolder();
    EXPECT_TRUE(own.endsWith(u'/'));
    EXPECT_EQ(own, QCoreApplication::applicationDirPath() + u'/');

    SetProgramFolder(u"/tmp/somewhere"_s);
    EXPECT_EQ(ProgramFolder(), u"/tmp/somewhere/"_s);
    SetProgramFolder(u"/tmp/elsewhere/"_s);
    EXPECT_EQ(ProgramFolder(), u"/tmp/elsewhere/"_s);
    SetProgramFolder(QString());
    EXPECT_EQ(ProgramFolder(), own);
}

TEST(Timestamp, RussianLocale) {
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QDate date(2026, 12, 8);
    EXPECT_EQ(Timestamp(QDateTime(date, QTime(10, 25, 23)), russian), u"08.12.2026 10:25:23"_s);
    EXPECT_EQ(Timestamp(QDateTime(date, QTime(9, 5, 3)), russian), u"08.12.2026 09:05:03"_s);
    // Midnight exactly gives the date alone; a second later the time is back.
    EXPECT_EQ(Timestamp(QDateTime(date, QTime(0, 0, 0)), russian), u"08.12.2026"_s);
    EXPECT_EQ(Timestamp(QDateTime(date, QTime(0, 0, 1)), russian), u"08.12.2026 00:00:01"_s);
}

TEST(Timestamp, NoTimeZoneInAnyLocale) {
    const QDateTime when(QDate(2026, 12, 8), QTime(10, 25, 23));
    const auto locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    ASSERT_FALSE(locales.isEmpty());
    int withZone = 0;
    for (const QLocale& locale : locales) {
        if (!locale.timeFormat(QLocale::LongFormat).contains(u't'))
            continue;
        ++withZone;
        const QString stamp = Timestamp(when, locale);
        const QString date = locale.toString(when.date(), QLocale::ShortFormat);
        SCOPED_TRACE(qPrintable(locale.name() + u" ["_s + locale.timeFormat(QLocale::LongFormat) +
                                u"] "_s + stamp));
        ASSERT_TRUE(stamp.startsWith(date + u' '));
        const QString time = stamp.mid(date.size() + 1);
        const QString zone = locale.toString(when.time(), u"t"_s);
        ASSERT_FALSE(zone.isEmpty());
        EXPECT_FALSE(time.contains(zone));
        // Nothing of the zone's surroundings is left behind either.
        EXPECT_EQ(time, time.trimmed());
        EXPECT_FALSE(time.endsWith(u','));
        EXPECT_FALSE(time.contains(u"[]"_s));
        EXPECT_FALSE(time.contains(u"()"_s));
        EXPECT_TRUE(time.contains(locale.toString(when.time(), u"mm"_s)));
    }
    EXPECT_GT(withZone, 0);
}

TEST(Timestamp, ZoneNextToPunctuation) {
    const QDateTime when(QDate(2026, 12, 8), QTime(10, 25, 23));
    // Long time formats "HH:mm:ss, t" and "APh:mm:ss [t]".
    const QLocale belarusian(QLocale::Belarusian, QLocale::Belarus);
    EXPECT_TRUE(Timestamp(when, belarusian).endsWith(u" 10:25:23"_s))
        << qPrintable(Timestamp(when, belarusian));
    const QLocale taiwan(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan);
    EXPECT_TRUE(Timestamp(when, taiwan).endsWith(u"10:25:23"_s))
        << qPrintable(Timestamp(when, taiwan));
}
