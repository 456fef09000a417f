#include "run/run_files.h"

#include "core/platform.h"

#include <QDir>
#include <QFileInfo>

QString ResultFileName(std::uint32_t tick) {
    return TickFileName("data%d.csv", tick);
}

QString LogFileName(std::uint32_t tick) {
    return TickFileName("log-%d.txt", tick);
}

QString JournalFileName(std::uint32_t tick) {
    return TickFileName("run-%d.journal", tick);
}

std::uint32_t FreeRunTick(const QString& folder, std::uint32_t from) {
    const QDir dir(folder);
    const auto taken = [&dir](std::uint32_t tick) {
        // Anything of that name counts, a folder or a dangling link as well.
        for (const QString& name : {ResultFileName(tick), LogFileName(tick), JournalFileName(tick)})
            if (QFileInfo(dir.filePath(name)).exists() || QFileInfo(dir.filePath(name)).isSymLink())
                return true;
        return false;
    };
    for (std::uint32_t n = 0; n < 100000; ++n) {
        if (!taken(from + n))
            return from + n;
    }
    return from;
}
