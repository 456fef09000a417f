#include "run/result_file.h"
#include "run/run_files.h"

#include "print_qstring.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

CardRecord Card(const QString& url) {
    CardRecord card;
    card.url = url;
    card.name = u"Имя"_s;
    card.telephone = u"+7 900"_s;
    return card;
}

QByteArray Head() {
    return kBom + CsvHeader().toUtf8() + "\r\n";
}

QByteArray Row(const CardRecord& card) {
    return (FormatCsvRow(card) + u"\r\n"_s).toUtf8();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Runs `body` in a child process under a file size limit of `limit` bytes (a
// full medium): its exit code, and what it wrote to the pipe it is given.
std::pair<int, QString> UnderSizeLimit(rlim_t limit, const std::function<int(int pipe)>& body) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {-1, {}};
    const pid_t child = fork();
    if (child < 0)
        return {-1, {}};
    if (child == 0) {
        close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &small) != 0)
            _exit(3);
        _exit(body(pipeFds[1]));
    }
    close(pipeFds[1]);
    QByteArray message;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return {-1, {}};
    return {WEXITSTATUS(status), QString::fromUtf8(message)};
}

int Report(int pipe, const std::exception& error, int code) {
    const std::string message = error.what();
    return write(pipe, message.data(), message.size()) < 0 ? 4 : code;
}

} // namespace

TEST(ResultFile, HeaderAndRowFraming) {
    EXPECT_EQ(CsvHeader(), u"\"URL\";\"Имя/Название\";\"Категории специализации\";\"Услуги\";"
                           "\"Рейтинг\";\"Отзывов\";\"Телефон\";\"Сайт\";\"Email\";\"Город\";"
                           "\"Адрес\""_s);

    CardRecord empty;
    empty.url = u"https://web.test/pro/a"_s;
    EXPECT_EQ(FormatCsvRow(empty),
              u"\"https://web.test/pro/a\";\"\";\"\";\"\";\"\";\"\";\" \";\"\";\"\";\"\";\"\""_s);

    CardRecord full;
    full.url = u"https://web.test/pro/\"q\""_s; // quote-safe like every value
    full.name = u"ООО \"Ромашка\""_s;
    full.categories = u"a, b"_s;
    full.services = u"Первая; Вторая"_s;
    full.rating = u"\"4,5\""_s;
    full.reviews = u"3}"_s;
    full.telephone = u"+7 \\"_s;
    full.site = u"https://s.test"_s;
    full.email = u"e@x"_s;
    full.city = u"Москва"_s;
    full.address = u"строка 1\nстрока 2;"_s;
    EXPECT_EQ(FormatCsvRow(full),
              u"\"https://web.test/pro/'q'\";\"ООО 'Ромашка'\";\"a, b\";\"Первая; Вторая\";"
              "\"'4,5'\";\"3}\";\" +7 \\\";\"https://s.test\";\"e@x\";\"Москва\";"
              "\"строка 1\nстрока 2;\""_s);
}

// Every column but the telephone gets the apostrophe of a value a
// spreadsheet would run (after double quotes became apostrophes); the
// telephone's field starts with its space and is never changed. A continued
// run finds its rows through CsvFieldText, so the file must give the URL
// fields back as it writes them.
TEST(ResultFile, FormulaLikeValuesAreWrittenAsText) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"data1.csv"_s);
    const QStringList values = {u"=1+2"_s, u"+7 900"_s, u"-1"_s, u"@A1"_s, u"\tx"_s, u"\rx"_s};
    ResultFile file;
    file.Open(path);
    for (const QString& v : values) {
        const CardRecord card{v, v, v, v, v, v, v, v, v, v, v};
        QStringList fields(11, u"\"'"_s + v + u"\""_s);
        fields[6] = u"\" "_s + v + u"\""_s;
        EXPECT_EQ(FormatCsvRow(card), fields.join(u';'));
        file.WriteCard(card);
    }
    const CardRecord quoted{u"\"=x"_s, u"=\"x\""_s, {}, {}, {}, {}, {}, {}, {}, {}, {}};
    EXPECT_TRUE(FormatCsvRow(quoted).startsWith(uR"("'=x";"'='x'";)"_s));
    file.WriteCard(quoted);
    std::vector<QString> back = file.Continue(path).urls;
    ASSERT_EQ(back.size(), 7u);
    EXPECT_EQ(back[0], u"'=1+2"_s);
    for (std::size_t i = 0; i < back.size(); ++i)
        EXPECT_EQ(back[i], CsvFieldText(i < 6 ? values[static_cast<qsizetype>(i)] : quoted.url));
}

