#include "store/run_journal.h"

#include "site/requests.h"
#include "store/run_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kVersion = 1;
constexpr qint64 kHeaderBytes = 12;
// A record longer than this is damage, not data (a listing page of the
// largest body the workers accept gives far less).
constexpr std::uint32_t kMaxPayload = 1u << 30;

enum RecordType : char {
    kSettings = 'S',
    kItem = 'I',
    kHandedOver = 'H',
    kResultFile = 'F',
    kGone = 'G',
};

std::uint32_t Crc(const char* data, qint64 size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const uInt chunk = static_cast<uInt>(std::min<qint64>(size, 1 << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), chunk);
        data += chunk;
        size -= chunk;
    }
    return static_cast<std::uint32_t>(crc);
}

void PutU32(QByteArray& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetU32(const char* data) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(data[i]);
    return value;
}

void PutText(QByteArray& out, QStringView text) {
    const QByteArray utf8 = text.toUtf8();
    PutU32(out, static_cast<std::uint32_t>(utf8.size()));
    out.append(utf8);
}

template <typename Texts> void PutTexts(QByteArray& out, const Texts& texts) {
    PutU32(out, static_cast<std::uint32_t>(texts.size()));
    for (const QString& text : texts)
        PutText(out, text);
}

// Reads a payload's fields; any read past its end fails and stays failed.
class Fields {
public:
    // The fields after the first `skip` bytes of `payload`.
    Fields(const QByteArray& payload, qsizetype skip)
        : data_(payload.constData() + skip), left_(payload.size() - skip) {}

    bool U32(std::uint32_t& value) {
        if (left_ < 4)
            return Fail();
        value = GetU32(data_);
        Skip(4);
        return true;
    }
    bool Text(QString& text) {
        std::uint32_t size = 0;
        if (!U32(size) || size > static_cast<std::uint32_t>(left_))
            return Fail();
        text = QString::fromUtf8(data_, static_cast<qsizetype>(size));
        Skip(size);
        return true;
    }
    // Calls `each` with every text of a counted list.
    template <typename Each> bool Texts(Each each) {
        std::uint32_t count = 0;
        if (!U32(count))
            return false;
        QString text;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!Text(text))
                return false;
            each(text);
        }
        return true;
    }
    bool List(QStringList& list) {
        return Texts([&](const QString& text) { list.append(text); });
    }
    bool AtEnd() const { return ok_ && left_ == 0; }

private:
    bool Fail() {
        ok_ = false;
        left_ = 0;
        return false;
    }
    void Skip(qint64 bytes) {
        data_ += bytes;
        left_ -= bytes;
    }
    const char* data_;
    qint64 left_;
    bool ok_ = true;
};

// Whether the device holds nothing but zero bytes from here on: what a power
// cut may leave where a record was being written.
bool OnlyZerosLeft(QIODevice& device) {
    char buffer[4096];
    for (;;) {
        const qint64 got = device.read(buffer, sizeof buffer);
        if (got <= 0)
            return got == 0;
        if (std::any_of(buffer, buffer + got, [](char c) { return c != 0; }))
            return false;
    }
}

// Applies one record to the state; false when it does not make sense there.
// Without `replay` the cards are only counted.
bool Apply(char type, Fields& fields, JournalState& state, bool replay) {
    switch (type) {
    case kItem: {
        QString item;
        if (!fields.Text(item))
            return false;
        ++state.handledItems;
        if (!replay) {
            return fields.Texts([](const QString&) {}) &&
                   fields.Texts([&](const QString&) { ++state.cards; }) && fields.AtEnd();
        }
        // The item leaves the queue where it stood (items are taken from the
        // front, so it lies near it).
        const auto at = std::find(state.listingQueue.begin(), state.listingQueue.end(), item);
        if (at == state.listingQueue.end())
            return false;
        state.listingQueue.erase(at);
        const bool ok = fields.Texts([&](const QString& queued) {
            state.listingQueue.push_back(queued);
            state.queuedSearches.insert(queued);
        }) && fields.Texts([&](const QString& card) {
            if (state.cardQueue.PushNew(card, state.seen))
                ++state.cards;
        });
        return ok && fields.AtEnd();
    }
    case kHandedOver:
        state.handedOver = true;
        return fields.AtEnd();
    case kResultFile:
        return fields.Text(state.resultPath) && fields.AtEnd();
    case kGone: {
        QString url;
        if (!fields.Text(url) || !fields.AtEnd())
            return false;
        if (replay && state.gone.Insert(url))
            state.goneUrls.push_back(url);
        return true;
    }
    default:
        return false;
    }
}

