// Fuzz harness: any bytes as a logger file, through the reader and the whole extraction.
// Whatever the bytes, the extraction must end cleanly, write only inside its output directory,
// count every complete record and write one line per non-empty record.

#include "logger/ExtractToText.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "logger extraction fault: %s\n", what);
        std::abort();
    }
}

struct Workspace {
    // A memory file system where there is one keeps the harness fast.
    QTemporaryDir root{QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/zentlog-fuzz-XXXXXX")
                                                                  : QDir::tempPath() + QStringLiteral("/zentlog-fuzz-XXXXXX")};
    QString input = root.filePath(QStringLiteral("input.log"));
    QString output = root.filePath(QStringLiteral("out"));
};

qint64 lineCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().count("\r\n");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Workspace workspace;
    check(workspace.root.isValid(), "no temporary directory");
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile file(workspace.input);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(), "input not written");
    }
    QDir(workspace.output).removeRecursively();
    QDir().mkpath(workspace.output);

    qint64 nonEmpty = 0;
    qint64 records = 0;
    if (size >= logger::kHeaderSize) {
        records = static_cast<qint64>((size - logger::kHeaderSize) / logger::kRecordSize);
        for (qint64 k = 0; k < records; ++k) {
            const uint8_t* date = data + logger::kHeaderSize + k * logger::kRecordSize;
            nonEmpty += (date[0] | date[1] | date[2]) != 0 ? 1 : 0;
        }
    }

    // In small steps, so that stepping is exercised as the window uses it.
    int questions = 0;
    logger::ExtractionRun run({workspace.input, workspace.output, ','});
    if (run.start([&questions](const QString&) {
            ++questions;
            return logger::ReplaceAnswer::Replace;
        })) {
        while (run.step(std::chrono::milliseconds(0))) {
        }
    }
    const logger::ExtractionOutcome outcome = run.finish();
    check(questions == 0, "a question about a file that did not exist");

    const QStringList written = QDir(workspace.output).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (size < logger::kHeaderSize) {
        check(outcome.status == logger::ExtractionOutcome::Status::TooShort, "short file not refused");
        check(written.isEmpty(), "output for a short file");
        return 0;
    }
    check(outcome.status == logger::ExtractionOutcome::Status::Done, "extraction did not complete");
    check(outcome.progress.RecordCounter == records, "record count");
    check(outcome.fragmentBytes == static_cast<int>((size - logger::kHeaderSize) % logger::kRecordSize), "fragment");
    check(outcome.outputFiles.size() == written.size() && (written.size() == 1 || written.size() == 2), "output files");
    check(QDir(workspace.root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size() == 2,
          "a file written beside the output directory");
    for (const QString& path : outcome.outputFiles) {
        const QFileInfo info(path);
        check(info.absolutePath() == QFileInfo(workspace.output).absoluteFilePath(), "output outside its directory");
        check(info.isFile(), "output is not a file");
        check(lineCount(path) == 5 + nonEmpty, "one line per non-empty record");
    }
    check(outcome.progress.label.isEmpty() == (nonEmpty == 0), "progress text");
    return 0;
}
