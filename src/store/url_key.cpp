#include "store/url_key.h"

#include <QChar>

QString UrlKey(QStringView url) {
    QString key(url.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(key.data());
    char16_t last = 0;
    for (qsizetype i = 0; i < url.size(); ++i) {
        const char16_t unit = url[i].unicode();
        char16_t folded;
        if (unit < 0x80) {
            folded = unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
        } else if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last)) {
            folded = QChar::lowSurrogate(QChar::toCaseFolded(QChar::surrogateToUcs4(last, unit)));
        } else {
            folded = static_cast<char16_t>(QChar::toCaseFolded(char32_t{unit}));
        }
        last = unit;
        out[i] = folded;
    }
    return key;
}
