#include "run/result_file.h"

#include "core/platform.h"
#include "text/extract.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/types.h>
#include <unistd.h>

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void Fail(const char* format, const QString& path, const QString& reason) {
    throw std::runtime_error(QString::fromLatin1(format).arg(path, reason).toStdString());
}

void AppendField(QString& row, const QString& value) {
    row.append(QLatin1Char('"'));
    row.append(QuoteSafe(value));
    row.append(QLatin1Char('"'));
}

} // namespace

QString ResultFileName(std::uint32_t tick) {
    return TickFileName("data%d.csv", tick);
}

QString CsvHeader() {
    return QStringLiteral("\"URL\";\"Имя/Название\";\"Категории специализации\";\"Услуги\";"
                          "\"Рейтинг\";\"Отзывов\";\"Телефон\";\"Сайт\";\"Email\";\"Город\";"
                          "\"Адрес\"");
}

QString FormatCsvRow(const CardRecord& card) {
    QString row;
    row.reserve(card.url.size() + card.name.size() + card.categories.size() + card.services.size() +
                card.rating.size() + card.reviews.size() + card.telephone.size() +
                card.site.size() + card.email.size() + card.city.size() + card.address.size() + 40);
    // The URL too: a slug is the site's text, and a double quote in it would
    // break the row's framing.
    AppendField(row, card.url);
    row.append(QLatin1Char(';'));
    for (const QString* value :
         {&card.name, &card.categories, &card.services, &card.rating, &card.reviews}) {
        AppendField(row, *value);
        row.append(QLatin1Char(';'));
    }
    row.append(u"\" ");
    row.append(QuoteSafe(card.telephone));
    row.append(u"\";");
    for (const QString* value : {&card.site, &card.email, &card.city}) {
        AppendField(row, *value);
        row.append(QLatin1Char(';'));
    }
    AppendField(row, card.address);
    return row;
}

ResultFile::~ResultFile() {
    Close();
}

void ResultFile::Open(const QString& path) {
    Close();
    path_ = QFileInfo(path).absoluteFilePath();
    const QByteArray native = QFile::encodeName(path_);
    int fd = -1;
    do {
        fd = ::open(native.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        Fail("Cannot create file \"%1\". %2", path_, SystemReason(errno));
    fd_ = fd;
    size_ = 0;

    QByteArray head("\xEF\xBB\xBF");
    head.append((CsvHeader() + kLineEnd).toUtf8());
    try {
        WriteAll(head);
    } catch (...) {
        Close();
        throw;
    }
}

void ResultFile::WriteCard(const CardRecord& card) {
    if (fd_ < 0)
        throw std::logic_error("The result file is not open");
    // Row and line end in one write, so a reader never sees a row without it.
    WriteAll((FormatCsvRow(card) + kLineEnd).toUtf8());
}

void ResultFile::WriteAll(const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, static_cast<std::size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A write that fails after part of the line went out (a full disk
            // takes what fits first) would leave a broken last line: cut the
            // file back to the lines written before.
            const int error = written < 0 ? errno : EIO;
            if (::ftruncate(fd_, static_cast<off_t>(size_)) == 0)
                ::lseek(fd_, static_cast<off_t>(size_), SEEK_SET);
            Fail("Cannot write to file \"%1\". %2", path_, SystemReason(error));
        }
        data += written;
        left -= written;
    }
    size_ += bytes.size();
}

void ResultFile::Close() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}
