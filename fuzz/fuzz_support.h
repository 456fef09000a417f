#pragma once
// Shared pieces of the fuzz targets: the input as a response body, and a
// property check that ends the run the way a sanitizer report does.

#include "text/html_text.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The input decoded as the run decodes every response body.
inline QString BodyText(const std::uint8_t* data, std::size_t size) {
    const QByteArray body =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    return StreamToText(body);
}

// A broken property is a finding: report it and abort so libFuzzer keeps the
// input as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
