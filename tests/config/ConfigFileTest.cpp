#include "config/ChannelConfiguration.h"
#include "config/ConfigFile.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace config;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

// A selected flow channel; an unselected channel without type; a tag with a comma; addresses
// "3" and "03"; a channel with no role.
const QByteArray kSample = "1,5\r\n"
                           "\"3\",\"PUMP A\"\r\n"
                           "0,-1\r\n"
                           "\"\",\"\"\r\n"
                           "1,2\r\n"
                           "\"03\",\"tank 1, inlet\"\r\n"
                           "0,12\r\n"
                           "\"14\",\"turb\xb0\"\r\n"
                           "#TRUE#,#FALSE#,#TRUE#,#FALSE#\r\n"
                           "#FALSE#,#FALSE#,#FALSE#,#TRUE#\r\n";

class ConfigFileTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("config.txt")); }

    // Loads a bad file: one message naming the file, the empty configuration, the file untouched.
    void expectRefused(const QByteArray& contents, const char* mention = nullptr)
    {
        writeFile(path(), contents);
        ScriptedDialogs dialogs;
        ChannelConfiguration model(dialogs, dir.path());
        EXPECT_FALSE(model.LoadChannelConfig());
        for (int i = 0; i < kChannelCount; ++i)
            EXPECT_EQ(model.channel(i), ChannelConfig{}) << "Input " << i;
        ASSERT_EQ(dialogs.boxes.size(), 1);
        EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Warning);
        EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("\"config.txt\""))) << dialogs.boxes[0].text.toStdString();
        if (mention) {
            EXPECT_TRUE(dialogs.boxes[0].text.contains(QString::fromLatin1(mention)))
                << dialogs.boxes[0].text.toStdString();
        }
        EXPECT_EQ(readFile(path()), contents);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(ConfigFileTest, SampleIsReadAndWrittenBackByteForByte)
{
    const ConfigParse parsed = parseConfig(kSample);
    ASSERT_FALSE(parsed.malformed);
    EXPECT_TRUE(parsed.problems.isEmpty());
    const Channels& c = parsed.channels;
    EXPECT_EQ(c[0].selected, 1);
    EXPECT_EQ(c[0].measurementType, TypeFlow);
    EXPECT_EQ(c[0].role(), ChannelRole::Master);
    EXPECT_EQ(c[1].measurementType, TypeNone);
    EXPECT_EQ(c[1].role(), ChannelRole::None);
    EXPECT_EQ(c[2].stationAddress, QStringLiteral("03"));
    EXPECT_EQ(c[2].tag, QStringLiteral("tank 1, inlet"));
    EXPECT_EQ(c[3].tag, QStringLiteral("turb°"));
    EXPECT_EQ(c[3].role(), ChannelRole::Ext);
    EXPECT_EQ(serializeConfig(c), kSample);
}

