#pragma once
// The fetch worker's client settings; the defaults are the program's. Tests
// shorten the time-outs, the waits between attempts and the body limit.

#include "core/config.h"
#include "net/retry_wait.h"

#include <QString>

struct FetchSettings {
    int connectTimeoutMs = 30000; // connection with its TLS handshake
    int readTimeoutMs = 30000;    // the longest wait for the next data
    int maxAttempts = 10;
    int maxRedirects = 14; // followed per request; the next redirect answer is final
    qint64 maxBodyBytes = 64LL * 1024 * 1024; // after inflation
    QString apiHost = Config().ApiHost;       // search requests go here
    QString caFile = Config().CaFile;         // extra trusted CAs (PEM); empty: system only
    RetryWaitSettings waits;                  // between attempts when the site is in trouble
};