TEST(ResultFile, NameFollowsTheTickAsSigned32Bit) {
    EXPECT_EQ(ResultFileName(0), u"data0.csv"_s);
    EXPECT_EQ(ResultFileName(2147483647u), u"data2147483647.csv"_s);
    EXPECT_EQ(ResultFileName(3000000000u), u"data-1294967296.csv"_s);
}

TEST(ResultFile, RowsReachTheFileAsTheyAreWritten) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"data1.csv"_s);
    const QString older = dir.filePath(u"data0.csv"_s);
    WriteFile(older, QByteArray(5000, 'z'));
    const QByteArray head = kBom + CsvHeader().toUtf8() + "\r\n";

    ResultFile file;
    // A file of that name, another run's, is never replaced.
    EXPECT_THROW(file.Open(older), ResultFileExists);
    EXPECT_EQ(ReadAll(older), QByteArray(5000, 'z'));
    file.Open(path);
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Path(), QFileInfo(path).absoluteFilePath());
    EXPECT_EQ(ReadAll(path), head);

    file.WriteCard(Card(u"https://web.test/pro/1"_s));
    const QByteArray row1 = (FormatCsvRow(Card(u"https://web.test/pro/1"_s)) + u"\r\n"_s).toUtf8();
    EXPECT_EQ(ReadAll(path), head + row1); // visible to a reader while still open

    file.WriteCard(Card(u"https://web.test/pro/2"_s));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    file.Close(); // harmless twice
    const QByteArray row2 = (FormatCsvRow(Card(u"https://web.test/pro/2"_s)) + u"\r\n"_s).toUtf8();
    EXPECT_EQ(ReadAll(path), head + row1 + row2);
    EXPECT_THROW(file.WriteCard(Card(u"x"_s)), std::logic_error);
}

TEST(ResultFile, CreationFailureNamesTheAbsolutePathAndTheReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ResultFile file;
    try {
        file.Open(u"missing/data5.csv"_s);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        const QString expected = u"Cannot create file \""_s + QDir(dir.path()).absolutePath() +
                                 u"/missing/data5.csv\". No such file or directory"_s;
        EXPECT_EQ(QString::fromUtf8(error.what()), expected);
    }
    QDir::setCurrent(previous);
    EXPECT_FALSE(file.IsOpen());
}

// A full medium, played by a file size limit in a child process: a header
// that does not fit is an error and leaves the file closed; a row that does
// not fit raises an error with the system's reason, and the file keeps every
// complete row before it and nothing of the failed one.
TEST(ResultFile, WritesThatDoNotFitAreErrorsAndLeaveCompleteLines) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString headPath = dir.filePath(u"data1.csv"_s);
    const auto [headCode, headMessage] =
        UnderSizeLimit(static_cast<rlim_t>(Head().size() / 2), [&](int pipe) {
            ResultFile file;
            try {
                file.Open(headPath);
            } catch (const std::runtime_error& error) {
                return Report(pipe, error, file.IsOpen() ? 5 : 0);
            }
            return 2;
        });
    ASSERT_EQ(headCode, 0) << "2: no error, 3: limit refused, 5: left open";
    EXPECT_EQ(headMessage, u"Cannot write to file \""_s + QFileInfo(headPath).absoluteFilePath() +
                               u"\". File too large"_s);

    const QString path = dir.filePath(u"data2.csv"_s);
    const QByteArray row = Row(Card(u"https://web.test/pro/0"_s));
    // Room for the header, two rows and half of the third.
    const auto [code, message] = UnderSizeLimit(
        static_cast<rlim_t>(Head().size() + 2 * row.size() + row.size() / 2), [&](int pipe) {
            int rows = 0;
            try {
                ResultFile file;
                file.Open(path);
                for (; rows < 10; ++rows)
                    file.WriteCard(Card(u"https://web.test/pro/"_s + QString::number(rows)));
            } catch (const std::runtime_error& error) {
                return Report(pipe, error, rows == 2 ? 0 : 10 + rows);
            }
            return 2;
        });
    ASSERT_EQ(code, 0) << "2: no error, 3: limit refused, 1x: failed at row x";
    EXPECT_EQ(message, u"Cannot write to file \""_s + QFileInfo(path).absoluteFilePath() +
                           u"\". File too large"_s);
    EXPECT_EQ(ReadAll(path), Head() + Row(Card(u"https://web.test/pro/0"_s)) +
                                 Row(Card(u"https://web.test/pro/1"_s)));
}