TEST_F(ConfigFileTest, SaveAndLoadThroughTheModelKeepTheFileExact)
{
    writeFile(path(), kSample);
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    ASSERT_TRUE(model.LoadChannelConfig());
    QFile::remove(path());
    ASSERT_TRUE(model.SaveChannelConfig());
    EXPECT_EQ(readFile(path()), kSample);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(ConfigFileTest, FieldsAreAFlatSequenceWhateverTheLines)
{
    QByteArray flat = kSample;
    flat.replace("\r\n", ",");
    EXPECT_EQ(parseConfig(flat).channels, parseConfig(kSample).channels);
    QByteArray lf = kSample;
    lf.replace("\r\n", "\n");
    EXPECT_EQ(parseConfig(lf).channels, parseConfig(kSample).channels);
    QByteArray spaced = kSample;
    spaced.replace("\r\n", "  \r\n   ");
    EXPECT_EQ(parseConfig(spaced).channels, parseConfig(kSample).channels);
}

TEST_F(ConfigFileTest, BooleansMayBeNumbersAndTheLaterOptionOfAPairWins)
{
    QByteArray text = kSample;
    text.replace("#TRUE#,#FALSE#,#TRUE#,#FALSE#\r\n", "-1,0,1,#TRUE#\r\n");
    const Channels c = parseConfig(text).channels;
    EXPECT_TRUE(c[0].master);
    EXPECT_FALSE(c[1].master);
    EXPECT_TRUE(c[2].master);
    // Channel 3 has both lines True: choosing Ext. clears Master.
    EXPECT_FALSE(c[3].master);
    EXPECT_TRUE(c[3].ext);
}

TEST_F(ConfigFileTest, MalformedFilesGiveOneMessageAndTheEmptyConfiguration)
{
    expectRefused("");
    expectRefused(kSample.left(kSample.indexOf("1,2")), "ends early");
    expectRefused("1,5\r\n\"3,PUMP\r\n", "closing quote");
    expectRefused(QByteArray(kSample).replace("1,5", "x,5"), "should be a number");
    expectRefused(QByteArray(kSample).replace("#TRUE#,#FALSE#,#TRUE#", "#TRUE#,maybe,#TRUE#"), "Master option of Input 1");
    expectRefused(QByteArray("\x01\x00\xff\xfe binary", 11), "binary");
    expectRefused(QByteArray(10 * 1024 * 1024, '7'), "larger");
}

TEST_F(ConfigFileTest, MissingFileGivesTheEmptyConfigurationAndIsNotCreated)
{
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    EXPECT_EQ(model.selected(0), 0); // the first read loads
    EXPECT_TRUE(model.isLoaded());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("config.txt")));
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(ConfigFileTest, ValuesOutsideTheControlLimitsAreReplacedByTheEmptyValue)
{
    QByteArray text = kSample;
    text.replace("1,5\r\n", "5,42\r\n");
    writeFile(path(), text);
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    EXPECT_FALSE(model.LoadChannelConfig());
    EXPECT_EQ(model.selected(0), 0);
    EXPECT_EQ(model.measurementType(0), TypeNone);
    EXPECT_EQ(model.stationAddress(0), QStringLiteral("3")); // the rest of the file stands
    EXPECT_EQ(model.measurementType(2), TypePH);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("42")));
    EXPECT_EQ(readFile(path()), text);
}

TEST_F(ConfigFileTest, ADoubleQuoteCannotBeStored)
{
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    writeFile(path(), kSample);
    model.LoadChannelConfig();
    model.setTag(1, QStringLiteral("say \"hi\""));
    model.setStationAddress(1, QStringLiteral("\"7"));
    EXPECT_EQ(model.tag(1), QStringLiteral("say hi"));
    EXPECT_EQ(model.stationAddress(1), QStringLiteral("7"));
    ASSERT_TRUE(model.SaveChannelConfig());
    EXPECT_EQ(parseConfig(readFile(path())).channels[1].tag, QStringLiteral("say hi"));
}

TEST(ChannelConfiguration, FirstReadRunsTheHookOnceAndLabelsFollowTheTags)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("config.txt")), kSample);
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    int hookRuns = 0;
    model.setFirstAccessHook([&] {
        ++hookRuns;
        EXPECT_EQ(model.selected(0), 0); // a read during the hook does not recurse
        model.LoadChannelConfig();
    });
    QSignalSpy selection(&model, &ChannelConfiguration::selectionChanged);
    EXPECT_EQ(model.selected(2), 1);
    EXPECT_EQ(model.selected(0), 1);
    EXPECT_EQ(hookRuns, 1);
    EXPECT_EQ(selection.count(), 2); // channels 0 and 2 turned to 1 while loading

    EXPECT_EQ(model.channelLabels()[0], QString()); // labels wait for OK or CANCEL
    model.BuildChannelLabels();
    EXPECT_EQ(model.channelLabels()[0], QStringLiteral("PUMP A\r\nDaily totalization\r\nTotalization"));
    EXPECT_EQ(model.channelLabels()[1], QString());
    model.setTag(0, QString());
    model.BuildChannelLabels();
    EXPECT_EQ(model.channelLabels()[0], QStringLiteral("\r\nDaily totalization\r\nTotalization"));
    EXPECT_EQ(model.channelLabels()[2], QStringLiteral("tank 1, inlet"));

    EXPECT_EQ(model.IsChannelMaster(0), std::optional<bool>(true));
    EXPECT_EQ(model.IsChannelMaster(1), std::optional<bool>(false));
    EXPECT_FALSE(model.IsChannelMaster(4).has_value());
    EXPECT_FALSE(model.IsChannelMaster(-1).has_value());

    model.unload();
    EXPECT_FALSE(model.isLoaded());
    EXPECT_EQ(model.selected(2), 1);
    EXPECT_EQ(hookRuns, 2);
}

