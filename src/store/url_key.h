#pragma once
// The key a card's URL is stored under: two URLs have the same key exactly
// when the run's duplicate test takes them for one card, that is when
// QString::compare(a, b, Qt::CaseInsensitive) is 0.

#include <QString>
#include <QStringView>

// Every code unit case-folded as that comparison folds it (a low surrogate
// after a high one together with it, as one code point).
QString UrlKey(QStringView url);
