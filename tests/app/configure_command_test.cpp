// `quiborsync --configure` against a real cluster: the file it writes is
// one the program starts from, and nothing is written when the connection
// or the input is wrong.

#include "support/program_fixture.h"

#include "app/command_line.h"
#include "app/configure_command.h"
#include "app/startup.h"
#include "config/version.h"

#include <QFileDevice>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <deque>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace progtest;

// The store's login, one per test process (tests run side by side): its
// password holds a blank, a quote and '#'.
const QString kRole = QString("qs_configure_%1").arg(getpid());
const QString kPassword = "Loja \"Centro\" #1";

// Answers from a script; records what was said.
class ScriptedConsole : public app::ConfigureConsole {
public:
    explicit ScriptedConsole(QStringList lines) : lines_(lines.begin(), lines.end()) {}
    std::optional<QString> readLine() override { return next(false); }
    std::optional<QString> readHiddenLine() override { return next(true); }
    void say(const QString& text) override { out += text; }
    void complain(const QString& line) override { err += line + '\n'; }

    QString out;
    QString err;
    QStringList hiddenReads; // the answers read without showing

private:
    std::optional<QString> next(bool hidden)
    {
        if (lines_.empty())
            return std::nullopt;
        QString line = lines_.front();
        lines_.pop_front();
        if (hidden)
            hiddenReads << line;
        return line;
    }
    std::deque<QString> lines_;
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class ConfigureCommand : public ::testing::Test {
protected:
    ConfigureCommand()
    {
        testsupport::execAdmin("DROP ROLE IF EXISTS " + kRole);
        testsupport::execAdmin("CREATE ROLE " + kRole + " LOGIN PASSWORD " + quoted(kPassword));
        store.db.exec("GRANT ALL ON ALL TABLES IN SCHEMA public TO " + kRole);
        store.db.exec("GRANT ALL ON ALL SEQUENCES IN SCHEMA public TO " + kRole);
    }
    ~ConfigureCommand() override
    {
        try {
            store.db.exec("DROP OWNED BY " + kRole);
            testsupport::execAdmin("DROP ROLE IF EXISTS " + kRole);
        } catch (const std::exception&) {
        }
    }

    QString ini() const { return folder.dir.filePath("Quibor.ini"); }
    QString port() const { return QString::number(testsupport::testPort()); }

    app::ConfigureOptions options() const
    {
        app::ConfigureOptions o;
        o.host = testsupport::testHost();
        o.port = port();
        o.database = store.db.name();
        o.user = kRole;
        o.passwordFromStdin = true;
        return o;
    }

    // The executable copied into the folder (the program folder is where it
    // lies), and an environment without a display, as on a bare console.
    QString placeProgram() const
    {
        const QString exe = folder.dir.filePath("quiborsync");
        EXPECT_TRUE(QFile::copy(QS_PROGRAM_PATH, exe));
        return exe;
    }
    static QProcessEnvironment consoleEnvironment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", "");
        return env;
    }

    // The program started from the folder's file stamps its version.
    void expectTheProgramStarts()
    {
        store.db.exec("UPDATE CONFIG SET VERSAO_SYNC = NULL");
        auto windows = app::createWindows();
        EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
        EXPECT_EQ(store.db.scalar("SELECT versao_sync FROM config"), app::versionStamp());
    }

    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    Store store;
};

