// "zentlog.ini" read once and checked as a whole: damage of any kind is one reason that names the
// file (and its first bad line), whatever QSettings has cached; a good file's sections give typed
// values and note, by file and key, what they cannot use.

#include "common/IniSections.h"

#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using common::IniFile;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString ini() const { return dir.filePath(QStringLiteral("zentlog.ini")); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(IniFileTest, DamageOfAnyKindIsOneReasonNamingTheFile)
{
    QByteArray noise(20000, '\0');
    QRandomGenerator(2024).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const auto write = [this](const QByteArray& bytes) { return [this, bytes] { testing_support::writeFile(ini(), bytes); }; };
    const QString good = dir.filePath(QStringLiteral("good.ini"));
    testing_support::writeFile(good, "[mqtt]\nhost=a\n");
    const struct {
        const char* name;
        std::function<void()> make;
        const char* reason;
    } cases[] = {
        {"random bytes, after QSettings took their parse error",
         [&] {
             write(noise)();
             QSettings first(ini(), QSettings::IniFormat);
         },
         " cannot be read: line 1 "},
        {"a NUL byte", write("[mqtt]\nhost=a\nport=1" + QByteArray(1, '\0') + "883\n"), " cannot be read: line 3 holds a NUL byte"},
        {"a character cut short", write("[mqtt]\nhost=\xC3\n"), " cannot be read: line 2 is not UTF-8 text"},
        {"a line of words", write("[mqtt]\nhost=a\njust words\n"), " cannot be read: line 3 is neither a [section] nor a key=value"},
        {"a section not closed", write("; ok\n[mqtt\nhost=a\n"), " cannot be read: line 2 is neither"},
        {"too large", write(QByteArray(common::kMaxIniBytes + 1, '#')), " is larger than 1048576 bytes"},
        {"a link", [&] { ASSERT_TRUE(QFile::link(good, ini())); }, " is not a regular file but a symbolic link"},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(ini()).constData(), 0600), 0); }, " is not a regular file (a pipe"},
        {"a folder", [&] { ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("zentlog.ini"))); }, " is not a regular file but a directory"},
    };
    for (const auto& c : cases) {
        if (!QFile::remove(ini()))
            QDir(dir.path()).rmdir(QStringLiteral("zentlog.ini"));
        c.make();
        const IniFile file = IniFile::inDirectory(dir.path());
        EXPECT_TRUE(file.damage().startsWith(u'"' + ini() + u'"' + QLatin1String(c.reason))) << c.name << ": " << file.damage().toStdString();
        common::IniSection mqtt = file.section(QStringLiteral("mqtt"));
        EXPECT_FALSE(mqtt.text(QStringLiteral("host"), QStringLiteral("localhost"))) << c.name;
        EXPECT_EQ(mqtt.report(QStringLiteral("publishing uses its defaults")), file.damage() + "; publishing uses its defaults.");
    }
    EXPECT_EQ(testing_support::readFile(good), "[mqtt]\nhost=a\n"); // never written through
}

TEST_F(IniFileTest, SectionsGiveTypedValuesAndNoteWhatTheyCannotUse)
{
    EXPECT_FALSE(IniFile::inDirectory(dir.path()).damaged()); // missing: no damage, no keys
    testing_support::writeFile(ini(), "\xEF\xBB\xBF; site Pump house 2\r\n[mqtt]\r\nhost = broker ; the control room\r\n"
                                      "port=1883\r\nenabled=Yes\r\nsite=a, b\r\nqos=7\r\nuser=\"x\\x01\"\r\n"
                                      "note=first \\\r\n  and second\r\n# the end\r\n[ports]\r\nCOM1=/dev/ttyUSB0\r\n");
    const IniFile file = IniFile::inDirectory(dir.path());
    ASSERT_FALSE(file.damaged()) << file.damage().toStdString();
    common::IniSection mqtt = file.section(QStringLiteral("mqtt"));
    EXPECT_EQ(mqtt.text(QStringLiteral("host"), {}), QStringLiteral("broker"));
    EXPECT_EQ(mqtt.integer(QStringLiteral("port"), 0, 65535, {}, {}), 1883);
    EXPECT_EQ(mqtt.boolean(QStringLiteral("enabled"), {}), true);
    EXPECT_FALSE(mqtt.text(QStringLiteral("site"), QStringLiteral("the host name")));
    EXPECT_FALSE(mqtt.integer(QStringLiteral("qos"), 0, 2, QStringLiteral("is not 0, 1 or 2"), QStringLiteral("1")));
    EXPECT_FALSE(mqtt.text(QStringLiteral("user"), QStringLiteral("none")));
    EXPECT_FALSE(mqtt.text(QStringLiteral("COM1"), {})); // another section's key
    EXPECT_EQ(mqtt.report({}), QStringLiteral("In \"%1\": [mqtt] site=a, b holds a comma; put the value in double quotes "
                                              "(the host name is used); [mqtt] qos=7 is not 0, 1 or 2 (1 is used); "
                                              "[mqtt] user holds a control character (none is used).")
                                   .arg(ini()));
    EXPECT_EQ(file.section(QStringLiteral("ports")).text(QStringLiteral("COM1"), {}), QStringLiteral("/dev/ttyUSB0"));
}
