#include "logger/LoggerReader.h"

#include "LoggerFiles.h"
#include "TestFiles.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace logger;
using logger_test::le16;
using testing_support::readFile;
using testing_support::writeFile;

TEST(LoggerRenderings, HexDigitsUpperCaseWithAndWithoutLeadingZero)
{
    EXPECT_EQ(HexByte(0x00), QStringLiteral("0"));
    EXPECT_EQ(HexByte(0x05), QStringLiteral("5"));
    EXPECT_EQ(HexByte(0x25), QStringLiteral("25"));
    EXPECT_EQ(HexByte(0x1A), QStringLiteral("1A"));
    EXPECT_EQ(HexByte(0xFF), QStringLiteral("FF"));
    EXPECT_EQ(HexByte2(0x05), QStringLiteral("05"));
    EXPECT_EQ(HexByte2(0x00), QStringLiteral("00"));
    EXPECT_EQ(HexByte2(0xAB), QStringLiteral("AB"));
}

TEST(LoggerRenderings, DateTimeAndTotaliser)
{
    EXPECT_EQ(DateText({0x05, 0x03, 0x99}), QStringLiteral("5/3/99"));
    EXPECT_EQ(DateText({0x00, 0x00, 0x00}), QStringLiteral("0/0/0"));
    EXPECT_EQ(DateText({0x31, 0x12, 0x00}), QStringLiteral("31/12/0"));
    EXPECT_EQ(TimeText({0x14, 0x05}), QStringLiteral("14:5"));
    EXPECT_EQ(TimeText({0x09, 0x05}), QStringLiteral("9:5"));
    // Last stored byte first, two digits each.
    EXPECT_EQ(TotalText({0x45, 0x23, 0x01, 0x00}), QStringLiteral("00012345"));
    EXPECT_EQ(TotalText({0x00, 0x00, 0x00, 0x00}), QStringLiteral("00000000"));
    EXPECT_EQ(TotalText({0x01, 0x02, 0x03, 0xFA}), QStringLiteral("FA030201"));
}

TEST(LoggerLayout, HeaderFieldsAtTheirOffsets)
{
    const QByteArray bytes = logger_test::workedExampleHeader();
    ASSERT_EQ(bytes.size(), kHeaderSize);
    const LoggerHeader h = LoggerHeader::fromBytes(bytes.constData());
    EXPECT_EQ(h.Name1, QByteArray("PUMP A          "));
    EXPECT_EQ(h.Name2, QByteArray("PUMP A          "));
    EXPECT_EQ(h.TypeCode1, (TypeCode{'0', '6'}));
    EXPECT_EQ(h.TypeCode2, (TypeCode{'0', '1'}));
    EXPECT_EQ(h.UnitCode1, 10);
    EXPECT_EQ(h.UnitCode2, 6);
    // The generators' layout is the same, byte for byte.
    EXPECT_EQ(h.toBytes(), bytes);
}

TEST(LoggerLayout, RecordValuesAreUnalignedSignedLittleEndian)
{
    // Distinct bytes everywhere, so that a field read one byte off shows.
    QByteArray bytes;
    for (int i = 0; i < kRecordSize; ++i)
        bytes.append(static_cast<char>(0x10 + i));
    const LoggerRecord r = LoggerRecord::fromBytes(bytes.constData());
    EXPECT_EQ(r.DateBytes, (std::array<uint8_t, 3>{0x10, 0x11, 0x12}));
    EXPECT_EQ(r.TimeBytes, (std::array<uint8_t, 2>{0x13, 0x14}));
    EXPECT_EQ(r.Total1, (Totaliser{0x15, 0x16, 0x17, 0x18}));
    EXPECT_EQ(r.MainValue1, 0x1A19); // offsets 9 and 10, low byte first
    EXPECT_EQ(r.SecondValue1, 0x1C1B);
    EXPECT_EQ(r.Total2, (Totaliser{0x1D, 0x1E, 0x1F, 0x20}));
    EXPECT_EQ(r.MainValue2, 0x2221);
    EXPECT_EQ(r.SecondValue2, 0x2423);
    QByteArray back(kRecordSize, '\0');
    r.toBytes(back.data());
    EXPECT_EQ(back, bytes);

    const QByteArray minusOne = QByteArray(9, '\x01') + "\xFF\xFF" + le16(-32768) + QByteArray(4, '\0') + le16(32767)
        + le16(0);
    const LoggerRecord m = LoggerRecord::fromBytes(minusOne.constData());
    EXPECT_EQ(m.MainValue1, -1);
    EXPECT_EQ(m.SecondValue1, -32768);
    EXPECT_EQ(m.MainValue2, 32767);
}

