// ExtractBetween, ReplaceAll, QuoteSafe and TrimControl. The input is
// "start \0 second \0 end \0 text": the first three zero bytes split off the
// markers (missing ones are empty), the rest is the text, zero bytes included.
#include "fuzz_support.h"

#include "text/extract.h"

#include <cstring>

namespace {

// The next piece of the input up to a zero byte (consumed) or its end.
QString TakePiece(const std::uint8_t*& data, std::size_t& size) {
    const void* zero = std::memchr(data, 0, size);
    const std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - data)
                        : size;
    const QString piece = BodyText(data, length);
    const std::size_t used = zero != nullptr ? length + 1 : length;
    data += used;
    size -= used;
    return piece;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString start = TakePiece(data, size);
    const QString second = TakePiece(data, size);
    const QString end = TakePiece(data, size);
    const QString text = BodyText(data, size);

    const QString value = ExtractBetween(text, start, second, end);
    if (!value.isEmpty()) {
        // A value is always a piece of the text that lies after every marker
        // and holds no end marker.
        FUZZ_CHECK(text.contains(value));
        FUZZ_CHECK(start.isEmpty() || text.contains(start));
        FUZZ_CHECK(second.isEmpty() || text.contains(second));
        FUZZ_CHECK(end.isEmpty() || !value.contains(end));
    }
    if (start.isEmpty() && second.isEmpty() && end.isEmpty())
        FUZZ_CHECK(value == text);
    // Every marker given; the value may start right at the text's end.
    (void)ExtractBetween(text, start, {}, end);
    (void)ExtractBetween(text, {}, second, end);

    const QString replaced = ReplaceAll(text, start, second);
    FUZZ_CHECK(ReplaceAll(text, start, start) == text);
    if (!start.isEmpty() && !text.contains(start))
        FUZZ_CHECK(replaced == text);

    const QString safe = QuoteSafe(text);
    FUZZ_CHECK(safe.size() == text.size());
    FUZZ_CHECK(!safe.contains(QLatin1Char('"')));

    const QStringView trimmed = TrimControl(text);
    FUZZ_CHECK(trimmed.isEmpty() ||
               (trimmed.front().unicode() > 32 && trimmed.back().unicode() > 32));
    FUZZ_CHECK(text.contains(trimmed));
    return 0;
}
