// HtmlDecode and CleanHtmlText on any response body.
#include "fuzz_support.h"

#include "text/html_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = BodyText(data, size);

    const QString decoded = HtmlDecode(text);
    qsizetype beforeNul = text.indexOf(QChar(0));
    if (beforeNul < 0)
        beforeNul = text.size();
    FUZZ_CHECK(decoded.size() <= beforeNul);

    const QString clean = CleanHtmlText(text);
    FUZZ_CHECK(!clean.contains(QLatin1Char(';')));
    FUZZ_CHECK(!clean.contains(QLatin1Char('<')));
    FUZZ_CHECK(!clean.contains(QLatin1Char('\r')));
    FUZZ_CHECK(!clean.contains(QLatin1Char('\n')));
    return 0;
}