TEST(ChannelConfiguration, ChoosingARoleClearsTheOtherAndClearingChangesNothingElse)
{
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    ChannelConfiguration model(dialogs, dir.path());
    model.ensureLoaded();
    model.setRoleOption(1, 0, true);
    EXPECT_EQ(model.channel(1).role(), ChannelRole::Master);
    model.setRoleOption(1, 1, true);
    EXPECT_EQ(model.channel(1).role(), ChannelRole::Ext);
    model.setRoleOption(1, 0, false);
    EXPECT_EQ(model.channel(1).role(), ChannelRole::Ext);
    model.setRoleOption(1, 1, false);
    EXPECT_EQ(model.channel(1).role(), ChannelRole::None);
}

TEST(ChannelConfiguration, AReaderWokenByALoadDoesNotStartAnotherOne)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("config.txt")), kSample);
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    int hookRuns = 0;
    model.setFirstAccessHook([&] { ++hookRuns; });
    QStringList seen;
    QObject::connect(&model, &ChannelConfiguration::channelChanged, [&](int i) { seen << model.tag(i); });
    EXPECT_TRUE(model.LoadChannelConfig());
    EXPECT_EQ(hookRuns, 0);
    EXPECT_TRUE(seen.contains(QStringLiteral("PUMP A")));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(ConfigFileTest, ACommaAtTheEndOfALineIsFollowedByAnEmptyField)
{
    // Line 2 ends after the address and its comma: the tag is empty, and line 3 still starts
    // channel 1.
    QByteArray text = kSample;
    text.replace("\"3\",\"PUMP A\"\r\n", "\"1\",\r\n");
    writeFile(path(), text);
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    EXPECT_TRUE(model.LoadChannelConfig());
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(model.stationAddress(0), QStringLiteral("1"));
    EXPECT_EQ(model.tag(0), QString());
    EXPECT_EQ(model.measurementType(0), TypeFlow);
    const Channels expected = parseConfig(kSample).channels;
    for (int i = 1; i < kChannelCount; ++i)
        EXPECT_EQ(model.channel(i), expected[static_cast<size_t>(i)]) << "Input " << i;
    EXPECT_TRUE(model.channel(0).master);
    Channels loaded{};
    for (int i = 0; i < kChannelCount; ++i)
        loaded[static_cast<size_t>(i)] = model.channel(i);

    // The same with LF alone, blanks before the line end, and a comma at the very end of the file.
    QByteArray lf = text;
    lf.replace("\r\n", "\n");
    EXPECT_EQ(parseConfig(lf).channels, loaded);
    QByteArray blanks = text;
    blanks.replace("\"1\",\r\n", "\"1\",   \r\n");
    EXPECT_EQ(parseConfig(blanks).channels, loaded);
    QByteArray noTag = kSample;
    noTag.replace("\"14\",\"turb\xb0\"", "\"14\",");
    const ConfigParse parsed = parseConfig(noTag);
    EXPECT_FALSE(parsed.malformed) << parsed.problems.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(parsed.channels[3].stationAddress, QStringLiteral("14"));
    EXPECT_EQ(parsed.channels[3].tag, QString());
    EXPECT_EQ(parsed.channels[3].role(), ChannelRole::Ext);

    // A comma at the very end of the file is followed by an empty field too: here the last
    // option, which cannot be empty.
    QByteArray cut = kSample;
    cut.replace("#FALSE#,#FALSE#,#FALSE#,#TRUE#\r\n", "#FALSE#,#FALSE#,#FALSE#,");
    const ConfigParse refused = parseConfig(cut);
    EXPECT_TRUE(refused.malformed);
    EXPECT_TRUE(refused.problems.join(QLatin1Char('|')).contains(QStringLiteral("Ext. option of Input 3")))
        << refused.problems.join(QLatin1Char('|')).toStdString();
}

TEST_F(ConfigFileTest, EmptyLinesBetweenFieldsHoldNone)
{
    QByteArray text = kSample;
    text.replace("\r\n", "\r\n\r\n");
    EXPECT_EQ(parseConfig(text).channels, parseConfig(kSample).channels);
}

