#pragma once
// Export of the recorded readings to a file a spreadsheet opens: ".xls" (tab-separated
// Windows-1252 text with CR LF, like the logger extraction files) or CSV (UTF-8, RFC 4180).
// One row per channel visit, in time order. The rows are streamed from the database to the file;
// the file is written under a temporary name and renamed once complete, so that an export that
// fails or is cancelled never leaves a half-written file, nor touches the file it would replace.

#include "history/HistoryQuery.h"

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace history {

// Channels 0 to 3, as the program shows them ("Input 0" to "Input 3") and the database keeps them.
inline constexpr int kExportChannelCount = 4;

enum class ExportFormat { Xls, Csv };

struct ExportRequest {
    QString databasePath;
    QString targetPath;
    qint64 fromMs = 0;   // UTC milliseconds, included
    qint64 toMs = 0;     // UTC milliseconds, excluded
    QList<int> channels; // 0..3
    ExportFormat format = ExportFormat::Xls;
    QLocale locale;      // gives the decimal separator (and for CSV the field separator)
    ReadMode readMode = ReadMode::Following;
};

struct ExportOutcome {
    // NoHistory: nothing has been recorded yet, which is no fault (the history file is made by the
    // first measurement).
    enum class Status { Done, Empty, NoHistory, Cancelled, Failed };
    Status status = Status::Failed;
    qint64 rows = 0;
    QString message; // for the user when not Done
};

// Rows written so far and rows in all; false stops the export (no file is left).
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

// One export, run in slices so that a window can keep its event loop going between them.
class Exporter {
public:
    explicit Exporter(ExportRequest request);
    ~Exporter();
    Exporter(const Exporter&) = delete;
    Exporter& operator=(const Exporter&) = delete;

    // Opens the database read-only, counts the rows and opens the temporary file. False when the
    // export is already over (nothing to export, or a failure): see outcome().
    bool start();
    // Writes up to `maxRows` rows; after the last one, completes the file. False once over.
    bool step(qint64 maxRows);
    // Stops now: the temporary file is removed and the target left as it was.
    void cancel();

    qint64 done() const;
    qint64 total() const;
    const ExportOutcome& outcome() const;

private:
    struct Run;
    std::unique_ptr<Run> run_;
};

// The tag of each channel's latest reading in the history, the name its rows are exported under;
// empty for a channel without readings, and all empty when the file cannot be read (the export
// itself says why). Reads the file as it is and leaves nothing beside it.
std::array<QString, kExportChannelCount> latestTags(const QString& databasePath);

// The whole export in one call; `progress` is called every few thousand rows and at the end.
ExportOutcome exportReadings(const ExportRequest& request, const ExportProgress& progress = {});

// A stored number in fixed notation and no exponent, with `decimalSeparator`: with `decimals`
// (the digits the panel showed, 6.90) when given, otherwise with as many decimals as it needs
// (0.0001, 123456789, -2.5); empty for an infinite value.
QByteArray exportNumberText(double value, char decimalSeparator, std::optional<int> decimals = {});

// The separators of a format for a locale: ".xls" always tabs; CSV ";" where the decimal
// separator is a comma, "," otherwise.
char exportDecimalSeparator(const QLocale& locale);
char exportFieldSeparator(ExportFormat format, const QLocale& locale);



} // namespace history
