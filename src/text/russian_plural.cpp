#include "text/russian_plural.h"

const char16_t* CountForm(std::int64_t n, const CountForms& forms) {
    const std::int64_t last2 = (n < 0 ? -(n % 100) : n % 100);
    if (last2 >= 11 && last2 <= 14)
        return forms.many;
    switch (last2 % 10) {
    case 1:
        return forms.one;
    case 2:
    case 3:
    case 4:
        return forms.few;
    default:
        return forms.many;
    }
}

QString CountedText(double value, int decimals, const CountForms& forms) {
    QString number = QString::number(value, 'f', decimals);
    if (number.contains(QLatin1Char('.'))) {
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(QLatin1Char('.')))
            number.chop(1);
    }
    // The form follows the number as written: "25.0" is shown and read as 25.
    const bool whole = !number.contains(QLatin1Char('.'));
    const char16_t* form = whole ? CountForm(number.toLongLong(), forms) : forms.fraction;
    return number + QLatin1Char(' ') + QString::fromUtf16(form);
}
