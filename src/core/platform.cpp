#include "core/platform.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMetaObject>
#include <QRegularExpression>
#include <QUrl>

#include <ctime>
#include <mutex>

namespace {
std::mutex gFolderMutex;
QString gFolderOverride;
} // namespace

QString ProgramFolder() {
    {
        std::lock_guard lock(gFolderMutex);
        if (!gFolderOverride.isEmpty())
            return gFolderOverride;
    }
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void SetProgramFolder(const QString& folder) {
    std::lock_guard lock(gFolderMutex);
    gFolderOverride = folder;
    if (!gFolderOverride.isEmpty() && !gFolderOverride.endsWith(QLatin1Char('/')))
        gFolderOverride += QLatin1Char('/');
}

std::uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

QString TickFileName(const char* pattern, std::uint32_t tick) {
    return QString::asprintf(pattern, static_cast<int>(static_cast<std::int32_t>(tick)));
}

QString Timestamp(const QDateTime& when, const QLocale& locale) {
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() == QTime(0, 0, 0))
        return date;
    // The long time format of many locales carries the time zone ("t");
    // the log shows local time only.
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    format.remove(zone);
    return date + QLatin1Char(' ') + locale.toString(when.time(), format.trimmed());
}

QString Timestamp() { return Timestamp(QDateTime::currentDateTime(), QLocale::system()); }

QString DecimalSeparator() { return QLocale::system().decimalPoint(); }

void OpenWithDesktop(const QString& path) {
    // The desktop services live on the window thread; queue the request there
    // and return at once.
    QObject* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QMetaObject::invokeMethod(
        app, [path] { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); },
        Qt::QueuedConnection);
}