TEST(LoggerLayout, EmptyRecordIsJudgedByTheDateAlone)
{
    QByteArray bytes(kRecordSize, '\x77');
    bytes[0] = bytes[1] = bytes[2] = '\0';
    EXPECT_TRUE(LoggerRecord::fromBytes(bytes.constData()).isEmpty());
    bytes[2] = '\x01';
    EXPECT_FALSE(LoggerRecord::fromBytes(bytes.constData()).isEmpty());
}

class LoggerReaderTest : public ::testing::Test {
protected:
    QString write(const QByteArray& bytes)
    {
        const QString path = dir.filePath(QStringLiteral("data.log"));
        writeFile(path, bytes);
        return path;
    }

    QTemporaryDir dir;
};

TEST_F(LoggerReaderTest, FileOf58Plus21TimesNBytesGivesNRecords)
{
    for (int n : {0, 1, 2, 3200, 3121}) { // 3121 and 3200 records cross the read buffer's edge
        QByteArray bytes = logger_test::workedExampleHeader();
        for (int k = 0; k < n; ++k) {
            LoggerRecord r;
            r.MainValue1 = static_cast<int16_t>(k);
            r.SecondValue2 = static_cast<int16_t>(-k);
            bytes += logger_test::record(r);
        }
        LoggerReader reader;
        ASSERT_TRUE(reader.open(write(bytes)));
        ASSERT_TRUE(reader.readHeader());
        LoggerRecord r;
        int count = 0;
        while (reader.next(r)) {
            ASSERT_EQ(r.MainValue1, count);
            ASSERT_EQ(r.SecondValue2, -count);
            EXPECT_EQ(reader.position(), kHeaderSize + kRecordSize * (count + 1));
            ++count;
        }
        EXPECT_EQ(count, n);
        EXPECT_EQ(reader.status(), LoggerReader::Status::Ok);
        EXPECT_EQ(reader.fragmentBytes(), 0);
        EXPECT_EQ(reader.size(), bytes.size());
    }
}

TEST_F(LoggerReaderTest, FinalFragmentMakesNoRecordAndIsCounted)
{
    QByteArray bytes = logger_test::workedExample() + QByteArray(20, '\x05');
    LoggerReader reader;
    ASSERT_TRUE(reader.open(write(bytes)));
    ASSERT_TRUE(reader.readHeader());
    LoggerRecord r;
    int count = 0;
    while (reader.next(r))
        ++count;
    EXPECT_EQ(count, 2);
    EXPECT_EQ(reader.fragmentBytes(), 20);
}

TEST_F(LoggerReaderTest, ShortFilesHaveNoHeader)
{
    for (int length : {0, 1, 57}) {
        LoggerReader reader;
        ASSERT_TRUE(reader.open(write(QByteArray(length, 'x'))));
        EXPECT_FALSE(reader.readHeader()) << length;
        EXPECT_EQ(reader.status(), LoggerReader::Status::TooShort);
        LoggerRecord r;
        EXPECT_FALSE(reader.next(r));
    }
    LoggerReader reader;
    ASSERT_TRUE(reader.open(write(QByteArray(58, ' '))));
    EXPECT_TRUE(reader.readHeader());
}

TEST_F(LoggerReaderTest, MissingFileAndDirectoryCannotBeOpened)
{
    LoggerReader reader;
    EXPECT_FALSE(reader.open(dir.filePath(QStringLiteral("none.log"))));
    EXPECT_EQ(reader.status(), LoggerReader::Status::CannotOpen);
    EXPECT_FALSE(reader.errorString().isEmpty());
    EXPECT_FALSE(reader.open(dir.path()));
    EXPECT_EQ(reader.status(), LoggerReader::Status::CannotOpen);
    EXPECT_FALSE(reader.readHeader());
}

TEST_F(LoggerReaderTest, EmptyLoggerFileTruncatesOrCreates)
{
    const QString path = write(logger_test::workedExample());
    EXPECT_EQ(EmptyLoggerFile(path), QString());
    EXPECT_EQ(QFileInfo(path).size(), 0);
    const QString fresh = dir.filePath(QStringLiteral("Virlzent.log"));
    EXPECT_EQ(EmptyLoggerFile(fresh), QString());
    EXPECT_TRUE(QFileInfo(fresh).isFile());
    EXPECT_EQ(QFileInfo(fresh).size(), 0);
    // A directory is never taken for a file.
    EXPECT_FALSE(EmptyLoggerFile(dir.path()).isEmpty());
    EXPECT_FALSE(EmptyLoggerFile(dir.filePath(QStringLiteral("no/such/dir.log"))).isEmpty());
}
