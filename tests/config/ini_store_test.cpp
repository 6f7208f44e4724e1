// Writing the connection into Quibor.ini: what the reader then reads back,
// which characters cannot be stored, and what else of the file is kept.

#include "config/ini_file.h"
#include "config/ini_keys.h"
#include "config/ini_store.h"
#include "config/server_params.h"

#include <gtest/gtest.h>

namespace {

using app::IniConnection;

IniConnection connection(const QString& user, const QString& password)
{
    return {"10.0.0.5", "5433", "loja", user, password};
}

QString read(const QByteArray& bytes, const QString& key)
{
    return app::iniValue(bytes, app::iniSecaoConexao(), key);
}

// Every character that is said to be storable comes back as it went in,
// through the program's own reader and decoding; every other one is named.
TEST(IniStore, EveryStorableCharacterComesBackAndTheOthersAreNamed)
{
    int storable = 0;
    for (char16_t u = 1; u < 0x2200; ++u) {
        const QString one(QChar{u});
        const QString text = "a" + one + "b";
        const QStringList bad = app::unstorableCharacters(text, app::kIniShift);
        if (!bad.isEmpty()) {
            EXPECT_EQ(bad.size(), 1) << int(u);
            continue;
        }
        ++storable;
        const std::optional<QByteArray> bytes = app::iniWithConnection({}, connection(text, text));
        ASSERT_TRUE(bytes.has_value()) << int(u);
        const QString back = app::Decodifica(read(*bytes, app::iniPassword()), app::kIniShift);
        EXPECT_EQ(back, text) << "U+" << std::hex << int(u);
        EXPECT_EQ(app::Decodifica(read(*bytes, app::iniUserName()), app::kIniShift), text) << int(u);
    }
    // Printable ASCII but '}' and DEL, Latin-1 above the controls, and the
    // few whose raised code has a byte in the code page.
    EXPECT_GT(storable, 180);

    const struct {
        QString text;
        QStringList named;
    } cases[] = {
        {"Loja \"Centro\" #1", {}},
        {" leading and trailing ", {}},
        {"a}b", {"'}' (U+007D)"}},
        {"tab\there", {"U+0009"}},
        {"line\nend", {"U+000A"}},
        {"\u0142\u0142", {"'\u0142' (U+0142)"}},
        {QString::fromUcs4(U"x\U0001F600"), {QString::fromUcs4(U"'\U0001F600' (U+1F600)")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::unstorableCharacters(c.text, app::kIniShift), c.named) << c.text.toStdString();
    // Unshifted values (host, database) have their own limits.
    EXPECT_EQ(app::unstorableCharacters("a}b"), QStringList{});
    EXPECT_EQ(app::unstorableCharacters("\u20ac"), QStringList{});
    EXPECT_EQ(app::unstorableCharacters("\u0142"), QStringList{"'\u0142' (U+0142)"});
}

TEST(IniStore, AFreshFileIsTheInstallersForm)
{
    const std::optional<QByteArray> bytes = app::iniWithConnection({}, connection("sync", "p w"));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, QByteArray("[Conex\xE3o Postgres]\r\n"
                                 "Server Name=10.0.0.5\r\n"
                                 "Porta=5433\r\n"
                                 "Base Name=loja\r\n"
                                 "User Name=v|qf\r\n"
                                 "Password=s#z\r\n"));
    // The lines the program builds from it.
    const db::ConnectionParams p = app::serverParamsFromIniContents(*bytes, {});
    EXPECT_EQ(p.lines(), QStringList({"Database= loja", "User_Name= sync", "Password= p w", "Server= 10.0.0.5",
                                      "Port= 5433", "MonitorBy=Remote", "DriverID=PG"}));
}

TEST(IniStore, RewritingKeepsEverythingButTheFiveValues)
{
    // Written by hand in UTF-8 with LF ends: other sections, comments, an
    // unknown key, a second copy of a key, a missing key, another case.
    const QByteArray previous = "; QuiborSync: connection\n"
                                "[Outra Coisa]\n"
                                "Password=not ours\n"
                                "\n"
                                "[CONEX\xC3\x83O POSTGRES]\n"
                                "server name = 192.168.0.1\n"
                                "; the installer's note\n"
                                "Timeout=30\n"
                                "Password=old\n"
                                "Password=older\n"
                                "User Name=\n"
                                "\n"
                                "[Depois]\n"
                                "Chave=valor \xC3\xA9\n";
    const std::optional<QByteArray> bytes = app::iniWithConnection(previous, connection("sync", "novo"));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, QByteArray("; QuiborSync: connection\r\n"
                                 "[Outra Coisa]\r\n"
                                 "Password=not ours\r\n"
                                 "\r\n"
                                 "[CONEX\xC3O POSTGRES]\r\n"
                                 "Server Name=10.0.0.5\r\n"
                                 "; the installer's note\r\n"
                                 "Timeout=30\r\n"
                                 "Password=qryr\r\n"
                                 "User Name=v|qf\r\n"
                                 "Porta=5433\r\n"
                                 "Base Name=loja\r\n"
                                 "\r\n"
                                 "[Depois]\r\n"
                                 "Chave=valor \xE9\r\n"));

    // Kept text the code page cannot hold: nothing to write.
    EXPECT_FALSE(app::iniWithConnection("[Outra]\nNome=\xC5\x82\n", connection("a", "b")).has_value());
}

TEST(IniStore, CurrentValuesAreReadBackWithoutThePassword)
{
    const std::optional<QByteArray> bytes = app::iniWithConnection({}, connection("sync", "segredo"));
    ASSERT_TRUE(bytes.has_value());
    const IniConnection current = app::iniConnectionOf(*bytes);
    EXPECT_EQ(current.host, "10.0.0.5");
    EXPECT_EQ(current.port, "5433");
    EXPECT_EQ(current.database, "loja");
    EXPECT_EQ(current.user, "sync");
    EXPECT_EQ(current.password, "");
}

} // namespace