// Continuing: the rows already there stay byte for byte and new rows follow
// them; a torn last line goes; a file cut inside its header, or missing, is
// made anew with the whole header. The rows come back with their URL fields
// and the filled count of every column.
TEST(ResultFile, ContinuedFilesKeepTheirRowsAndGainNewOnes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"data3.csv"_s);
    CardRecord full = Card(u"https://web.test/pro/a"_s);
    full.rating = u"4,5"_s;
    CardRecord bare;
    bare.url = u"https://web.test/pro/b"_s; // the telephone field holds only its space
    const QByteArray earlier = Head() + Row(full) + Row(bare);
    const CardRecord next = Card(u"https://web.test/pro/c"_s);

    struct Case {
        const char* what;
        QByteArray before; // the file before (none when `missing`)
        bool missing;
        QByteArray kept; // what Continue leaves of it
        std::int64_t rows;
    };
    const Case cases[] = {
        {"whole rows", earlier, false, earlier, 2},
        {"a torn last line", earlier + Row(next).left(17), false, earlier, 2},
        {"cut inside the header", Head().left(Head().size() - 5), false, Head(), 0},
        {"only the byte order mark", kBom, false, Head(), 0},
        {"empty", {}, false, Head(), 0},
        {"missing", {}, true, Head(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path);
        if (!c.missing)
            WriteFile(path, c.before);
        ResultFile file;
        const ResultRows rows = file.Continue(path);
        EXPECT_EQ(rows.count, c.rows);
        EXPECT_EQ(ReadAll(path), c.kept);
        file.WriteCard(next);
        file.Close();
        EXPECT_EQ(ReadAll(path), c.kept + Row(next));
        if (c.rows == 2) {
            EXPECT_EQ(rows.urls, (std::vector<QString>{full.url, bare.url}));
            //                   name rating telephone, of two rows
            const std::array<std::int64_t, 10> filled{1, 0, 0, 1, 0, 1, 0, 0, 0, 0};
            EXPECT_EQ(rows.filled, filled);
        }
    }
}

// A file that cannot be continued is left exactly as it was: one a
// spreadsheet saved again (its quotes gone), one that is something else, one
// that cannot be written.
TEST(ResultFile, AFileThatCannotBeContinuedIsLeftAsItWas) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"data4.csv"_s);
    QByteArray resaved = Head() + Row(Card(u"https://web.test/pro/a"_s));
    resaved.replace('"', "");
    const QByteArray glued = Head() + Row(Card(u"https://web.test/pro/a"_s)).chopped(2) +
                             Row(Card(u"https://web.test/pro/b"_s));
    for (const QByteArray& bytes : {resaved, glued, QByteArray("id;name\r\n1;x\r\n")}) {
        WriteFile(path, bytes);
        ResultFile file;
        try {
            file.Continue(path);
            ADD_FAILURE() << "continued " << bytes.toStdString();
        } catch (const ContinueRefused& refused) {
            EXPECT_EQ(refused.reason, u"он изменён или повреждён"_s);
        }
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(ReadAll(path), bytes);
    }

    // Read-only for everyone, root included: an immutable file.
    WriteFile(path, Head());
    if (std::system(("chattr +i '" + path.toStdString() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no chattr +i here";
    ResultFile file;
    EXPECT_THROW(file.Continue(path), ContinueRefused);
    EXPECT_EQ(ReadAll(path), Head());
    std::system(("chattr -i '" + path.toStdString() + "'").c_str());
}

// A run's files share one tick; a tick any of them already has is not taken.
TEST(RunFiles, TheTickSkipsEveryNameInUse) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& name :
         {u"data5.csv"_s, u"log-6.txt"_s, u"run-7.journal"_s, u"data-1.csv"_s})
        WriteFile(dir.filePath(name), "x");
    EXPECT_EQ(FreeRunTick(dir.path(), 4), 4u);
    EXPECT_EQ(FreeRunTick(dir.path(), 5), 8u);
    EXPECT_EQ(FreeRunTick(dir.path(), 7), 8u);
    EXPECT_EQ(FreeRunTick(dir.path(), 4294967295u), 0u) << "wraps like the tick";
    EXPECT_EQ(LogFileName(3000000000u), u"log--1294967296.txt"_s);
    EXPECT_EQ(JournalFileName(12), u"run-12.journal"_s);
}
