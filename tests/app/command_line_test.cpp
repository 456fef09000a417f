#include "core/config.h"

#include <gtest/gtest.h>

namespace {

CommandLine Parse(QStringList args) {
    args.prepend(QStringLiteral("directory-scraper"));
    return ParseCommandLine(args);
}

TEST(CommandLine, DefaultsPointAtTheBundledDemoSite) {
    const CommandLine c = Parse({});
    EXPECT_FALSE(c.exit);
    EXPECT_EQ(c.config.WebHost, QStringLiteral("localhost:8443"));
    EXPECT_EQ(c.config.ApiHost, QStringLiteral("localhost:8444"));
    EXPECT_TRUE(c.config.CaFile.isEmpty());
}

TEST(CommandLine, HostsAndCaFileAreTaken) {
    const CommandLine c = Parse({QStringLiteral("--web-host"), QStringLiteral("a.test:1"),
                                 QStringLiteral("--api-host=b.test"), QStringLiteral("--ca-file"),
                                 QStringLiteral("/x/ca.pem")});
    EXPECT_FALSE(c.exit);
    EXPECT_EQ(c.config.WebHost, QStringLiteral("a.test:1"));
    EXPECT_EQ(c.config.ApiHost, QStringLiteral("b.test"));
    EXPECT_EQ(c.config.CaFile, QStringLiteral("/x/ca.pem"));
}

TEST(CommandLine, QuietTurnsTheBatchStatusLineOff) {
    EXPECT_FALSE(Parse({QStringLiteral("--batch")}).config.Quiet);
    const CommandLine c = Parse({QStringLiteral("--batch"), QStringLiteral("--quiet")});
    EXPECT_FALSE(c.exit);
    EXPECT_TRUE(c.config.Quiet);
    EXPECT_TRUE(Parse({QStringLiteral("--help")}).output.contains(QStringLiteral("--quiet")));
}

TEST(CommandLine, BadInputExitsWithUsageCode) {
    for (const QStringList& args :
         {QStringList{QStringLiteral("--bogus")}, QStringList{QStringLiteral("--web-host")},
          QStringList{QStringLiteral("stray")}}) {
        const CommandLine c = Parse(args);
        EXPECT_TRUE(c.exit) << args.join(' ').toStdString();
        EXPECT_EQ(c.exitCode, kExitUsage);
        EXPECT_TRUE(c.error.contains(QStringLiteral("Usage: directory-scraper")));
        EXPECT_TRUE(c.output.isEmpty());
    }
}

TEST(CommandLine, HelpAndVersionExitCleanly) {
    const CommandLine help = Parse({QStringLiteral("--help")});
    EXPECT_TRUE(help.exit);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.contains(QStringLiteral("--web-host")));
    const CommandLine version = Parse({QStringLiteral("--version")});
    EXPECT_TRUE(version.exit);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.output.startsWith(QStringLiteral("directory-scraper ")));
}

} // namespace

TEST(CommandLine, XlsxAsksForTheWorkbook) {
    EXPECT_FALSE(Parse({}).config.Workbook);
    EXPECT_TRUE(Parse({QStringLiteral("--batch"), QStringLiteral("--xlsx")}).config.Workbook);
    EXPECT_TRUE(Parse({QStringLiteral("--help")}).output.contains(QStringLiteral("--xlsx")));
}
