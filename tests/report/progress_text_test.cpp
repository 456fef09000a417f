// The progress bar's arithmetic and hint, and the error lines.
#include "report/progress_text.h"

#include "support/print_qstring.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Progress, PercentRoundsHalfToEvenOnLimitedValues) {
    EXPECT_EQ(ProgressPercent(1, 8), 12);
    EXPECT_EQ(ProgressPercent(3, 8), 38);
    EXPECT_EQ(ProgressPercent(5, 8), 62);
    EXPECT_EQ(ProgressPercent(2, 3), 67);
    EXPECT_EQ(ProgressPercent(1, 3), 33);
    EXPECT_EQ(ProgressPercent(7, 5), 100); // position above the maximum
    EXPECT_EQ(ProgressPercent(-4, 5), 0);
    EXPECT_EQ(ProgressPercent(0, 0), 0);
    EXPECT_EQ(ProgressPercent(3, 0), 0);
    EXPECT_EQ(ProgressPercent(3, -2), 0);
    EXPECT_EQ(ProgressPercent(2147483647, 2147483647), 100);
}

TEST(Progress, HintAndClamping) {
    EXPECT_EQ(ProgressHint(2, 5), u"40%: 2 из 5, осталось 3"_s);
    EXPECT_EQ(ProgressHint(9, 5), u"100%: 5 из 5, осталось 0"_s);
    EXPECT_EQ(ProgressHint(0, 0), u"0%: 0 из 0, осталось 0"_s);
    EXPECT_EQ(ProgressHint(4, -1), u"0%: 0 из 0, осталось 0"_s);
    const ProgressValues v = ClampProgress(-3, 10);
    EXPECT_EQ(v.position, 0);
    EXPECT_EQ(v.maximum, 10);
}

TEST(Progress, ThrottleCountsInUnsigned32Bit) {
    EXPECT_TRUE(ProgressDue(5000, 0)); // the run starts from 0
    EXPECT_FALSE(ProgressDue(1500, 1000));
    EXPECT_FALSE(ProgressDue(2000, 1000)); // exactly 1000 ms is not enough
    EXPECT_TRUE(ProgressDue(2001, 1000));
    EXPECT_FALSE(ProgressDue(300, 4294967000u)); // 596 ms across the wrap
    EXPECT_TRUE(ProgressDue(800, 4294967000u));  // 1096 ms across the wrap
}

TEST(Progress, ErrorLines) {
    EXPECT_EQ(ErrorLine(u"Read timed out"_s), u"Read timed out"_s);
    EXPECT_EQ(ErrorLine(QString()), QString());

    const QString longMessage = QString(150, u'а') + QString(150, u'b');
    EXPECT_EQ(ErrorLine(longMessage), longMessage.left(200));
    // A character outside the basic plane straddling the cut is left out whole.
    const QString straddling = QString(199, u'x') + u"😀"_s + u"tail"_s;
    EXPECT_EQ(ErrorLine(straddling), QString(199, u'x'));
}
