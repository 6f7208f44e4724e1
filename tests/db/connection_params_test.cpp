#include "db/connection_params.h"

#include <gtest/gtest.h>

namespace {

db::ConnectionParams paramsOf(const QStringList& lines)
{
    db::ConnectionParams p;
    for (const QString& line : lines)
        p.add(line);
    return p;
}

TEST(ConnectionParamsTest, KeepsLinesInOrderAndReadsTrimmedValuesByNameWithoutCase)
{
    const QStringList lines = {
        "Database= shop", "User_Name=\tsync \r", "Password=a=b", "Server= 10.0.0.1",
        "Port= ", "broken line", "MonitorBy=Remote", "database=second",
    };
    const db::ConnectionParams p = paramsOf(lines);
    EXPECT_EQ(p.lines(), lines);

    struct Case {
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"Database", "shop"},      // blank after "=" is not part of the name
        {"DATABASE", "shop"},      // names without case; the first line wins
        {"user_name", "sync"},     // tab, blank and carriage return trimmed
        {"Password", "a=b"},       // only the first "=" separates
        {"Port", ""},              // present but blank
        {"Pooled", ""},            // absent
        {"broken line", ""},       // a line without "=" names nothing
    };
    for (const Case& c : cases)
        EXPECT_EQ(p.value(c.name), QString(c.expected)) << c.name;

    db::ConnectionParams cleared = p;
    cleared.clear();
    EXPECT_TRUE(cleared.lines().isEmpty());
    EXPECT_EQ(cleared.value("Database"), "");
}

TEST(ConnectionParamsTest, MapsLinesToTheConnectionString)
{
    struct Case {
        const char* what;
        QStringList lines;
        const char* conninfo;
    };
    const Case cases[] = {
        {"server lines as the INI builds them",
         {"Database= loja", "User_Name= sync", "Password= Data", "Server= 192.168.0.10", "Port= 5433",
          "MonitorBy=Remote", "DriverID=PG"},
         "hostaddr=192.168.0.10 port=5433 dbname=loja user=sync password=Data"},
        {"terminal lines, no blank after Password=",
         {"Database= pdv", "User_Name= postgres", "Password=s3nha", "Server= caixa01", "Port= 5432",
          "DriverID=PG", "MonitorBy=Remote"},
         "host=caixa01 port=5432 dbname=pdv user=postgres password=s3nha"},
        {"names without case, keys in a fixed order", {"PASSWORD=p", "server=srv", "DATABASE=d"},
         "host=srv dbname=d password=p"},
        {"no Port line: the library's default port", {"Server=srv", "Database=d"}, "host=srv dbname=d"},
        {"leading zeros of an address dropped", {"Server=192.168.000.010"}, "hostaddr=192.168.0.10"},
        {"a part of 256 is no address", {"Server=256.1.1.1"}, "host=256.1.1.1"},
        {"three parts are no address", {"Server=10.0.1"}, "host=10.0.1"},
        {"five parts are no address", {"Server=1.2.3.4.5"}, "host=1.2.3.4.5"},
        {"letters are no address", {"Server=1.2.3.a"}, "host=1.2.3.a"},
        {"blank inside: quoted", {"Password=a b"}, "password='a b'"},
        {"quote escaped", {"Password=it's"}, "password=it\\'s"},
        {"backslash escaped", {"Password=c:\\dir"}, "password=c:\\\\dir"},
        {"all together", {"Password=a 'b' \\c #d"}, "password='a \\'b\\' \\\\c #d'"},
        {"tab inside: quoted", {"Password=a\tb"}, "password='a\tb'"},
        {"empty value quoted so it cannot take the next keyword", {"Password=", "User_Name=u"},
         "user=u password=''"},
        {"built-in lines without meaning here are left out", {"MonitorBy=Custom", "Pooled=True", "DriverID=PG"},
         ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(paramsOf(c.lines).toConninfo(), QString(c.conninfo)) << c.what;
}

} // namespace
