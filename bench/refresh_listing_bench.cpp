#include "platform/messages.h"
#include "program/branch_targets.h"
#include "program/editing.h"
#include "program/listing.h"
#include "program/program_table.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

class SilentMessages final : public kqm::platform::Messages {
public:
    kqm::platform::MessageAnswer show(kqm::platform::MessageIcon, const QString&,
                                      kqm::platform::MessageButtons) override {
        return kqm::platform::MessageAnswer::Ok;
    }
};

// The largest program that fits: 1023 two-byte commands and a quit is 2048,
// so 1022 commands of two bytes and one of three (2047 bytes, 1023 lines).
void writeLargestProgram(const QString& path) {
    QString error;
    kqm::program::ProgramTable::createEmptyProgramFile(path, &error);
    kqm::program::SqliteFile file;
    file.open(path);
    kqm::program::Transaction transaction(file);
    QSqlQuery insert(file.database());
    insert.prepare(QStringLiteral("INSERT INTO Main VALUES (0, 0, ?, '!', ' ')"));
    const char* const cycle[] = {"+", "-", "G", "S", "F", "."};
    for (int i = 0; i < 1022; ++i) {
        insert.bindValue(0, QString::fromLatin1(cycle[i % 6]));
        insert.exec();
    }
    insert.bindValue(0, QStringLiteral("A10"));
    insert.exec();
    transaction.commit();
}

void setAllPending(kqm::program::ProgramTable& table) {
    table.file().exec(QStringLiteral("UPDATE Main SET Listing = '!', LineNo = 0, Address = 0"));
}

void BM_RefreshAllPending(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("largest.mdb"));
    writeLargestProgram(path);
    kqm::program::ProgramTable table;
    table.open(path);
    kqm::program::ProgramState programState;
    SilentMessages messages;
    for (auto _ : state) {
        state.PauseTiming();
        setAllPending(table);
        state.ResumeTiming();
        const auto result = kqm::program::RefreshListing(table, programState, messages);
        if (!result.ok || programState.ProgramSize != 2047)
            state.SkipWithError("refresh failed");
    }
}
BENCHMARK(BM_RefreshAllPending)->Unit(benchmark::kMillisecond);

void BM_RefreshAllComputed(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("largest.mdb"));
    writeLargestProgram(path);
    kqm::program::ProgramTable table;
    table.open(path);
    kqm::program::ProgramState programState;
    SilentMessages messages;
    kqm::program::RefreshListing(table, programState, messages);
    for (auto _ : state) {
        const auto result = kqm::program::RefreshListing(table, programState, messages);
        if (!result.ok || programState.ProgramSize != 2047)
            state.SkipWithError("refresh failed");
    }
}
BENCHMARK(BM_RefreshAllComputed)->Unit(benchmark::kMillisecond);

struct LargestProgram {
    QTemporaryDir dir;
    kqm::program::ProgramTable table;
    kqm::program::ProgramState state;
    SilentMessages messages;

    LargestProgram() {
        const QString path = dir.filePath(QStringLiteral("largest.mdb"));
        writeLargestProgram(path);
        table.open(path);
        kqm::program::RefreshListing(table, state, messages);
    }
};

// Inserts before line 1 with `insert` and takes the line out again untimed.
template <typename Insert> void insertBeforeLineOne(benchmark::State& state, const Insert& insert) {
    LargestProgram program;
    for (auto _ : state) {
        const kqm::program::RefreshResult inserted = insert(program);
        state.PauseTiming();
        const auto deleted =
            kqm::program::deleteLine(program.table, program.state, program.messages, 0);
        if (!inserted.ok || !deleted.ok || inserted.rows.size() != 1024)
            state.SkipWithError("insert failed");
        state.ResumeTiming();
    }
}

void BM_InsertBeforeLineOne(benchmark::State& state) {
    insertBeforeLineOne(state, [](LargestProgram& program) {
        const auto inserted =
            kqm::program::insertLine(program.table, program.state, program.messages, 0, "W5", "");
        return kqm::program::RefreshResult{inserted.ok, inserted.error, inserted.rows};
    });
}
BENCHMARK(BM_InsertBeforeLineOne)->Unit(benchmark::kMillisecond);

// The same insert stored without its undo step: what the history costs is the
// difference to the one above (processor time, both from one run).
void BM_InsertBeforeLineOneWithoutHistory(benchmark::State& state) {
    insertBeforeLineOne(state, [](LargestProgram& program) {
        // As the edit does it, up to the step.
        kqm::program::Transaction transaction(program.table.file());
        auto before = program.table.readRows();
        auto plan = kqm::program::planInsert(*before, 0, "W5", "");
        kqm::program::followBranches(*before, plan.rows, plan.origin);
        kqm::program::storeDerivedFields(program.table, *before);
        auto inserted = kqm::program::storeAndRefresh(program.table, *before, plan.rows,
                                                      program.state, program.messages);
        transaction.commit();
        return inserted;
    });
}
BENCHMARK(BM_InsertBeforeLineOneWithoutHistory)->Unit(benchmark::kMillisecond);

void BM_DeleteLineOne(benchmark::State& state) {
    LargestProgram program;
    for (auto _ : state) {
        const auto deleted =
            kqm::program::deleteLine(program.table, program.state, program.messages, 0);
        state.PauseTiming();
        const auto inserted =
            kqm::program::insertLine(program.table, program.state, program.messages, 0, "+", "");
        if (!inserted.ok || !deleted.ok || deleted.rows.size() != 1022)
            state.SkipWithError("delete failed");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DeleteLineOne)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
