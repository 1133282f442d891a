// zentlog-extract: the extraction of a logger file without the window. It writes the same files,
// byte for byte, as the extraction window does.
//
//   zentlog-extract [--replace | --append] [--output-dir DIR] FILE.log
//
// Exit status: 0 when the files are written, 1 when the extraction failed, was refused (a link,
// a pipe or a device at a file name, the logger file as its own output, an output folder another
// run holds) or would have touched an existing output file without --replace or --append, 2 for
// a usage error.

#include "logger/ExtractToText.h"
#include "logger/ValueText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLocale>

#include <cstdio>

namespace {

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

int usageError(const QString& message)
{
    print(stderr, QStringLiteral("zentlog-extract: ") + message);
    print(stderr, QStringLiteral("usage: zentlog-extract [--replace | --append] [--output-dir DIR] FILE.log"));
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentlog-extract"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Extracts a logger file into one tab-separated .xls text file per channel."));
    parser.addHelpOption();
    const QCommandLineOption replace(QStringLiteral("replace"), QStringLiteral("Replace output files that exist."));
    const QCommandLineOption append(QStringLiteral("append"), QStringLiteral("Append to output files that exist."));
    const QCommandLineOption outputDir(QStringLiteral("output-dir"),
                                       QStringLiteral("Write the files into DIR (default: the working directory)."),
                                       QStringLiteral("DIR"));
    parser.addOptions({replace, append, outputDir});
    parser.addPositionalArgument(QStringLiteral("FILE.log"), QStringLiteral("The logger file."));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(replace) && parser.isSet(append))
        return usageError(QStringLiteral("--replace and --append exclude each other"));
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("give exactly one logger file"));
    if (parser.isSet(outputDir) && parser.value(outputDir).isEmpty())
        return usageError(QStringLiteral("--output-dir needs a directory"));

    const logger::ReplaceAnswer answer = parser.isSet(replace) ? logger::ReplaceAnswer::Replace
        : parser.isSet(append)                                  ? logger::ReplaceAnswer::Append
                                                                : logger::ReplaceAnswer::Stop;
    const logger::ExtractionSettings settings{parser.positionalArguments().constFirst(), parser.value(outputDir),
                                              logger::DecimalSeparatorOf(QLocale::system())};
    const logger::ExtractionOutcome outcome =
        logger::ExtractToText(settings, [answer](const QString&) { return answer; });

    if (outcome.status != logger::ExtractionOutcome::Status::Done) {
        QString message = QStringLiteral("zentlog-extract: ") + outcome.message;
        if (outcome.status == logger::ExtractionOutcome::Status::Refused)
            message += QStringLiteral(" Give --replace or --append to say what to do with it.");
        print(stderr, message);
        return 1;
    }
    if (!outcome.progress.label.isEmpty())
        print(stdout, outcome.progress.label);
    print(stdout, QStringLiteral("%1 records").arg(outcome.progress.RecordCounter));
    for (const QString& file : outcome.outputFiles)
        print(stdout, QStringLiteral("Written: ") + QDir::toNativeSeparators(file));
    if (outcome.fragmentBytes > 0) {
        print(stderr, QStringLiteral("zentlog-extract: the last %1 bytes of the logger file do not make a complete "
                                     "record; they were ignored.")
                          .arg(outcome.fragmentBytes));
    }
    return 0;
}
