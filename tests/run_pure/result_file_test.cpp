#include "run/result_file.h"

#include "print_qstring.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
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
    std::vector<QString> back = file.Continue(path);
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
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'z')); // an older file of the same name is replaced
    }
    const QByteArray head = kBom + CsvHeader().toUtf8() + "\r\n";

    ResultFile file;
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

TEST(ResultFile, HeaderThatCannotBeWrittenIsAnError) {
    if (!QFile::exists(u"/dev/full"_s))
        GTEST_SKIP() << "no /dev/full here";
    ResultFile file;
    try {
        file.Open(u"/dev/full"_s);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
                  u"Cannot write to file \"/dev/full\". No space left on device"_s);
    }
    EXPECT_FALSE(file.IsOpen());
}

// A full medium, played by a file size limit in a child process: the row
// that does not fit raises an error with the system's reason, and the file
// keeps every complete row before it and nothing of the failed one.
TEST(ResultFile, FailedRowWriteIsReportedAndLeavesCompleteLines) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"data2.csv"_s);
    const QByteArray head = kBom + CsvHeader().toUtf8() + "\r\n";
    const QByteArray row = (FormatCsvRow(Card(u"https://web.test/pro/0"_s)) + u"\r\n"_s).toUtf8();
    // Room for the header, two rows and half of the third.
    const rlim_t limit = static_cast<rlim_t>(head.size() + 2 * row.size() + row.size() / 2);

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &small) != 0)
            _exit(3);
        int rows = 0;
        try {
            ResultFile file;
            file.Open(path);
            for (; rows < 10; ++rows)
                file.WriteCard(Card(u"https://web.test/pro/"_s + QString::number(rows)));
        } catch (const std::runtime_error& error) {
            const std::string message = error.what();
            if (write(pipeFds[1], message.data(), message.size()) < 0)
                _exit(4);
            _exit(rows == 2 ? 0 : 10 + rows);
        }
        _exit(2); // no error at all
    }
    close(pipeFds[1]);
    QByteArray message;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "2: no error, 3: limit refused, 1x: failed at row x";

    EXPECT_EQ(QString::fromUtf8(message), u"Cannot write to file \""_s +
                                              QFileInfo(path).absoluteFilePath() +
                                              u"\". File too large"_s);
    const QByteArray expected =
        head + (FormatCsvRow(Card(u"https://web.test/pro/0"_s)) + u"\r\n"_s).toUtf8() +
        (FormatCsvRow(Card(u"https://web.test/pro/1"_s)) + u"\r\n"_s).toUtf8();
    EXPECT_EQ(ReadAll(path), expected);
}
