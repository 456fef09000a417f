#pragma once
// Cutting one card's values out of its page.

#include "text/card_record.h"

#include <QString>
#include <QStringView>

// The card of `page`: every value but the categories comes from the page's
// JSON-LD block (after "@type": "LocalBusiness" up to the next "</script>");
// a page without the block gives those values empty. `url` is taken as it is;
// a rating's "." becomes `decimalSeparator`. Pure; never fails.
CardRecord ExtractCard(QStringView page, const QString& url, const QString& decimalSeparator);

// The names of the block's offers joined by "; ", empty names left out.
QString ExtractServices(QStringView block);
