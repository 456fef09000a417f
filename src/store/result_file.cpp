#include "store/result_file.h"

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

} // namespace

ResultRows ScanResultRows(QIODevice& device, bool keepUrls) {
    ResultRows rows;
    rows.valid = ReadCsvRows(
        device,
        [&](CardRecord&& card) {
            ++rows.count;
            // A value is filled when its field holds more than the framing
            // adds; the row form takes the telephone's space away.
            const auto values = ColumnValues(card);
            for (std::size_t i = 0; i < rows.filled.size(); ++i)
                rows.filled[i] += values[i]->isEmpty() ? 0 : 1;
            if (keepUrls)
                rows.urls.push_back(std::move(card.url));
        },
        &rows.complete);
    if (!rows.valid)
        return ResultRows{};
    return rows;
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