bool ApplySettings(Fields& fields, JournalState& state, QString& problem, bool replay) {
    std::uint32_t version = 0;
    if (!fields.U32(version)) {
        problem = QStringLiteral("нет настроек сбора");
        return false;
    }
    if (version != kVersion) {
        problem = QStringLiteral("другая версия журнала (%1)").arg(version);
        return false;
    }
    RunSettings& s = state.settings;
    if (!fields.Text(s.webHost) || !fields.Text(s.apiHost) || !fields.List(s.categoryRows) ||
        !fields.List(s.cityRows) || !fields.List(s.categoryIds) || !fields.AtEnd()) {
        problem = QStringLiteral("настройки сбора не читаются");
        return false;
    }
    if (replay)
        state.listingQueue = SeedListingQueue(s.webHost, s.cityRows, s.categoryRows);
    return true;
}

[[noreturn]] void Fail(const QString& what, const QString& path, int error) {
    throw std::runtime_error(QStringLiteral("%1 \"%2\". %3")
                                 .arg(what, path, QString::fromLocal8Bit(std::strerror(error)))
                                 .toStdString());
}

// Makes a new entry in `folder` durable (the journal, the result file).
void SyncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int OpenRetrying(const QByteArray& name, int flags, mode_t mode = 0666) {
    int fd = -1;
    do {
        fd = ::open(name.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The journal's lock on `fd`, without waiting: false when another open of the
// file holds it (errno EWOULDBLOCK) or locks are not supported there.
bool LockNow(int fd, int operation) {
    int result = 0;
    do {
        result = ::flock(fd, operation | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// Renames `path` to the first free "<path>.bad", "<path>.bad2", ...
SetAsideOutcome RenameAside(const QString& path) {
    QString target = path + QStringLiteral(".bad");
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = path + QStringLiteral(".bad") + QString::number(n);
    SetAsideOutcome outcome;
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) == 0) {
        outcome.renamed = true;
        outcome.target = target;
    } else {
        outcome.error = QString::fromLocal8Bit(std::strerror(errno));
    }
    return outcome;
}

} // namespace

QByteArray JournalSettingsPayload(const RunSettings& settings, std::uint32_t version) {
    QByteArray payload(1, kSettings);
    PutU32(payload, version);
    PutText(payload, settings.webHost);
    PutText(payload, settings.apiHost);
    PutTexts(payload, settings.categoryRows);
    PutTexts(payload, settings.cityRows);
    PutTexts(payload, settings.categoryIds);
    return payload;
}

QByteArray JournalItemPayload(const QString& item, const std::vector<QString>& queued,
                              const std::vector<QString>& cards) {
    QByteArray payload(1, kItem);
    PutText(payload, item);
    PutTexts(payload, queued);
    PutTexts(payload, cards);
    return payload;
}

QByteArray JournalHandedOverPayload() {
    return QByteArray(1, kHandedOver);
}

QByteArray JournalResultFilePayload(const QString& path) {
    QByteArray payload(1, kResultFile);
    PutText(payload, path);
    return payload;
}

QByteArray JournalGonePayload(const QString& url) {
    QByteArray payload(1, kGone);
    PutText(payload, url);
    return payload;
}

QByteArray JournalFrame(const QByteArray& payload) {
    QByteArray record;
    record.reserve(kHeaderBytes + payload.size());
    PutU32(record, static_cast<std::uint32_t>(payload.size()));
    PutU32(record, Crc(record.constData(), 4));
    PutU32(record, Crc(payload.constData(), payload.size()));
    record.append(payload);
    return record;
}

JournalRead ReadJournal(QIODevice& device, JournalReading reading) {
    const bool replay = reading == JournalReading::Replay;
    JournalRead read;
    const auto untrusted = [&](const QString& problem) {
        read.trusted = false;
        read.problem = problem;
        return std::move(read);
    };
    char header[kHeaderBytes];
    QByteArray payload;
    for (;;) {
        const qint64 got = device.read(header, kHeaderBytes);
        if (got < kHeaderBytes)
            break; // the end, or a torn header
        const std::uint32_t size = GetU32(header);
        if (GetU32(header + 4) != Crc(header, 4) || size == 0 || size > kMaxPayload) {
            if (OnlyZerosLeft(device))
                break; // a tail a power cut left zeroed
            return untrusted(QStringLiteral("повреждённая запись"));
        }
        payload.resize(size);
        const qint64 body = device.read(payload.data(), size);
        if (body < static_cast<qint64>(size))
            break; // a torn last record
        if (GetU32(header + 8) != Crc(payload.constData(), size)) {
            if (OnlyZerosLeft(device))
                break; // the last record, written only in part
            return untrusted(QStringLiteral("повреждённая запись"));
        }
        const char type = payload.front();
        Fields fields(payload, 1);
        if (read.state.records == 0) {
            if (type != kSettings || !ApplySettings(fields, read.state, read.problem, replay))
                return untrusted(read.problem.isEmpty() ? QStringLiteral("нет настроек сбора")
                                                        : read.problem);
        } else if (!Apply(type, fields, read.state, replay)) {
            return untrusted(QStringLiteral("запись не согласуется с предыдущими"));
        }
        ++read.state.records;
        read.length += kHeaderBytes + size;
        if (reading == JournalReading::Settings)
            break;
    }
    if (read.state.records == 0)
        return untrusted(QStringLiteral("нет настроек сбора"));
    read.trusted = true;
    return read;
}

JournalRead ReadJournalFile(const QString& path, JournalReading reading) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        JournalRead read;
        read.problem = file.errorString();
        return read;
    }
    JournalRead read = ReadJournal(file, reading);
    // A result file named relative to the journal lies in the journal's
    // folder, wherever that folder is now.
    QString& result = read.state.resultPath;
    if (!result.isEmpty() && QFileInfo(result).isRelative())
        result = QFileInfo(path).absoluteDir().filePath(result);
    return read;
}

QStringList JournalFiles(const QString& folder) {
    QStringList paths;
    const QFileInfoList found =
        QDir(folder).entryInfoList({QStringLiteral("run-*.journal")}, QDir::Files, QDir::Time);
    for (const QFileInfo& info : found)
        paths << info.absoluteFilePath();
    return paths;
}

bool JournalInUse(const QString& path) {
    const int fd = OpenRetrying(QFile::encodeName(path), O_RDONLY);
    if (fd < 0)
        return false;
    const bool free = LockNow(fd, LOCK_SH) || errno != EWOULDBLOCK;
    ::close(fd); // drops the shared lock, if taken
    return !free;
}

SetAsideOutcome SetAsideJournal(const QString& path) {
    std::unique_ptr<RunJournal> journal;
    try {
        journal = RunJournal::Take(path);
    } catch (const JournalInUseError&) {
        SetAsideOutcome outcome;
        outcome.inUse = true;
        return outcome;
    } catch (const std::exception&) {
        // Not even open for writing (a read-only folder or file): the rename
        // says why it cannot be set aside, if it cannot.
        return RenameAside(path);
    }
    return journal->SetAside();
}

bool RemoveJournal(const QString& path) {
    try {
        RunJournal::Take(path)->Remove();
        return true;
    } catch (const JournalInUseError&) {
        return false;
    } catch (const std::exception&) {
        return QFile::remove(path);
    }
}

RunJournal::RunJournal(int fd, QString path, std::uint32_t tick)
    : fd_(fd), path_(std::move(path)), tick_(tick) {}

RunJournal::~RunJournal() {
    Close();
}

void RunJournal::Close() {
    if (fd_ >= 0)
        ::close(fd_); // drops the lock
    fd_ = -1;
}

std::unique_ptr<RunJournal> RunJournal::Create(const QString& folder, std::uint32_t tick,
                                               const RunSettings& settings) {
    const QDir dir(folder);
    const QByteArray record = JournalFrame(JournalSettingsPayload(settings));
    // Made under a name no search looks at, locked and holding its settings,
    // then linked to its real name, which fails when that name is taken.
    static std::atomic<unsigned> made{0};
    QString temporary;
    QByteArray temporaryName;
    int fd = -1;
    do {
        temporary = dir.absoluteFilePath(
            QStringLiteral("run-new-%1-%2.tmp").arg(::getpid()).arg(made.fetch_add(1)));
        temporaryName = QFile::encodeName(temporary);
        fd = OpenRetrying(temporaryName, O_WRONLY | O_CREAT | O_EXCL | O_APPEND);
    } while (fd < 0 && errno == EEXIST);
    if (fd < 0)
        Fail(QStringLiteral("Cannot create file"), dir.absoluteFilePath(JournalFileName(tick)),
             errno);
    const auto fail = [&](const QString& what, const QString& path, int error) {
        ::close(fd);
        ::unlink(temporaryName.constData());
        Fail(what, path, error);
    };
    LockNow(fd, LOCK_EX); // a new file: nobody else can hold it
    ssize_t written = 0;
    do {
        written = ::write(fd, record.constData(), static_cast<size_t>(record.size()));
    } while (written < 0 && errno == EINTR);
    if (written != record.size())
        fail(QStringLiteral("Cannot write to file"), temporary, written < 0 ? errno : ENOSPC);
    (SyncFile != nullptr ? SyncFile : ::fdatasync)(fd);

    std::uint32_t n = FreeRunTick(folder, tick);
    for (int tries = 0;; ++tries) {
        const QString path = dir.absoluteFilePath(JournalFileName(n));
        const QByteArray name = QFile::encodeName(path);
        if (::link(temporaryName.constData(), name.constData()) == 0) {
            ::unlink(temporaryName.constData());
            break;
        }
        const int error = errno;
        if (error == EEXIST && tries < 1000) {
            n = FreeRunTick(folder, n + 1);
            continue;
        }
        if (error != EPERM && error != ENOSYS && error != EOPNOTSUPP)
            fail(QStringLiteral("Cannot create file"), path, error);
        // No hard links on this file system: the journal is made under its
        // name directly (a search in that instant may see it empty).
        ::close(fd);
        ::unlink(temporaryName.constData());
        fd = OpenRetrying(name, O_WRONLY | O_CREAT | O_EXCL | O_APPEND);
        if (fd < 0 && errno == EEXIST && tries < 1000) {
            n = FreeRunTick(folder, n + 1);
            continue;
        }
        if (fd < 0)
            Fail(QStringLiteral("Cannot create file"), path, errno);
        LockNow(fd, LOCK_EX);
        std::unique_ptr<RunJournal> journal(new RunJournal(fd, path, n));
        journal->Append(JournalSettingsPayload(settings), true);
        if (!journal->failed_.isEmpty())
            throw std::runtime_error(journal->failed_.toStdString());
        SyncFolder(folder);
        return journal;
    }
    SyncFolder(folder);
    return std::unique_ptr<RunJournal>(
        new RunJournal(fd, dir.absoluteFilePath(JournalFileName(n)), n));
}

std::unique_ptr<RunJournal> RunJournal::Take(const QString& path) {
    const int fd = OpenRetrying(QFile::encodeName(path), O_WRONLY | O_APPEND);
    if (fd < 0)
        Fail(QStringLiteral("Cannot open file"), path, errno);
    if (!LockNow(fd, LOCK_EX) && errno == EWOULDBLOCK) {
        ::close(fd);
        throw JournalInUseError(QStringLiteral("The journal \"%1\" is in use by another process")
                                    .arg(path)
                                    .toStdString());
    }
    return std::unique_ptr<RunJournal>(new RunJournal(fd, path, 0));
}

std::unique_ptr<RunJournal> RunJournal::Continue(const QString& path, std::int64_t length) {
    std::unique_ptr<RunJournal> journal = Take(path);
    journal->CutTo(length);
    return journal;
}

void RunJournal::CutTo(std::int64_t length) {
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0)
        Fail(QStringLiteral("Cannot write to file"), path_, errno);
}

