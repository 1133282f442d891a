#pragma once
// The extraction: a logger file becomes one tab-separated ".xls" text file per channel
// (Windows-1252, CR LF) in the output directory.
//
// A run is taken in steps so that a window can return to its event loop between them: start()
// reads the header and prepares the output files, step() converts records for a given time,
// finish() closes everything. ExtractToText() does all of it at once.

#include "logger/LoggerDecoders.h"
#include "logger/LoggerReader.h"
#include "logger/OutputFile.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QLockFile;

namespace ui {
class Dialogs;
}

namespace logger {

// What to do with an output file that exists and is not empty.
enum class ReplaceAnswer { Replace, Append, Stop };
// Asked once for each such file, with the file's name.
using ReplaceQuestion = std::function<ReplaceAnswer(const QString& fileName)>;

// The question of the extraction window: Yes replaces the file, No appends to it.
QString ReplaceQuestionText(const QString& fileName);
ReplaceQuestion AskWithDialogs(ui::Dialogs& dialogs);

// The lock file that keeps two extractions from writing one folder at once.
inline constexpr char kOutputLockName[] = ".zentlog-extract.lock";

struct ExtractionSettings {
    QString loggerPath;
    QString outputDirectory; // empty: the working directory
    char decimalSeparator = '.';
};

struct ExtractionProgress {
    qint64 RecordCounter = 0; // records read, empty ones included
    QString label;            // the progress text of the last non-empty record; empty before the first
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0;
};

struct ExtractionOutcome {
    enum class Status {
        Done,
        TooShort, // the logger file is shorter than a header: no output file
        Refused,  // the question was answered Stop: no file was touched
        Failed,   // a file could not be opened, read or written, or was not one to write
    };
    Status status = Status::Done;
    QString message; // for the user, whenever the status is not Done
    ExtractionProgress progress;
    int fragmentBytes = 0;   // bytes after the last complete record, ignored
    QStringList outputFiles; // full paths of the files written
};

class ExtractionRun {
public:
    explicit ExtractionRun(ExtractionSettings settings);
    ~ExtractionRun();
    ExtractionRun(const ExtractionRun&) = delete;
    ExtractionRun& operator=(const ExtractionRun&) = delete;

    // Opens the logger file and reads its header, takes the output folder's lock, checks the
    // output names, asks about output files that exist and are not empty, opens the output
    // files and writes their header lines. False when the run cannot go on; finish() then
    // tells why.
    bool start(const ReplaceQuestion& ask);
    // Converts records until the file ends or about `budget` has passed; true while records remain.
    bool step(std::chrono::milliseconds budget);
    // Closes every file the run opened, puts replacements in place, releases the folder and
    // returns how it went.
    ExtractionOutcome finish();

    ExtractionProgress progress() const;

private:
    struct Channel {
        QString typeName;
        std::optional<UnitDecoding> unit;
        int divisor = 1;
        int secondDivisor = 10;
        bool flow = false;
        QString fileName;
        ReplaceAnswer answer = ReplaceAnswer::Append;
        OutputFile file;
    };

    void setUpChannel(Channel& channel, int index, const QByteArray& nameField, const TypeCode& code, int16_t unitCode);
    QByteArray headerLines(const Channel& channel, int index, const QByteArray& nameField) const;
    bool lockOutputFolder();
    void refreshLock();
    bool checkOutputName(const QString& path);
    bool openOutputs();
    void rollBackOutputs();
    void writeRecord(const LoggerRecord& record);
    bool fail(const QString& message);
    bool failWriting(const Channel& channel);
    QString outputPath(const QString& fileName) const;

    ExtractionSettings settings_;
    LoggerReader reader_;
    std::array<Channel, 2> channels_;
    int channelCount_ = 0; // channel 2 writes only when its type name is not empty
    qint64 counter_ = 0;
    std::optional<LoggerRecord> lastShown_;
    qint64 lastShownCounter_ = 0;
    ExtractionOutcome outcome_;
    bool failed_ = false;
    std::unique_ptr<QLockFile> lock_;
    QElapsedTimer sinceLockRefresh_;
};

// A whole extraction at once.
ExtractionOutcome ExtractToText(const ExtractionSettings& settings, const ReplaceQuestion& ask);

// The progress text of a record: "7 : 5/3/99 14:5  1234 215 00012345" (channel 1's raw values
// and, for a flow channel, its totaliser).
QString ProgressText(qint64 recordCounter, const LoggerRecord& record, bool flow);

} // namespace logger
