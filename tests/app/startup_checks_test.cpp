#include "ui/startup_checks.h"

#include <gtest/gtest.h>

namespace {

TEST(StartupChecks, ArchiveFolderIsTestedBeforeTheTempFolder) {
    EXPECT_EQ(CheckStartup(QStringLiteral("/home/u/.cache/Temp/Rar$EXa1.234/"), true),
              StartupProblem::InsideArchive);
    EXPECT_EQ(CheckStartup(QStringLiteral("/tmp/Rar$x/"), false), StartupProblem::InsideArchive);
    // Letter case counts for the archive marker.
    EXPECT_EQ(CheckStartup(QStringLiteral("/opt/rar$x/"), true), StartupProblem::None);
}

TEST(StartupChecks, TempMustBeAWholeFolderNameInAnyCase) {
    EXPECT_EQ(CheckStartup(QStringLiteral("/TEMP/"), true), StartupProblem::TempFolder);
    EXPECT_EQ(CheckStartup(QStringLiteral("/home/u/temp/tool/"), true), StartupProblem::TempFolder);
    EXPECT_EQ(CheckStartup(QStringLiteral("/home/u/Temporary/"), true), StartupProblem::None);
    EXPECT_EQ(CheckStartup(QStringLiteral("/home/u/mytemp/"), true), StartupProblem::None);
}

TEST(StartupChecks, MissingTlsIsTheLastCheck) {
    EXPECT_EQ(CheckStartup(QStringLiteral("/"), false), StartupProblem::MissingFiles);
    EXPECT_EQ(CheckStartup(QStringLiteral("/TEMP/"), false), StartupProblem::TempFolder);
    EXPECT_EQ(CheckStartup(QStringLiteral("/opt/tool/"), true), StartupProblem::None);
    EXPECT_TRUE(TlsAvailable()); // this build's libcurl speaks TLS
}

TEST(StartupChecks, MessagesEndWithTheSameExtractHint) {
    const QString hint = QStringLiteral(
        "Для корректной работы программы извлеките файлы программы из архива в отдельную папку. "
        "Это можно сделать, кликнув правой кнопкой мыши на архиве и выбрав пункт меню "
        "\"Извлечь все\"");
    EXPECT_EQ(StartupMessage(StartupProblem::InsideArchive),
              QStringLiteral("Вы запустили программу изнутри архива!\r\n") + hint);
    EXPECT_EQ(StartupMessage(StartupProblem::TempFolder),
              QStringLiteral("Программа запущена из временной папки!\r\n"
                             "Скорее всего, Вы запустили программу изнутри архива.\r\n") +
                  hint);
    EXPECT_EQ(StartupMessage(StartupProblem::MissingFiles),
              QStringLiteral("Программа не обнаружила необходимые для работы файлы!\r\n"
                             "Вероятно, Вы запустили программу изнутри архива!\r\n") +
                  hint);
    EXPECT_TRUE(StartupMessage(StartupProblem::None).isEmpty());
}

} // namespace