TEST_F(ConfigureCommand, OptionFormWritesTheStoredFormTheProgramStartsFrom)
{
    ScriptedConsole console({kPassword});
    EXPECT_EQ(app::runConfigureCommand(options(), console), 0) << console.err.toStdString();
    EXPECT_EQ(console.err, "");
    EXPECT_TRUE(console.out.contains("Wrote " + ini())) << console.out.toStdString();

    const QByteArray bytes = fileBytes(ini());
    EXPECT_TRUE(bytes.startsWith("[Conex\xE3o Postgres]\r\n")) << bytes.toStdString();
    EXPECT_EQ(bytes.count("\r\n"), 6);
    EXPECT_EQ(bytes.count('\n'), 6) << "every line ends CR LF";
    EXPECT_TRUE(bytes.contains("\r\nUser Name=" + encoded(kRole).toLatin1() + "\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nPassword=" + encoded(kPassword).toLatin1() + "\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(ini()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_FALSE(QFile::exists(ini() + ".bak")) << "nothing to keep the first time";

    expectTheProgramStarts();
}

TEST_F(ConfigureCommand, InteractiveFormThroughStandardInputWritesAFileTheProgramStartsFrom)
{
    const QString exe = placeProgram();
    QProcess p;
    p.setProcessEnvironment(consoleEnvironment());
    p.start(exe, {"--configure"});
    ASSERT_TRUE(p.waitForStarted(30000));
    p.write(QString("%1\n%2\n%3\n%4\n%5\n")
                .arg(testsupport::testHost(), port(), store.db.name(), kRole, kPassword)
                .toUtf8());
    p.closeWriteChannel();
    ASSERT_TRUE(testsupport::waitFor([&] { return p.state() == QProcess::NotRunning; }, 60000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString() << out.toStdString();
    EXPECT_TRUE(out.startsWith("Server host: Port [5432]: Database: User name: Password: \n")) << out.toStdString();
    expectTheProgramStarts();

    // Run again, the current values are offered, the password is not: plain
    // Enter keeps them, the password is asked for without showing.
    ScriptedConsole console({"", "", "", "", kPassword});
    EXPECT_EQ(app::runConfigureCommand({}, console), 0) << console.err.toStdString();
    EXPECT_TRUE(console.out.startsWith(QString("Server host [%1]: Port [%2]: Database [%3]: User name [%4]: Password: ")
                                           .arg(testsupport::testHost(), port(), store.db.name(), kRole)))
        << console.out.toStdString();
    EXPECT_EQ(console.hiddenReads, QStringList{kPassword});
    EXPECT_TRUE(console.out.contains("(the previous file is kept as Quibor.ini.bak)")) << console.out.toStdString();
    expectTheProgramStarts();
}

TEST_F(ConfigureCommand, AConnectionThatFailsLeavesTheOldFileByteForByte)
{
    folder.writeRawIni("; the installer's file\r\n[Conex\xE3o Postgres]\r\nServer Name=old-host\r\nPorta=1\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(ini()).constData(), 0640), 0);
    const QByteArray before = fileBytes(ini());

    const QString noRights = QString("qs_configure_ro_%1").arg(getpid());
    testsupport::execAdmin("DROP ROLE IF EXISTS " + noRights);
    testsupport::execAdmin("CREATE ROLE " + noRights + " LOGIN PASSWORD 'x'");
    struct Case {
        const char* what;
        std::function<void(app::ConfigureOptions&)> change;
        QString password;
        QString why;
    };
    const Case cases[] = {
        {"wrong password", [](auto&) {}, "not the password", "password refused for user \"" + kRole + "\""},
        {"wrong port", [](auto& o) { o.port = QString::number(testsupport::refusedPort()); }, kPassword,
         "connection refused at "},
        {"database missing", [](auto& o) { o.database = "qs_no_such_store"; }, kPassword,
         "database \"qs_no_such_store\" does not exist"},
        {"host not found", [](auto& o) { o.host = "no-such-host.invalid"; }, kPassword,
         "host \"no-such-host.invalid\" not found"},
        {"no right to read LICENCA_IF", [&](auto& o) { o.user = noRights; }, "x",
         "user \"" + noRights + "\" has no right to read LICENCA_IF"},
        {"not the store's database", [](auto& o) { o.database = "postgres"; }, kPassword, "has no table LICENCA_IF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app::ConfigureOptions o = options();
        c.change(o);
        ScriptedConsole console({c.password});
        EXPECT_EQ(app::runConfigureCommand(o, console), 1);
        EXPECT_EQ(console.err.count('\n'), 1) << console.err.toStdString();
        EXPECT_TRUE(console.err.contains(c.why)) << console.err.toStdString();
        EXPECT_EQ(fileBytes(ini()), before);
        EXPECT_FALSE(QFile::exists(ini() + ".bak"));
    }
    EXPECT_EQ(QDir(folder.dir.path()).entryList(QDir::Files), QStringList{"Quibor.ini"}) << "no file left behind";
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(ini()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    testsupport::execAdmin("DROP ROLE IF EXISTS " + noRights);
}

TEST_F(ConfigureCommand, BadInputEndsWithOneLineBeforeAnyConnect)
{
    folder.writeRawIni("[Conex\xE3o Postgres]\r\nServer Name=old-host\r\n");
    const QByteArray before = fileBytes(ini());
    struct Case {
        const char* what;
        std::function<void(app::ConfigureOptions&)> change;
        QStringList input;
        QString why;
    };
    const auto none = [](app::ConfigureOptions&) {};
    const Case cases[] = {
        {"port 0", [](auto& o) { o.port = "0"; }, {kPassword}, "port \"0\" is not a number from 1 to 65535"},
        {"port above 65535", [](auto& o) { o.port = "65536"; }, {kPassword}, "port \"65536\" is not a number"},
        {"port not a number", [](auto& o) { o.port = "54x2"; }, {kPassword}, "port \"54x2\" is not a number"},
        {"empty port", [](auto& o) { o.port = ""; }, {kPassword}, "port \"\" is not a number"},
        {"empty host", [](auto& o) { o.host = " "; }, {kPassword}, "the server host may not be empty"},
        {"empty database", [](auto& o) { o.database = ""; }, {kPassword}, "the database may not be empty"},
        {"empty user", [](auto& o) { o.user = ""; }, {kPassword}, "the user name may not be empty"},
        {"empty password", none, {""}, "the password may not be empty"},
        {"password not storable", none, {"abc}def\tx"}, "cannot be stored shifted by 3: '}' (U+007D), U+0009"},
        {"no password line", none, {}, "end of input at the prompt for the password"},
        {"password not from standard input", [](auto& o) { o.passwordFromStdin = false; }, {kPassword},
         "add --password-stdin"},
        {"end of input at a prompt", [](auto& o) { o = {}; }, {"h", "5432"}, "end of input at the prompt for the database"},
        {"interactive bad port", [](auto& o) { o = {}; }, {"h", "porta"}, "port \"porta\" is not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app::ConfigureOptions o = options();
        c.change(o);
        ScriptedConsole console(c.input);
        EXPECT_EQ(app::runConfigureCommand(o, console), 1);
        EXPECT_EQ(console.err.count('\n'), 1) << console.err.toStdString();
        EXPECT_TRUE(console.err.contains(c.why)) << console.err.toStdString();
        EXPECT_FALSE(console.out.contains("Connecting")) << console.out.toStdString();
        EXPECT_EQ(fileBytes(ini()), before);
    }
}

TEST_F(ConfigureCommand, RewritingKeepsTheModeABackupAndSaysWhenTheLogFolderIsMissing)
{
    const QByteArray old = "; nota\r\n[Conex\xE3o Postgres]\r\nServer Name=old-host\r\nTimeout=30\r\n";
    folder.writeRawIni(old);
    ASSERT_EQ(::chmod(QFile::encodeName(ini()).constData(), 0600), 0);
    ASSERT_TRUE(QDir(folder.dir.path()).rmdir("QuiborSync_Logs"));

    ScriptedConsole console({kPassword});
    EXPECT_EQ(app::runConfigureCommand(options(), console), 0) << console.err.toStdString();
    EXPECT_TRUE(console.out.contains("QuiborSync_Logs/ is missing")) << console.out.toStdString();
    EXPECT_EQ(fileBytes(ini() + ".bak"), old);
    const QByteArray now = fileBytes(ini());
    EXPECT_TRUE(now.startsWith("; nota\r\n[Conex\xE3o Postgres]\r\nServer Name=" + testsupport::testHost().toLatin1()
                               + "\r\nTimeout=30\r\n"))
        << now.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(ini()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(folder.dir.path()).entryList(QDir::Files), QStringList({"Quibor.ini", "Quibor.ini.bak"}));
}

// A Quibor.ini kept elsewhere and linked into the program folder stays
// linked: the file it leads to is replaced whole, its backup kept beside it.
TEST_F(ConfigureCommand, AQuiborIniThatIsALinkIsWrittenThroughAndStaysALink)
{
    QTemporaryDir settings;
    ASSERT_TRUE(settings.isValid());
    ASSERT_TRUE(QDir(settings.path()).mkdir("quiborsync"));
    const QString target = settings.filePath("quiborsync/Quibor.ini");
    const QByteArray old = "[Conex\xE3o Postgres]\r\nServer Name=old-host\r\n";
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    // Relative, as a package would lay it out: taken from the link's folder.
    const QString relative = QDir(folder.dir.path()).relativeFilePath(target);
    ASSERT_EQ(::symlink(QFile::encodeName(relative).constData(), QFile::encodeName(ini()).constData()), 0);

    ScriptedConsole console({kPassword});
    EXPECT_EQ(app::runConfigureCommand(options(), console), 0) << console.err.toStdString();

    const QString real = QFileInfo(target).canonicalFilePath();
    EXPECT_EQ(QFileInfo(ini()).symLinkTarget(), real) << "still the link";
    EXPECT_EQ(fileBytes(target + ".bak"), old);
    EXPECT_TRUE(fileBytes(target).contains("Server Name=" + testsupport::testHost().toLatin1()));
    EXPECT_FALSE(QFile::exists(ini() + ".bak"));
    EXPECT_TRUE(console.out.contains("Wrote " + real + " through the link " + ini() + " (the previous file is kept as "
                                     + real + ".bak)"))
        << console.out.toStdString();
    expectTheProgramStarts();
}

// As an ordinary user in a folder only root may write, like /opt/quiborsync.
TEST_F(ConfigureCommand, AFolderItMayNotWriteIsSaidBeforeAnythingIsAsked)
{
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (::geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to act as another user";
    folder.writeRawIni("[Conex\xE3o Postgres]\r\nServer Name=old-host\r\n");
    const QByteArray before = fileBytes(ini());
    ASSERT_EQ(::chmod(QFile::encodeName(folder.dir.path()).constData(), 0755), 0);
    const QString exe = placeProgram();

    QProcess p;
    QProcessEnvironment env = consoleEnvironment();
    env.insert("HOME", "/");
    p.setProcessEnvironment(env);
    p.start(setpriv, {"--reuid=nobody", "--regid=nogroup", "--clear-groups", exe, "--configure"});
    ASSERT_TRUE(p.waitForStarted(30000));
    p.closeWriteChannel();
    ASSERT_TRUE(testsupport::waitFor([&] { return p.state() == QProcess::NotRunning; }, 60000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_EQ(QString::fromLocal8Bit(p.readAllStandardOutput()), "") << "nothing asked";
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("cannot write Quibor.ini in " + folder.dir.path())) << err.toStdString();
    EXPECT_TRUE(err.contains("run it as root: sudo " + folder.dir.path() + "/quiborsync --configure"))
        << err.toStdString();
    EXPECT_EQ(fileBytes(ini()), before);
}

TEST(ConfigureCommandLine, OptionsTakeTheirValuesOnceAndNeverThePassword)
{
    using Kind = app::CommandLine::Kind;
    const app::CommandLine full = app::parseCommandLine(
        {"quiborsync", "--configure", "--host", "h", "--port=5433", "--database", "d", "--user=u", "--password-stdin"});
    ASSERT_EQ(full.kind, Kind::Configure);
    EXPECT_EQ(full.configure.host, "h");
    EXPECT_EQ(full.configure.port, "5433");
    EXPECT_EQ(full.configure.database, "d");
    EXPECT_EQ(full.configure.user, "u");
    EXPECT_TRUE(full.configure.passwordFromStdin);
    EXPECT_TRUE(full.configure.optionForm());
    const app::CommandLine bare = app::parseCommandLine({"quiborsync", "--configure"});
    EXPECT_EQ(bare.kind, Kind::Configure);
    EXPECT_FALSE(bare.configure.optionForm());

    for (const QStringList& args : {QStringList{"--configure", "--password", "segredo"},
                                    QStringList{"--configure", "--password=segredo"},
                                    QStringList{"--configure", "--host"},
                                    QStringList{"--configure", "--host", "a", "--host", "b"},
                                    QStringList{"--configure", "--configure"},
                                    QStringList{"--configure", "--status"},
                                    QStringList{"--configure", "extra"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        EXPECT_EQ(app::parseCommandLine(QStringList{"quiborsync"} + args).kind, Kind::Usage);
    }
}

} // namespace
