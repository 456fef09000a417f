#include "core/platform.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMetaObject>
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

namespace {

bool IsZoneSeparator(QChar c) {
    return c.isSpace() || c == QLatin1Char(',');
}

// A time format without its time-zone field ("t", "tt", ...): the field goes
// together with the brackets around it and the blanks or comma that join it
// to the time ("HH:mm:ss, t", "APh:mm:ss [t]", "t HH:mm:ss"). Quoted literal
// text is copied untouched.
QString WithoutTimeZone(const QString& format) {
    QString out;
    qsizetype i = 0;
    const qsizetype n = format.size();
    while (i < n) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            qsizetype j = i + 1;
            while (j < n) {
                if (format[j] == QLatin1Char('\'')) {
                    if (j + 1 < n && format[j + 1] == QLatin1Char('\'')) {
                        j += 2; // '' stands for one quote
                        continue;
                    }
                    break;
                }
                ++j;
            }
            const qsizetype end = j < n ? j + 1 : n;
            out += QStringView(format).mid(i, end - i);
            i = end;
            continue;
        }
        if (c != QLatin1Char('t')) {
            out += c;
            ++i;
            continue;
        }
        while (!out.isEmpty() && IsZoneSeparator(out.back()))
            out.chop(1);
        if (!out.isEmpty() && (out.back() == QLatin1Char('(') || out.back() == QLatin1Char('[')))
            out.chop(1);
        while (!out.isEmpty() && IsZoneSeparator(out.back()))
            out.chop(1);
        while (i < n && format[i] == QLatin1Char('t'))
            ++i;
        if (i < n && (format[i] == QLatin1Char(')') || format[i] == QLatin1Char(']')))
            ++i;
        if (out.isEmpty()) {
            while (i < n && IsZoneSeparator(format[i]))
                ++i;
        }
    }
    return out.trimmed();
}

} // namespace

QString Timestamp(const QDateTime& when, const QLocale& locale) {
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime time = when.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return date;
    // The long time format of many locales carries the time zone; the log
    // shows local time only.
    const QString format = WithoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    return date + QLatin1Char(' ') + locale.toString(when.time(), format);
}

QString Timestamp() {
    return Timestamp(QDateTime::currentDateTime(), QLocale::system());
}

QString DecimalSeparator() {
    return QLocale::system().decimalPoint();
}

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
