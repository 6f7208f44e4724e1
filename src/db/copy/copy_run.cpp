#include "db/copy/copy_run.h"

#include "db/connection.h"
#include "db/copy/copy_group.h"
#include "db/copy/copy_log.h"
#include "db/copy/copy_target.h"
#include "db/errors.h"
#include "db/query.h"
#include "db/result_data.h"

#include <algorithm>

namespace db {
namespace {

// Under the caller's transaction nothing is committed between groups, so a
// group is sized for few round trips rather than by the commit count.
constexpr int kCallerGroupRows = 10000;

} // namespace

struct CopyRun::Impl {
    explicit Impl(CopyRun& run) : owner(run), config(run.config_) {}

    void checkConfig() const;
    Dataset& openReader();
    copy::CopyTarget describeWriter();
    int transfer();
    // Always insert, and append without a hook under the caller's
    // transaction: rows go to the server a whole group at a time.
    int insertInGroups(Dataset& reader, copy::CopyWriter& writer);
    bool groupedWrites() const;
    // Append modes: the hook (or the key lookup) decides row by row.
    int writeRowByRow(Dataset& reader, copy::CopyWriter& writer);

    CopyRun& owner;
    const CopyConfig& config;
    std::unique_ptr<Query> ownReader;
    Dataset* reader = nullptr;
    int rowNumber = 0;   // source rows read so far
    int failedRow = 0;   // the source row an error belongs to, 0 when none
};

void CopyRun::Impl::checkConfig() const
{
    const bool readerSet = config.reader || (config.readerConnection && !config.readerSql.trimmed().isEmpty());
    if (!readerSet)
        throw UsageError(QStringLiteral("The copy run has no reader"));
    if (!config.writerConnection || config.writerSql.trimmed().isEmpty())
        throw UsageError(QStringLiteral("The copy run has no writer"));
    if (config.commitCount < 1)
        throw UsageError(QStringLiteral("The copy run's commit count must be at least 1"));
}

Dataset& CopyRun::Impl::openReader()
{
    if (config.reader) {
        reader = config.reader;
    } else {
        config.readerConnection->open();
        ownReader = std::make_unique<Query>(*config.readerConnection);
        ownReader->setText(config.readerSql);
        ownReader->prepare();
        ownReader->open();
        reader = ownReader.get();
    }
    reader->first();
    return *reader;
}

// The first statement the run sends to the destination: a server
// connection whose link dropped while idle gets it back here, as it would
// for any statement of the layer; nothing of the run is lost by retrying.
copy::CopyTarget CopyRun::Impl::describeWriter()
{
    Connection& writer = *config.writerConnection;
    writer.open();
    try {
        return copy::describeTarget(writer.handle(), config.writerSql);
    } catch (const BrokenConnection&) {
        if (!writer.autoReconnect() || writer.inTransaction() || config.callerTransaction)
            throw;
    }
    writer.reconnect();
    return copy::describeTarget(writer.handle(), config.writerSql);
}

int CopyRun::Impl::transfer()
{
    Dataset& source = openReader();
    const copy::CopyTarget target = describeWriter();
    pg_conn* conn = config.writerConnection->handle();
    const bool needKey = config.mode == CopyMode::AppendUpdate
                         || (config.mode == CopyMode::Append && !config.findDestRecord);
    const copy::CopyLayout layout = copy::buildLayout(source, target, needKey);

    copy::CopyWriter writer(conn, layout, config.callerTransaction);
    try {
        const int written = groupedWrites() ? insertInGroups(source, writer) : writeRowByRow(source, writer);
        writer.commit();
        return written;
    } catch (...) {
        writer.rollback();
        throw;
    }
}

// Append without a hook commits by groups of source rows only where no
// commit is made at all; elsewhere it keeps its row-by-row commit count.
bool CopyRun::Impl::groupedWrites() const
{
    return config.mode == CopyMode::AlwaysInsert
           || (config.mode == CopyMode::Append && !config.findDestRecord && config.callerTransaction);
}

int CopyRun::Impl::insertInGroups(Dataset& source, copy::CopyWriter& writer)
{
    const int groupRows = config.callerTransaction ? std::max(config.commitCount, kCallerGroupRows)
                                                   : config.commitCount;
    // Two buffers: one group is with the server while the next is read.
    copy::RowBuffer buffers[2] = {copy::RowBuffer(writer.layout().captured),
                                  copy::RowBuffer(writer.layout().captured)};
    int firstRows[2] = {1, 1};
    int filling = 0;
    int written = 0;
    copy::GroupInserter inserter(writer, config.mode == CopyMode::Append);

    auto finishSent = [&] {
        if (!inserter.pending())
            return;
        const int sent = 1 - filling;
        int failed = -1;
        try {
            written += inserter.finish(failed);
        } catch (...) {
            failedRow = failed >= 0 ? firstRows[sent] + failed : 0;
            throw;
        }
        buffers[sent].clear();
    };
    auto sendFilled = [&] {
        const QByteArray encoded = inserter.encode(buffers[filling]);
        finishSent();
        inserter.send(buffers[filling], encoded);
        filling = 1 - filling;
        firstRows[filling] = rowNumber + 1;
    };

    // A statement's rows are read straight from its result; its cursor
    // still walks along with them.
    const auto* query = dynamic_cast<const Query*>(&source);
    const std::shared_ptr<ResultData> whole = query ? query->resultData() : nullptr;
    for (int index = 0; !source.eof(); source.next(), ++index) {
        ++rowNumber;
        if (whole)
            buffers[filling].capture(*whole, index);
        else
            buffers[filling].capture(source);
        if (buffers[filling].rows() == groupRows)
            sendFilled();
    }
    if (buffers[filling].rows() > 0)
        sendFilled();
    finishSent();
    return written;
}

int CopyRun::Impl::writeRowByRow(Dataset& source, copy::CopyWriter& writer)
{
    enum class Action { Insert, Update, Skip };
    int written = 0;
    copy::RowBuffer row(writer.layout().captured);
    for (; !source.eof(); source.next()) {
        ++rowNumber;
        failedRow = rowNumber;
        row.clear();

        bool found = false;
        if (config.findDestRecord) {
            // The hook's own statements must take effect at once, never
            // inside (and never spoiling) a group of the engine's.
            writer.commit();
            config.findDestRecord(owner, found);
            row.capture(source);
        } else {
            row.capture(source);
            found = writer.exists(row, 0);
        }

        const Action action = !found ? Action::Insert
                              : config.mode == CopyMode::AppendUpdate ? Action::Update
                                                                      : Action::Skip;
        if (action != Action::Skip) {
            writer.begin();
            written += action == Action::Insert ? writer.insert(row, 0) : writer.update(row, 0);
        }
        if (writer.groupOpen() && written % config.commitCount == 0)
            writer.commit();
    }
    failedRow = 0;
    return written;
}

CopyRun::CopyRun(CopyConfig config) : config_(std::move(config)), impl_(std::make_unique<Impl>(*this)) {}

CopyRun::~CopyRun() = default;

const Dataset& CopyRun::source() const
{
    if (!impl_->reader)
        throw UsageError(QStringLiteral("The copy run has no source row yet"));
    return *impl_->reader;
}

int CopyRun::run()
{
    impl_->checkConfig();
    impl_->rowNumber = 0;
    impl_->failedRow = 0;
    copy::CopyLog log(config_.logFile);
    log.opening();
    // The run's own writes bypass the statement path that tells listeners
    // to look for notifications read meanwhile; tell them once at the end.
    struct TellListeners {
        Connection* writer;
        ~TellListeners()
        {
            if (writer)
                writer->statementsRan();
        }
    } tell{config_.writerConnection};
    try {
        const int written = impl_->transfer();
        log.closing();
        return written;
    } catch (const DatabaseError& e) {
        log.error(impl_->failedRow, e.message());
        log.closing();
        throw;
    } catch (...) {
        log.closing();
        throw;
    }
}

} // namespace db
