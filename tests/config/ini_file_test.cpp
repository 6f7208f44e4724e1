#include "config/ini_file.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kSecao = QStringLiteral("Conex\u00e3o Postgres");

class IniFileTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir dir_;
};

TEST_F(IniFileTest, FindsTheAccentedSectionInEveryEncodingTheStoreWrites)
{
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    // "Conexão": 0xC3 0xA3 in UTF-8, 0xE3 in Windows-1252; 0x80 is the euro
    // sign in Windows-1252 and must not come out as a control character.
    const QByteArray utf16Body = QByteArray("\xFF\xFE", 2)
        + QByteArray(QStringEncoder(QStringEncoder::Utf16LE)
                         .encode(u"[Conex\u00e3o Postgres]\r\nServer Name=10.0.0.5\r\nPassword=p\u20ac\r\n"));
    const Case cases[] = {
        {"utf8-lf", "[Conex\xC3\xA3o Postgres]\nServer Name=10.0.0.5\nPassword=p\xE2\x82\xAC\n"},
        {"utf8-crlf", "[Conex\xC3\xA3o Postgres]\r\nServer Name=10.0.0.5\r\nPassword=p\xE2\x82\xAC\r\n"},
        {"utf8-bom", "\xEF\xBB\xBF[Conex\xC3\xA3o Postgres]\r\nServer Name=10.0.0.5\r\nPassword=p\xE2\x82\xAC\r\n"},
        {"cp1252-crlf", "[Conex\xE3o Postgres]\r\nServer Name=10.0.0.5\r\nPassword=p\x80\r\n"},
        {"cp1252-lf-no-final-newline", "[Conex\xE3o Postgres]\nServer Name=10.0.0.5\nPassword=p\x80"},
        {"utf8-other-case", "[CONEX\xC3\x83O POSTGRES]\nserver name=10.0.0.5\nPASSWORD=p\xE2\x82\xAC\n"},
        {"utf16le-bom", utf16Body},
    };
    for (const Case& c : cases) {
        const QString path = write(QString::fromLatin1(c.name) + ".ini", c.bytes);
        EXPECT_EQ(app::LeIni(path, kSecao, QStringLiteral("Server Name")), QStringLiteral("10.0.0.5"))
            << c.name;
        EXPECT_EQ(app::LeIni(path, kSecao, QStringLiteral("Password")), QStringLiteral("p\u20ac"))
            << c.name;
    }
}

TEST_F(IniFileTest, TakesValuesAsWrittenWithOnlyOuterBlanksTrimmed)
{
    const QString path = write("values.ini",
                               "; Password=commented out\r\n"
                               "Password=before any section\r\n"
                               "[Other]\r\n"
                               "Password=other section\r\n"
                               "[Conex\xC3\xA3o Postgres]\r\n"
                               "  ; Password=indented comment\r\n"
                               "  Password   =   my secret pass  \r\n"
                               "Quoted=\"abc\"\r\n"
                               "Single='x y'\r\n"
                               "Hash=ab#cd # not a comment\r\n"
                               "Semi=ab;cd\r\n"
                               "Commas=a,b,c\r\n"
                               "Path=C:\\Quibor\\Dados\\\r\n"
                               "Equals=a=b=c\r\n"
                               "Empty=\r\n"
                               "no equals sign here\r\n"
                               "Password=second occurrence\r\n"
                               "\tTabbed\t=\tvalue\t\r\n");
    struct Case {
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"Password", "my secret pass"},
        {"Quoted", "\"abc\""},
        {"Single", "'x y'"},
        {"Hash", "ab#cd # not a comment"},
        {"Semi", "ab;cd"},
        {"Commas", "a,b,c"},
        {"Path", "C:\\Quibor\\Dados\\"},
        {"Equals", "a=b=c"},
        {"Empty", ""},
        {"Tabbed", "value"},
        {"no equals sign here", ""},
        {"Missing", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::LeIni(path, kSecao, QString::fromLatin1(c.key)), QString::fromLatin1(c.expected))
            << c.key;
    }
    EXPECT_EQ(app::LeIni(path, QStringLiteral("Other"), QStringLiteral("Password")),
              QStringLiteral("other section"));
}

TEST_F(IniFileTest, ACarriageReturnAloneEndsALineToo)
{
    // Files saved with old Mac line ends, or with one stray CR, as a fuzzer
    // found: the CR once stayed inside the value, with the next line glued to
    // it ("10.0.0.5\rPorta=5432"), and the keys after it were never found.
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"cr-only", "[Conex\xC3\xA3o Postgres]\rServer Name=10.0.0.5\rPorta=5432\rPassword=Gdwd\r"},
        {"stray-cr", "[Conex\xC3\xA3o Postgres]\r\nServer Name=10.0.0.5\rPorta=5432\r\nPassword=Gdwd\r\n"},
        {"utf16-stray-cr", QByteArray("\xFF\xFE", 2)
                               + QByteArray(QStringEncoder(QStringEncoder::Utf16LE)
                                                .encode(u"[Conex\u00e3o Postgres]\r\nServer Name=10.0.0.5\r"
                                                        u"Porta=5432\r\nPassword=Gdwd"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = write(QString::fromLatin1(c.name) + ".ini", c.bytes);
        EXPECT_EQ(app::LeIni(path, kSecao, QStringLiteral("Server Name")), QStringLiteral("10.0.0.5"));
        EXPECT_EQ(app::LeIni(path, kSecao, QStringLiteral("Porta")), QStringLiteral("5432"));
        EXPECT_EQ(app::LeIni(path, kSecao, QStringLiteral("Password")), QStringLiteral("Gdwd"));
    }
}

TEST_F(IniFileTest, MissingFileOrSectionReadsEmpty)
{
    const QString path = write("other.ini", "[Conexao Postgres]\nServer Name=plain a\n");
    EXPECT_EQ(app::LeIni(dir_.filePath("absent.ini"), kSecao, QStringLiteral("Server Name")), QString());
    EXPECT_EQ(app::LeIni(path, kSecao, QStringLiteral("Server Name")), QString());
    EXPECT_EQ(app::LeIni(dir_.path(), kSecao, QStringLiteral("Server Name")), QString()) << "a folder";
    EXPECT_EQ(app::LeIni(write("empty.ini", ""), kSecao, QStringLiteral("Server Name")), QString());
}

TEST_F(IniFileTest, ReadsTheFileAnewOnEveryCallAndNeverWritesIt)
{
    const QByteArray first = "[Conex\xC3\xA3o Postgres]\nPorta=5432\n";
    const QString path = write("Quibor.ini", first);
    EXPECT_EQ(app::LeIni(path, kSecao, QStringLiteral("Porta")), QStringLiteral("5432"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), first);
    }
    write("Quibor.ini", "[Conex\xC3\xA3o Postgres]\nPorta=5433\n");
    EXPECT_EQ(app::LeIni(path, kSecao, QStringLiteral("Porta")), QStringLiteral("5433"));
}

TEST(Decodifica, LowersEveryCodeUnitKeepingOrder)
{
    struct Case {
        QString stored;
        int shift;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("Gdwd"), 3, QStringLiteral("Data")},
        {QStringLiteral("v|qf"), 3, QStringLiteral("sync")},
        {QStringLiteral("#Sdvv"), 3, QStringLiteral(" Pass")},
        {QStringLiteral("\u00e6"), 3, QStringLiteral("\u00e3")},
        {QString(), 3, QString()},
        {QStringLiteral("abc"), 0, QStringLiteral("abc")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(app::Decodifica(c.stored, c.shift), c.expected) << c.stored.toStdString();
}

} // namespace
