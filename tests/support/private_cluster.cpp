#include "support/private_cluster.h"

#include "support/silent_listener.h"

#include <QProcess>
#include <stdexcept>

#ifndef QS_SOURCE_DIR
#error "QS_SOURCE_DIR names the source tree, whose scripts make the cluster"
#endif

namespace testsupport {
namespace {

QString scriptPath(const char* name) { return QStringLiteral(QS_SOURCE_DIR "/scripts/") + QLatin1String(name); }

// initdb and a start after a crash take seconds; on a busy machine many.
constexpr int kScriptMs = 120000;

} // namespace

PrivateCluster::PrivateCluster(Flush flush) : dir_(QStringLiteral("/tmp/qs-cluster-XXXXXX")), flush_(flush)
{
    if (!dir_.isValid())
        throw std::runtime_error("private cluster: no folder: " + dir_.errorString().toStdString());
    // A port nobody listens on now; another process may take it before the
    // server binds it, and the start then fails: a second port is tried.
    for (int attempt = 0;; ++attempt) {
        port_ = refusedPort();
        try {
            start();
            break;
        } catch (const std::runtime_error&) {
            if (attempt == 2)
                throw;
        }
    }
    script({scriptPath("load_templates.sh"), address().host, QString::number(port_)}, kScriptMs);
}

PrivateCluster::~PrivateCluster()
{
    try {
        script({scriptPath("pg_cluster.sh"), "stop", dir_.path()}, kScriptMs);
    } catch (const std::exception&) {
        // Its files go with the folder; a server left running stops with
        // the machine.
    }
}

ClusterAddress PrivateCluster::address() const { return {QStringLiteral("127.0.0.1"), port_, "postgres", QString()}; }

void PrivateCluster::stopImmediately()
{
    script({scriptPath("pg_cluster.sh"), "immediate", dir_.path()}, kScriptMs);
    running_ = false;
}

void PrivateCluster::start()
{
    QStringList arguments{scriptPath("pg_cluster.sh"), "start", dir_.path(), QString::number(port_)};
    if (flush_ == Flush::Durable)
        arguments << "durable";
    script(arguments, kScriptMs);
    running_ = true;
}

void PrivateCluster::script(const QStringList& arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("bash"), arguments);
    const bool finished = process.waitForStarted() && process.waitForFinished(timeoutMs);
    if (!finished)
        process.kill();
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error("private cluster: " + arguments.join(' ').toStdString() + " failed: "
                                 + process.readAll().toStdString());
}

} // namespace testsupport
