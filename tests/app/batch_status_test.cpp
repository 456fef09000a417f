// Drawing the batch status line: live on a terminal, as wide as it is at
// each draw, or a plain line a minute elsewhere.
#include "app/batch_status.h"

#include "support/print_qstring.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Narrower than the full text: the rate goes, then the count, then the
// phase's long name, and only then is the line cut. Columns count characters,
// not the UTF-8 bytes of the Cyrillic letters.
// A live line is drawn at most one column narrower than the terminal is at
// that draw, a redraw after a log line included; a terminal that does not
// say its width is taken as 80 columns.
TEST(BatchProgress, ALiveLineFitsTheTerminalAtEachDraw) {
    int columns = 80;
    QStringList live;
    BatchProgress terminal(
        BatchProgress::Mode::Live, [&](const QByteArray& b) { live << QString::fromUtf8(b); },
        [&] { return columns; });
    terminal.Update({2, 0, 20000, 0}, 0);
    terminal.Update({2, 1200, 20000, 1187}, 1000); // 1200/с
    columns = 60;
    terminal.BeforeLogLine();
    terminal.AfterLogLine();
    columns = 0;
    terminal.Update({2, 1200, 20000, 1187}, 1500); // 800/с
    // As wide as the full line, which would wrap: the rate goes.
    columns = 87;
    terminal.Update({2, 1200, 20000, 1187}, 2000); // 600/с
    columns = 88;
    terminal.BeforeLogLine();
    terminal.AfterLogLine();
    ASSERT_EQ(live.size(), 8);
    const QString phase = u"\rЭтап 2, скачивание карточек: 1200 из 20000, "_s;
    EXPECT_EQ(live[1], phase + u"записано строк 1187, осталось 0:16\x1b[K"_s);
    EXPECT_EQ(live[2], u"\r\x1b[K"_s);
    EXPECT_EQ(live[3], phase + u"осталось 0:16\x1b[K"_s);
    EXPECT_EQ(live[4], phase + u"записано строк 1187, осталось 0:24\x1b[K"_s);
    EXPECT_EQ(live[5], phase + u"записано строк 1187, осталось 0:32\x1b[K"_s);
    EXPECT_EQ(live[7], phase + u"записано строк 1187, 600.0/с, осталось 0:32\x1b[K"_s);
}

// The rate of the last ten seconds, not of the whole run.
// A terminal gets the line at once, then at most twice a second and on a new
// phase; it steps aside for each log line and goes at the end. Elsewhere a
// plain line a minute.
TEST(BatchProgress, LiveOnATerminalAPlainLineAMinuteElsewhere) {
    std::vector<QByteArray> live, plain;
    BatchProgress terminal(BatchProgress::Mode::Live,
                           [&](const QByteArray& b) { live.push_back(b); });
    BatchProgress file(BatchProgress::Mode::Lines,
                       [&](const QByteArray& b) { plain.push_back(b); });
    const auto draw = [](const char* text) { return "\r" + QByteArray(text) + "\x1b[K"; };
    for (BatchProgress* p : {&terminal, &file}) {
        p->Update({1, 1, 3, 0}, 1000);
        p->Update({1, 2, 3, 25}, 1200);
        p->Update({1, 3, 3, 50}, 2000);
        p->BeforeLogLine();
        p->AfterLogLine();
        p->Update({2, 0, 50, 0}, 2100);
        p->Update({2, 30, 50, 29}, 61099);
        p->Update({2, 31, 50, 30}, 61100);
        p->Finish();
    }
    const char* phase1 =
        "Этап 1, поиск карточек: 3 из 3, найдено карточек 50, 2.0/с, осталось 0:00";
    EXPECT_EQ(
        live,
        (std::vector<QByteArray>{
            draw("Этап 1, поиск карточек: 1 из 3, найдено карточек 0, —/с, осталось —"),
            draw(phase1), "\r\x1b[K", draw(phase1),
            draw("Этап 2, скачивание карточек: 0 из 50, записано строк 0, —/с, осталось —"),
            draw("Этап 2, скачивание карточек: 30 из 50, записано строк 29, 0.5/с, осталось 0:40"),
            "\r\x1b[K"}));
    // The first plain line a minute after the first figures, and no other.
    EXPECT_EQ(plain,
              (std::vector<QByteArray>{QByteArray("Этап 2, скачивание карточек: 30 из 50, "
                                                  "записано строк 29, 0.5/с, осталось 0:40\n")}));
}