TEST_F(ConfigFileTest, SelectionAndTypeOutsideTheirListsAreReportedOneByOne)
{
    const struct {
        const char* line;
        bool reported;
        int16_t selected;
        int16_t type;
    } cases[] = {
        {"1,16", true, 1, TypeNone}, {"1,-2", true, 1, TypeNone}, {"1,42", true, 1, TypeNone},
        {"3,5", true, 0, TypeFlow},  {"-1,5", true, 0, TypeFlow}, {"1,-1", false, 1, TypeNone},
        {"1,15", false, 1, 15},      {"0,0", false, 0, 0},        {"2,5", false, 2, TypeFlow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        QByteArray text = kSample;
        text.replace("1,5\r\n", QByteArray(c.line) + "\r\n");
        writeFile(path(), text);
        ScriptedDialogs dialogs;
        ChannelConfiguration model(dialogs, dir.path());
        EXPECT_EQ(model.LoadChannelConfig(), !c.reported);
        EXPECT_EQ(model.selected(0), c.selected);
        EXPECT_EQ(model.measurementType(0), c.type);
        EXPECT_EQ(model.tag(0), QStringLiteral("PUMP A")); // the rest of the file stands
        if (c.reported) {
            ASSERT_EQ(dialogs.boxes.size(), 1);
            const QString& message = dialogs.boxes[0].text;
            EXPECT_TRUE(message.contains(QStringLiteral("allowed:"))) << message.toStdString();
            EXPECT_TRUE(message.contains(QStringLiteral("replaced values"))) << message.toStdString();
        } else {
            EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
        }
    }
}

TEST_F(ConfigFileTest, AFileOfExactlyTheSizeLimitIsReadAndOneByteMoreIsNot)
{
    // The ten lines, then blanks up to the size: what follows the last field is not read.
    QByteArray text = kSample + QByteArray(kConfigFileMaxBytes - kSample.size(), ' ');
    ASSERT_EQ(text.size(), kConfigFileMaxBytes);
    writeFile(path(), text);
    {
        ScriptedDialogs dialogs;
        ChannelConfiguration model(dialogs, dir.path());
        EXPECT_TRUE(model.LoadChannelConfig());
        EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(model.tag(0), QStringLiteral("PUMP A"));
    }
    expectRefused(text + ' ', "larger than 65536 bytes");
}

TEST_F(ConfigFileTest, SavingOverAnUnreadableFileKeepsItAsBad)
{
    const QString kept = dir.filePath(QStringLiteral("config.txt.bad"));
    const QByteArray damaged = QByteArray(kSample).replace("#TRUE#,#FALSE#,#TRUE#", "#TRUE#,maybe,#TRUE#");
    writeFile(kept, "an older kept copy"); // replaced: one kept copy, the latest
    writeFile(path(), damaged);
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    EXPECT_FALSE(model.LoadChannelConfig());
    model.setTag(1, QStringLiteral("new"));
    dialogs.clear();
    ASSERT_TRUE(model.SaveChannelConfig());
    EXPECT_EQ(readFile(kept), damaged);
    EXPECT_EQ(parseConfig(readFile(path())).channels[1].tag, QStringLiteral("new"));
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Information);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("\"config.txt.bad\""))) << dialogs.boxes[0].text.toStdString();

    // The next save finds a readable file: no copy, no box.
    dialogs.clear();
    model.setTag(1, QStringLiteral("newer"));
    ASSERT_TRUE(model.SaveChannelConfig());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(readFile(kept), damaged);
}

TEST_F(ConfigFileTest, NoCopyIsKeptOfAMissingOrReadableFile)
{
    const QString kept = dir.filePath(QStringLiteral("config.txt.bad"));
    ScriptedDialogs dialogs;
    ChannelConfiguration model(dialogs, dir.path());
    model.LoadChannelConfig(); // missing
    dialogs.clear();
    ASSERT_TRUE(model.SaveChannelConfig());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(kept));

    // Values outside their lists are replaced one by one; the rest of the file is in the model.
    writeFile(path(), QByteArray(kSample).replace("1,5\r\n", "1,42\r\n"));
    model.LoadChannelConfig();
    dialogs.clear();
    ASSERT_TRUE(model.SaveChannelConfig());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(kept));
}
