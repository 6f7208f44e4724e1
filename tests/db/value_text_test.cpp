#include "db/value_text.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QTimeZone>
#include <cmath>
#include <cstring>
#include <random>

namespace {

// Same value and same sign, NaN included.
bool sameDouble(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ValueTextTest, DecimalsReadExactlyAsTheGeneralConversion)
{
    std::mt19937_64 random(20240305);
    QStringList texts = {"0", "-0", "0.0", "-0.00", "10.00", "50", "0.1", "0.3", "2.675", "1.005",
                         "999999999999999", "0.000000000000001", "123456789.012345", "-98765.4321",
                         "007.50", "9007199254740993", "1234567890123456", "0.1234567890123456"};
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 17);
        QString text;
        for (int d = 0; d < digits; ++d)
            text += QChar(u'0' + static_cast<int>(random() % 10));
        const int point = static_cast<int>(random() % (digits + 1));
        if (point > 0 && point < digits)
            text.insert(point, u'.');
        if (random() % 3 == 0)
            text.prepend(u'-');
        texts << text;
    }
    for (const QString& text : texts) {
        bool ok = false;
        const double expected = QLocale::c().toDouble(text, &ok);
        ASSERT_TRUE(ok) << qPrintable(text);
        const std::optional<double> read = db::parseDouble(text);
        ASSERT_TRUE(read.has_value()) << qPrintable(text);
        EXPECT_TRUE(sameDouble(*read, expected)) << qPrintable(text);
    }
}

TEST(ValueTextTest, OtherNumberFormsStillReadOrFailAsBefore)
{
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {" 12.5 ", 12.5}, {"+3", 3.0}, {"1e3", 1000.0}, {"1.", 1.0}, {".5", 0.5}, {"-Infinity", -HUGE_VAL},
        {"1,5", std::nullopt}, {"1.2.3", std::nullopt}, {"-", std::nullopt}, {"", std::nullopt},
        {"12a", std::nullopt}, {"--1", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<double> read = db::parseDouble(QString::fromLatin1(c.text));
        ASSERT_EQ(read.has_value(), c.value.has_value()) << c.text;
        if (c.value) {
            EXPECT_TRUE(sameDouble(*read, *c.value)) << c.text;
        }
    }
    EXPECT_TRUE(std::isnan(*db::parseDouble("NaN")));
}

TEST(ValueTextTest, WholeNumbersReadAsBeforeAndRejectTheRest)
{
    const struct {
        const char* text;
        std::optional<qint64> value;
    } cases[] = {
        {"0", 0}, {"-0", 0}, {"42", 42}, {"-42", -42}, {"0007", 7}, {"999999999999999999", 999999999999999999},
        {"9223372036854775807", Q_INT64_C(9223372036854775807)},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {"9223372036854775808", std::nullopt}, {" 12 ", 12}, {"+5", 5}, {"-", std::nullopt},
        {"", std::nullopt}, {"1.0", std::nullopt}, {"12x", std::nullopt}, {"1 2", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(db::parseInteger(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(ValueTextTest, ServerDatesAndTimestampsReadToTheWallClock)
{
    const struct {
        const char* text;
        std::optional<QDateTime> value;
    } cases[] = {
        {"2024-03-05", QDateTime(QDate(2024, 3, 5), QTime(0, 0))},
        {"2024-03-05 10:15:07", QDateTime(QDate(2024, 3, 5), QTime(10, 15, 7))},
        {"0001-01-01 00:00:00", QDateTime(QDate(1, 1, 1), QTime(0, 0))},
        {"2024-02-29", QDateTime(QDate(2024, 2, 29), QTime(0, 0))},
        // Forms the quick reading leaves to the general one.
        {"2024-03-05 24:00:00", QDateTime(QDate(2024, 3, 6), QTime(0, 0))},
        {"2024-03-05 10:15:07.25", QDateTime(QDate(2024, 3, 5), QTime(10, 15, 7, 250))},
        {"2024-03-05 10:15:07-03", QDateTime(QDate(2024, 3, 5), QTime(10, 15, 7))},
        {"2024-03-05T10:15:07", QDateTime(QDate(2024, 3, 5), QTime(10, 15, 7))},
        {" 2024-03-05 ", QDateTime(QDate(2024, 3, 5), QTime(0, 0))},
        {"10:15:07", QDateTime(QDate(1899, 12, 30), QTime(10, 15, 7))},
        {"2023-02-29", std::nullopt},
        {"2024-13-01", std::nullopt},
        {"2024-03-05 25:00:00", std::nullopt},
        {"2024-03-05 10:60:00", std::nullopt},
        {"2024/03/05", std::nullopt},
        {"2024-03-05 10:15:0x", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<QDateTime> read = db::parseDateTime(QString::fromLatin1(c.text));
        ASSERT_EQ(read.has_value(), c.value.has_value()) << c.text;
        if (c.value) {
            EXPECT_EQ(*read, *c.value) << c.text;
            EXPECT_EQ(read->timeSpec(), Qt::LocalTime) << c.text;
        }
    }
}

TEST(ValueTextTest, DateTimeParametersAreTheFormattedWallClock)
{
    const QDateTime cases[] = {
        QDateTime(QDate(2024, 3, 5), QTime(10, 15, 7, 9)),
        QDateTime(QDate(1, 1, 1), QTime(0, 0)),
        QDateTime(QDate(999, 12, 31), QTime(23, 59, 59, 999)),
        QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999)),
        QDateTime(QDate(1899, 12, 30), QTime(0, 0)),
        QDateTime(QDate(2024, 3, 5), QTime(1, 2, 3), Qt::UTC),
        QDateTime(QDate(2024, 3, 5), QTime(1, 2, 3), Qt::OffsetFromUTC, -3 * 3600),
        QDateTime(QDate(10000, 1, 1), QTime(0, 0)),
        QDateTime(QDate(-5, 6, 7), QTime(8, 9, 10)),
    };
    for (const QDateTime& v : cases) {
        const std::optional<QByteArray> text = db::parameterText(v, false);
        ASSERT_TRUE(text.has_value()) << qPrintable(v.toString());
        EXPECT_EQ(QString::fromLatin1(*text), db::formatDateTime(v)) << qPrintable(v.toString());
    }
    EXPECT_EQ(db::parameterText(QDateTime(QDate(2024, 3, 5), QTime(10, 15, 7, 9)), false),
              QByteArray("2024-03-05 10:15:07.009"));
    EXPECT_FALSE(db::parameterText(QDateTime(), false).has_value());
}

} // namespace