void RunJournal::Append(const QByteArray& payload, bool syncNow) {
    if (fd_ < 0 || !failed_.isEmpty())
        return;
    const QByteArray record = JournalFrame(payload);
    ssize_t written = 0;
    do {
        written = ::write(fd_, record.constData(), static_cast<size_t>(record.size()));
    } while (written < 0 && errno == EINTR);
    if (written != record.size()) {
        // A record written in part is a torn tail; nothing may follow it.
        failed_ = QString::fromLocal8Bit(std::strerror(written < 0 ? errno : ENOSPC));
        return;
    }
    dirty_ = true;
    if (syncNow)
        Sync();
}

void RunJournal::ItemHandled(const QString& item, const std::vector<QString>& queued,
                             const std::vector<QString>& cards) {
    Append(JournalItemPayload(item, queued, cards), false);
}

void RunJournal::HandedOver() {
    Append(JournalHandedOverPayload(), true);
}

void RunJournal::ResultFile(const QString& path) {
    const QFileInfo journal(path_);
    const QFileInfo result(path);
    const bool beside = result.absolutePath() == journal.absolutePath();
    Append(JournalResultFilePayload(beside ? result.fileName() : result.absoluteFilePath()), true);
}

void RunJournal::Gone(const QString& url) {
    Append(JournalGonePayload(url), false);
}

void RunJournal::Sync() {
    if (fd_ < 0 || !dirty_)
        return;
    (SyncFile != nullptr ? SyncFile : ::fdatasync)(fd_);
    dirty_ = false;
}

QString RunJournal::FailureNotice() {
    if (failed_.isEmpty() || failureNoticed_)
        return {};
    failureNoticed_ = true;
    return failed_;
}

void RunJournal::Remove() {
    // Removed while still held, so that nobody takes it in between.
    QFile::remove(path_);
    Close();
}

SetAsideOutcome RunJournal::SetAside() {
    const SetAsideOutcome outcome = RenameAside(path_);
    Close();
    return outcome;
}
