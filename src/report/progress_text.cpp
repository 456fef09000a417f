#include "report/progress_text.h"

#include <algorithm>
#include <cmath>

ProgressValues ClampProgress(int position, int maximum) {
    ProgressValues values;
    values.maximum = std::max(maximum, 0);
    values.position = std::clamp(position, 0, values.maximum);
    return values;
}

int ProgressPercent(int position, int maximum) {
    const ProgressValues v = ClampProgress(position, maximum);
    if (v.maximum == 0)
        return 0;
    // std::nearbyint rounds in the default mode, to nearest with ties to even.
    const double percent = static_cast<double>(v.position) / v.maximum * 100.0;
    return static_cast<int>(std::nearbyint(percent));
}

QString ProgressHint(int position, int maximum) {
    const ProgressValues v = ClampProgress(position, maximum);
    return QString::asprintf("%d%%: %d из %d, осталось %d", ProgressPercent(v.position, v.maximum),
                             v.position, v.maximum, v.maximum - v.position);
}

bool ProgressDue(std::uint32_t now, std::uint32_t last) {
    return static_cast<std::uint32_t>(now - last) > 1000u;
}

QString ErrorLine(const QString& message) {
    constexpr qsizetype kMax = 200;
    QString line = message.left(kMax);
    if (line.size() == kMax && line.back().isHighSurrogate())
        line.chop(1);
    return line;
}
