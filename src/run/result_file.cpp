#include "run/result_file.h"

#include "text/extract.h"
#include "text/formula_guard.h"

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

// What a result file begins with: the byte order mark and the header line.
QByteArray HeadBytes() {
    return QByteArray("\xEF\xBB\xBF") + (CsvHeader() + kLineEnd).toUtf8();
}

// open(2) of `path`, retried when a signal cuts it short; -1 and errno on
// failure.
int OpenRetrying(const QString& path, int flags) {
    const QByteArray native = QFile::encodeName(path);
    int fd = -1;
    do {
        fd = ::open(native.constData(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void AppendField(QString& row, const QString& value) {
    row.append(QLatin1Char('"'));
    row.append(CsvFieldText(value));
    row.append(QLatin1Char('"'));
}

} // namespace

QString CsvFieldText(const QString& value) {
    return FormulaSafe(QuoteSafe(value));
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
                card.site.size() + card.email.size() + card.city.size() + card.address.size() + 50);
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

ResultRows ScanResultRows(QIODevice& device, bool keepUrls) {
    ResultRows rows;
    const QByteArray head = HeadBytes();
    // The header, or a beginning of it: a file cut off inside its header
    // holds no row.
    const QByteArray start = device.read(head.size());
    if (!head.startsWith(start))
        return rows;
    rows.valid = true;
    if (start.size() < head.size())
        return rows;
    rows.complete = head.size();

    // Rows: eleven quoted fields (no value holds a double quote) separated by
    // ";" and ended by CR LF; values may hold line breaks of their own.
    enum class At { FieldStart, InField, AfterField, Cr } at = At::FieldStart;
    int field = 0;
    qint64 fieldBytes = 0; // of the field being read
    std::array<bool, 10> filled{};
    qint64 offset = rows.complete;
    QByteArray url;
    char buffer[65536];
    for (;;) {
        const qint64 got = device.read(buffer, sizeof buffer);
        if (got <= 0)
            return rows; // whatever follows the last complete line is torn
        for (qint64 i = 0; i < got; ++i, ++offset) {
            const char c = buffer[i];
            switch (at) {
            case At::FieldStart:
                if (c != '"')
                    return ResultRows{};
                at = At::InField;
                fieldBytes = 0;
                break;
            case At::InField:
                if (c == '"') {
                    at = At::AfterField;
                    // The telephone's field (the seventh) always holds its space.
                    if (field > 0)
                        filled[static_cast<std::size_t>(field - 1)] =
                            fieldBytes > (field == 6 ? 1 : 0);
                    ++field;
                } else {
                    ++fieldBytes;
                    if (field == 0 && keepUrls)
                        url.append(c);
                }
                break;
            case At::AfterField:
                if (field < 11 && c == ';')
                    at = At::FieldStart;
                else if (field == 11 && c == '\r')
                    at = At::Cr;
                else
                    return ResultRows{};
                break;
            case At::Cr:
                if (c != '\n')
                    return ResultRows{};
                if (keepUrls)
                    rows.urls.push_back(QString::fromUtf8(url));
                for (std::size_t i = 0; i < filled.size(); ++i)
                    rows.filled[i] += filled[i] ? 1 : 0;
                ++rows.count;
                rows.complete = offset + 1;
                url.clear();
                field = 0;
                at = At::FieldStart;
                break;
            }
        }
    }
}

ResultFile::~ResultFile() {
    Close();
}

void ResultFile::Open(const QString& path) {
    Create(path, O_EXCL);
}

void ResultFile::Create(const QString& path, int flags) {
    Close();
    path_ = QFileInfo(path).absoluteFilePath();
    const int fd = OpenRetrying(path_, O_RDWR | O_CREAT | flags);
    if (fd < 0 && errno == EEXIST)
        throw ResultFileExists("File \"" + path_.toStdString() + "\" exists");
    if (fd < 0)
        Fail("Cannot create file \"%1\". %2", path_, SystemReason(errno));
    fd_ = fd;
    size_ = 0;

    try {
        WriteAll(HeadBytes());
    } catch (...) {
        Close();
        throw;
    }
}

ResultRows ResultFile::Continue(const QString& path) {
    Close();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const auto refuse = [&absolute](const QString& reason) {
        throw ContinueRefused(
            QStringLiteral("Cannot continue file \"%1\": %2").arg(absolute, reason), reason);
    };
    if (!QFileInfo::exists(absolute) && !QFileInfo(absolute).isSymLink()) {
        Create(absolute, O_EXCL);
        return {};
    }
    // Opened for writing before anything is decided, so that a file that
    // cannot be written is refused untouched.
    const int fd = OpenRetrying(absolute, O_RDWR);
    if (fd < 0)
        refuse(SystemReason(errno));
    QFile existing;
    if (!existing.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        ::close(fd);
        refuse(existing.errorString());
    }
    ResultRows rows = ScanResultRows(existing);
    existing.close();
    if (!rows.valid) {
        ::close(fd);
        refuse(QStringLiteral("он изменён или повреждён"));
    }
    path_ = absolute;
    if (rows.complete == 0) {
        // Cut off inside its header: nothing of it is a row yet.
        ::close(fd);
        Create(absolute, O_TRUNC);
        return {};
    }
    // A line the interruption cut short goes; the rows before it stay.
    if (::ftruncate(fd, static_cast<off_t>(rows.complete)) != 0 ||
        ::lseek(fd, static_cast<off_t>(rows.complete), SEEK_SET) < 0) {
        const int error = errno;
        ::close(fd);
        refuse(SystemReason(error));
    }
    fd_ = fd;
    size_ = rows.complete;
    return rows;
}

void ResultFile::Sync() {
    if (fd_ >= 0)
        ::fdatasync(fd_);
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
