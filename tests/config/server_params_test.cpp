#include "config/ini_keys.h"
#include "config/server_params.h"

#include "common/log_path.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ServerParamsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        common::setProgramFolder(dir_.path());
        defaults_.add(QStringLiteral("Database=builtin"));
        defaults_.add(QStringLiteral("User_Name=builtin_user"));
        defaults_.add(QStringLiteral("Password=builtin_pass"));
    }
    void TearDown() override { common::setProgramFolder(QString()); }

    void writeIni(const QByteArray& bytes)
    {
        QFile file(app::iniPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir dir_;
    db::ConnectionParams defaults_;
};

TEST_F(ServerParamsTest, BuildsTheSevenLinesWithDecodedCredentials)
{
    // "v|qf" and "Gdwd" are sync and Data raised by 3.
    writeIni("[Conex\xC3\xA3o Postgres]\r\n"
             "Server Name=192.168.0.10\r\n"
             "Porta=5433\r\n"
             "Base Name=loja\r\n"
             "User Name=v|qf\r\n"
             "Password=Gdwd\r\n");
    const QStringList expected = {
        QStringLiteral("Database= loja"),
        QStringLiteral("User_Name= sync"),
        QStringLiteral("Password= Data"),
        QStringLiteral("Server= 192.168.0.10"),
        QStringLiteral("Port= 5433"),
        QStringLiteral("MonitorBy=Remote"),
        QStringLiteral("DriverID=PG"),
    };
    EXPECT_EQ(app::serverParamsFromIni(app::iniPath(), defaults_).lines(), expected);
}

TEST_F(ServerParamsTest, KeepsTheDefaultsUnlessBothCredentialsArePresent)
{
    struct Case {
        const char* name;
        const char* ini;  // nullptr: no file at all
    };
    const Case cases[] = {
        {"no file", nullptr},
        {"user name empty", "[Conex\xC3\xA3o Postgres]\nBase Name=loja\nUser Name=\nPassword=Gdwd\n"},
        {"user name blank", "[Conex\xC3\xA3o Postgres]\nBase Name=loja\nUser Name=   \nPassword=Gdwd\n"},
        {"password missing", "[Conex\xC3\xA3o Postgres]\nBase Name=loja\nUser Name=v|qf\n"},
        {"other section", "[Outra]\nUser Name=v|qf\nPassword=Gdwd\n"},
    };
    for (const Case& c : cases) {
        QFile::remove(app::iniPath());
        if (c.ini)
            writeIni(c.ini);
        EXPECT_EQ(app::serverParamsFromIni(app::iniPath(), defaults_).lines(), defaults_.lines())
            << c.name;
    }
}

} // namespace
