#include "ui/startup_checks.h"

#include <QStringList>

#include <curl/curl.h>

StartupProblem CheckStartup(const QString& programFolder, bool tlsAvailable) {
    if (programFolder.contains(QStringLiteral("Rar$"), Qt::CaseSensitive))
        return StartupProblem::InsideArchive;
    if (programFolder.contains(QStringLiteral("/Temp/"), Qt::CaseInsensitive))
        return StartupProblem::TempFolder;
    if (!tlsAvailable)
        return StartupProblem::MissingFiles;
    return StartupProblem::None;
}

QString StartupMessage(StartupProblem problem) {
    const QString extractHint = QStringLiteral(
        "Для корректной работы программы извлеките файлы программы из архива в отдельную папку. "
        "Это можно сделать, кликнув правой кнопкой мыши на архиве и выбрав пункт меню "
        "\"Извлечь все\"");
    QStringList lines;
    switch (problem) {
    case StartupProblem::None:
        return {};
    case StartupProblem::InsideArchive:
        lines << QStringLiteral("Вы запустили программу изнутри архива!") << extractHint;
        break;
    case StartupProblem::TempFolder:
        lines << QStringLiteral("Программа запущена из временной папки!")
              << QStringLiteral("Скорее всего, Вы запустили программу изнутри архива.")
              << extractHint;
        break;
    case StartupProblem::MissingFiles:
        lines << QStringLiteral("Программа не обнаружила необходимые для работы файлы!")
              << QStringLiteral("Вероятно, Вы запустили программу изнутри архива!") << extractHint;
        break;
    }
    return lines.join(QStringLiteral("\r\n"));
}

bool TlsAvailable() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && (info->features & CURL_VERSION_SSL) != 0 &&
           info->ssl_version != nullptr;
}
