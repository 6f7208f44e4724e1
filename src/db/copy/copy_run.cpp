#include "db/copy/copy_run.h"

#include "common/scope_exit.h"
#include "db/connection.h"
#include "db/copy/copy_group.h"
#include "db/copy/copy_log.h"
#include "db/copy/copy_stage.h"
#include "db/copy/copy_target.h"
#include "db/copy/copy_upsert.h"
#include "db/errors.h"
#include "db/link_wait.h"
#include "db/query.h"
#include "db/result_data.h"

#include <optional>

namespace db {

struct CopyRun::Impl {
    explicit Impl(CopyRun& run) : owner(run), config(run.config_) {}

    void checkConfig() const;
    Dataset& openReader();
    copy::CopyTarget describeWriter();
    int transfer();
    // Always insert, or append by key (`append`): rows go to the server a
    // whole commit group at a time.
    int insertInGroups(Dataset& reader, copy::CopyWriter& writer, bool append = false);
    // Append-update by key: a whole commit group at a time.
    int upsertInGroups(Dataset& reader, copy::CopyWriter& writer);
    // A group the server refused as a whole: row by row, for the error of
    // the row to blame or for rows that share a key.
    int appendRowByRow(const copy::RowBuffer& group, int firstRow, copy::CopyWriter& writer);
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
        Connection::Exchange exchange(writer);
        return copy::describeTarget(writer.link(), config.writerSql);
    } catch (const NoAnswer&) {
        throw; // a second try would wait on the same silent peer
    } catch (const BrokenConnection&) {
        if (!writer.autoReconnect() || writer.inTransaction() || config.callerTransaction)
            throw;
    }
    writer.reconnect();
    Connection::Exchange exchange(writer);
    return copy::describeTarget(writer.link(), config.writerSql);
}

int CopyRun::Impl::transfer()
{
    Dataset& source = openReader();
    const copy::CopyTarget target = describeWriter();
    const bool needKey = config.mode == CopyMode::AppendUpdate
                         || (config.mode == CopyMode::Append && !config.findDestRecord);
    const copy::CopyLayout layout = copy::buildLayout(source, target, needKey);

    copy::CopyWriter writer(*config.writerConnection, layout, config.callerTransaction);
    try {
        // The key lookup needs no row-by-row decision, and a group of the
        // caller's transaction cannot be committed on its own.
        const bool upsertGroups = config.mode == CopyMode::AppendUpdate && !config.findDestRecord
                                  && !config.callerTransaction;
        int written = 0;
        if (config.mode == CopyMode::AlwaysInsert) {
            written = insertInGroups(source, writer);
        } else if (upsertGroups) {
            written = upsertInGroups(source, writer);
        } else if (config.mode == CopyMode::Append && !config.findDestRecord) {
            written = insertInGroups(source, writer, true);
        } else {
            written = writeRowByRow(source, writer);
        }
        writer.commit();
        return written;
    } catch (...) {
        writer.rollback();
        throw;
    }
}

// While the server takes one group the next is read from the source: the
// two halves of the work overlap instead of taking turns.
//
// Appending, a group goes straight into the destination as always insert
// does: when none of its keys is there (a table just emptied, new rows
// only) that is the outcome of looking each row up. A group the key (or
// anything else) refuses is undone and goes again through the stage, which
// leaves out the rows found, and so does every later group of the run; a
// group the stage refuses, or every refused one when no stage could be
// made, goes row by row.
int CopyRun::Impl::insertInGroups(Dataset& source, copy::CopyWriter& writer, bool append)
{
    copy::RowBuffer groups[2] = {copy::RowBuffer(writer.layout().captured),
                                 copy::RowBuffer(writer.layout().captured)};
    int filling = 0;
    auto inserter = std::make_unique<copy::GroupInserter>(writer, append);
    std::optional<copy::AppendStage> stage;
    int written = 0;
    int firstRow = 1;       // of the group being filled
    int sentFirstRow = 0;   // of the group the server has, 0 when none
    auto completeWith = [&](copy::GroupInserter& through, int first) {
        int failed = -1;
        try {
            return through.complete(failed);
        } catch (...) {
            failedRow = failed >= 0 ? first + failed : 0;
            throw;
        }
    };
    auto completeSent = [&] {
        if (sentFirstRow == 0)
            return;
        const int first = sentFirstRow;
        sentFirstRow = 0;
        written += completeWith(*inserter, first);
        if (!inserter->refused())
            return;
        // The group sent is the one not being filled.
        const copy::RowBuffer& group = groups[filling ^ 1];
        if (!stage) {
            stage.emplace(writer);
            if (stage->ready())
                inserter = std::make_unique<copy::GroupInserter>(writer, *stage);
            else
                return void(written += appendRowByRow(group, first, writer));
            inserter->start(group, inserter->encode(group));
            written += completeWith(*inserter, first);
            if (!inserter->refused())
                return;
        }
        written += appendRowByRow(group, first, writer);
    };
    auto sendGroup = [&] {
        copy::RowBuffer& group = groups[filling];
        const QByteArray encoded = inserter->encode(group);
        completeSent();
        try {
            inserter->start(group, encoded);
        } catch (...) {
            failedRow = 0;
            throw;
        }
        sentFirstRow = firstRow;
        firstRow = rowNumber + 1;
        filling ^= 1;
        groups[filling].clear();
    };

    // A statement's rows are read straight from its result; its cursor
    // still walks along with them.
    const auto* query = dynamic_cast<const Query*>(&source);
    const std::shared_ptr<ResultData> whole = query ? query->resultData() : nullptr;
    for (int index = 0; !source.eof(); source.next(), ++index) {
        ++rowNumber;
        if (whole)
            groups[filling].capture(*whole, index);
        else
            groups[filling].capture(source);
        if (groups[filling].rows() == config.commitCount)
            sendGroup();
    }
    if (groups[filling].rows() > 0)
        sendGroup();
    completeSent();
    return written;
}

int CopyRun::Impl::appendRowByRow(const copy::RowBuffer& group, int firstRow, copy::CopyWriter& writer)
{
    int written = 0;
    for (int row = 0; row < group.rows(); ++row) {
        failedRow = firstRow + row;
        if (writer.exists(group, row))
            continue;
        writer.begin();
        written += writer.insert(group, row);
    }
    failedRow = 0;
    writer.commit();
    return written;
}

int CopyRun::Impl::upsertInGroups(Dataset& source, copy::CopyWriter& writer)
{
    copy::GroupUpserter upserter(writer);
    copy::RowBuffer rows(writer.layout().captured);
    int written = 0;
    int firstRow = 1;
    auto flush = [&] {
        int failed = -1;
        try {
            written += upserter.write(rows, failed);
        } catch (...) {
            failedRow = failed >= 0 ? firstRow + failed : 0;
            throw;
        }
        rows.clear();
        firstRow = rowNumber + 1;
    };
    for (; !source.eof(); source.next()) {
        ++rowNumber;
        rows.capture(source);
        if (rows.rows() == config.commitCount)
            flush();
    }
    if (rows.rows() > 0)
        flush();
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
    copy::CopyLog log(config_.logFile, config_.logAction == LogAction::Append);
    if (!config_.logSection.isEmpty())
        log.section(config_.logSection);
    log.opening();
    // The run's own writes bypass the statement path that tells listeners
    // to look for notifications read meanwhile; tell them once at the end.
    common::ScopeExit tell([this] { config_.writerConnection->statementsRan(); });
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
