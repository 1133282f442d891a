// The [mqtt] options of "zentlog.ini": read with their defaults standing in for anything
// unusable, stored without losing a line of the rest of the file, never through a link, never
// half-written; the site as topics show it; the password file read without ever waiting.

#include "publish/MqttSettings.h"

#include "SmallFileSystem.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace publish;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class MqttSettingsTest : public ::testing::Test {
protected:
    QString ini() const { return dir.filePath(QStringLiteral("zentlog.ini")); }
    QString problemOf(const QByteArray& mqttLines)
    {
        writeFile(ini(), "[mqtt]\n" + mqttLines);
        return MqttSettings::load(dir.path()).problem;
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(MqttSettingsTest, WithoutAFileTheDefaultsHoldAndNothingIsCreated)
{
    const MqttSettings settings = MqttSettings::load(dir.path());
    EXPECT_TRUE(settings.problem.isEmpty());
    EXPECT_FALSE(settings.enabled);
    EXPECT_EQ(settings.host, QStringLiteral("localhost"));
    EXPECT_EQ(settings.effectivePort(), 1883);
    EXPECT_FALSE(settings.tls.has_value());
    EXPECT_EQ(settings.qos, 1);
    EXPECT_EQ(settings.format, Format::Json);
    EXPECT_EQ(settings.destination(), QStringLiteral("localhost:1883"));
    EXPECT_FALSE(QFile::exists(ini()));

    // TLS comes on with a CA file unless it is set off, and brings its own default port.
    MqttSettings tls;
    tls.caFile = QStringLiteral("/etc/ssl/ca.pem");
    EXPECT_TRUE(tls.useTls());
    EXPECT_EQ(tls.effectivePort(), 8883);
    tls.tls = false;
    EXPECT_EQ(tls.effectivePort(), 1883);
    tls.host = QStringLiteral("::1");
    tls.port = 1884;
    EXPECT_EQ(tls.destination(), QStringLiteral("[::1]:1884"));
}

TEST_F(MqttSettingsTest, EveryKeyReadsBackAfterASave)
{
    MqttSettings written;
    written.enabled = true;
    written.host = QStringLiteral("broker.example.net");
    written.port = 8884;
    written.tls = false;
    written.caFile = QStringLiteral("/etc/zentlog/CA files/broker ca.pem");
    written.username = QStringLiteral("pump, \"house\" 2; µ\\x20");
    written.passwordFile = QStringLiteral("/etc/zentlog/password");
    written.site = QStringLiteral("Station Nord-Est");
    written.qos = 2;
    written.format = Format::Sparkplug;
    ASSERT_EQ(written.save(dir.path()), QString());

    MqttSettings back = MqttSettings::load(dir.path());
    EXPECT_TRUE(back.problem.isEmpty()) << back.problem.toStdString();
    EXPECT_TRUE(back.enabled);
    EXPECT_EQ(back.host, written.host);
    EXPECT_EQ(back.port, 8884);
    EXPECT_EQ(back.tls, std::optional<bool>(false));
    EXPECT_EQ(back.caFile, written.caFile);
    EXPECT_EQ(back.username, written.username);
    EXPECT_EQ(back.passwordFile, written.passwordFile);
    EXPECT_EQ(back.site, written.site);
    EXPECT_EQ(back.qos, 2);
    EXPECT_EQ(back.format, Format::Sparkplug);

    // Back to the defaults: TLS unset and the default port come back as unset, not as values.
    ASSERT_EQ(MqttSettings{}.save(dir.path()), QString());
    back = MqttSettings::load(dir.path());
    EXPECT_TRUE(back.problem.isEmpty()) << back.problem.toStdString();
    EXPECT_FALSE(back.tls.has_value());
    EXPECT_EQ(back.port, 0);
    EXPECT_EQ(back.caFile, QString());
    EXPECT_EQ(back.format, Format::Json);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("zentlog.ini")});
}

TEST_F(MqttSettingsTest, UnusableValuesAreToldByFileAndKeyAndTheDefaultsStandIn)
{
    writeFile(ini(), "[mqtt]\nenabled=maybe\nhost=\nport=70000\ntls=sometimes\nqos=3\nformat=xml\n"
                     "site=a, b\nusername=ops\n");
    const MqttSettings settings = MqttSettings::load(dir.path());
    for (const char* told : {"enabled=maybe", "[mqtt] host=", "port=70000", "tls=sometimes", "qos=3", "format=xml",
                             "site=a, b"})
        EXPECT_TRUE(settings.problem.contains(QLatin1String(told))) << told << ": " << settings.problem.toStdString();
    EXPECT_TRUE(settings.problem.contains(ini()));
    EXPECT_FALSE(settings.problem.contains(QStringLiteral("username")));
    EXPECT_FALSE(settings.enabled);
    EXPECT_EQ(settings.host, QStringLiteral("localhost"));
    EXPECT_EQ(settings.port, 0);
    EXPECT_FALSE(settings.tls.has_value());
    EXPECT_EQ(settings.qos, 1);
    EXPECT_EQ(settings.format, Format::Json);
    EXPECT_EQ(settings.site, QString());
    EXPECT_EQ(settings.username, QStringLiteral("ops")); // the good ones are used all the same

    EXPECT_TRUE(problemOf("port=-1\n").contains(QStringLiteral("port=-1")));
    EXPECT_TRUE(problemOf("port=http\n").contains(QStringLiteral("port=http")));
    EXPECT_TRUE(problemOf("host=my broker\n").contains(QStringLiteral("holds a space")));
    EXPECT_TRUE(problemOf("site=\"a\\x01b\"\n").contains(QStringLiteral("control character")));
    EXPECT_EQ(problemOf("enabled= Yes \nport=\ntls=\nformat=SparkPlug\nqos= 0\n"), QString());
    EXPECT_EQ(MqttSettings::load(dir.path()).format, Format::Sparkplug);
}

TEST_F(MqttSettingsTest, TheRestOfTheFileStaysAsTheUserWroteIt)
{
    writeFile(ini(), "; site Pump house 2\r\n[history]\r\nretention_days = 90 ; three months\r\n\r\n"
                     "[mqtt]\r\n; the broker in the control room\r\nhost = 10.0.0.5\r\nqos=0 ; the radio link is slow\r\n"
                     "colour=green\r\n\r\n[ports]\r\nCOM1=/dev/ttyUSB0\r\n");
    MqttSettings settings = MqttSettings::load(dir.path());
    ASSERT_TRUE(settings.problem.isEmpty()) << settings.problem.toStdString();
    settings.enabled = true;
    settings.site = QStringLiteral("north");
    ASSERT_EQ(settings.save(dir.path()), QString());
    EXPECT_EQ(readFile(ini()),
              "; site Pump house 2\r\n[history]\r\nretention_days = 90 ; three months\r\n\r\n"
              "[mqtt]\r\n; the broker in the control room\r\nhost=10.0.0.5\r\nqos=0\r\ncolour=green\r\n"
              "enabled=true\r\nport=\r\ntls=\r\nca_file=\r\nusername=\r\npassword_file=\r\nsite=north\r\nformat=json\r\n"
              "\r\n[ports]\r\nCOM1=/dev/ttyUSB0\r\n");

    // Without an [mqtt] section one is added at the end.
    writeFile(ini(), "[history]\nenabled=false\n");
    ASSERT_EQ(MqttSettings{}.save(dir.path()), QString());
    EXPECT_TRUE(readFile(ini()).startsWith("[history]\nenabled=false\n\n[mqtt]\nenabled=false\nhost=localhost\n"));
    EXPECT_EQ(QSettings(ini(), QSettings::IniFormat).value(QStringLiteral("history/enabled")).toString(),
              QStringLiteral("false"));
}

TEST_F(MqttSettingsTest, ALinkOrAPipeAtTheNameIsNeverWrittenThroughNorWaitedOn)
{
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.ini"));
    const QByteArray original = "[mqtt]\nhost=a\n";
    writeFile(elsewhere, original);
    ASSERT_TRUE(QFile::link(elsewhere, ini()));
    MqttSettings settings;
    settings.host = QStringLiteral("b");
    const QString refusal = settings.save(dir.path());
    EXPECT_TRUE(refusal.contains(QStringLiteral("symbolic link")) && refusal.contains(ini())) << refusal.toStdString();
    EXPECT_EQ(readFile(elsewhere), original);
    EXPECT_TRUE(QFileInfo(ini()).isSymLink());
    QFile::remove(ini());

    ASSERT_EQ(::mkfifo(QFile::encodeName(ini()).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(MqttSettings::load(dir.path()).problem.contains(QStringLiteral("not a regular file")));
    EXPECT_FALSE(settings.save(dir.path()).isEmpty());
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST_F(MqttSettingsTest, AFullDiskLeavesTheOldFileWholeAndSaysWhy)
{
    hardening_test::SmallFileSystem disk;
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    const QString path = disk.filePath(QStringLiteral("zentlog.ini"));
    QByteArray original = "[mqtt]\nhost=old.example.net\n[site]\n";
    for (int i = 0; i < 40; ++i)
        original += "note" + QByteArray::number(i) + "=a line the user wrote about the site\n";
    writeFile(path, original);
    ASSERT_GT(disk.fill(QStringLiteral("filler")), 0);

    MqttSettings settings;
    settings.host = QStringLiteral("a-much-longer-host-name-than-before.example.net");
    settings.caFile = QStringLiteral("/etc/zentlog/certificates/the-broker-certificate-authority.pem");
    const QString error = settings.save(disk.path());
    EXPECT_TRUE(error.contains(QStringLiteral("No space left on device"))) << error.toStdString();
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral("filler"), QStringLiteral("zentlog.ini")}));
}

TEST(MqttSite, IsTheSettingOrTheHostNameWithNothingTopicsCannotHold)
{
    MqttSettings settings;
    settings.site = QStringLiteral("  plant/3 +#\tnorth\x7f ");
    EXPECT_EQ(settings.effectiveSite(), QStringLiteral("plant_3 ___north_"));
    settings.site = QStringLiteral("Zürich-Süd");
    EXPECT_EQ(settings.effectiveSite(), QStringLiteral("Zürich-Süd"));
    settings.site = QStringLiteral("/");
    EXPECT_EQ(settings.effectiveSite(), QStringLiteral("_"));

    settings.site.clear();
    const QString site = settings.effectiveSite();
    EXPECT_FALSE(site.isEmpty());
    for (const QChar c : {u'/', u'+', u'#'})
        EXPECT_FALSE(site.contains(c));
    if (const QString host = QSysInfo::machineHostName(); !host.isEmpty() && !host.contains(u'/')) {
        EXPECT_EQ(site, host);
    }
}

TEST_F(MqttSettingsTest, ThePasswordIsTheFirstLineOfAFileOnlyItsOwnerReads)
{
    const QString path = dir.filePath(QStringLiteral("password"));
    writeFile(path, "s3cret pass\r\nsecond line\r\n");
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    PasswordFile read = readPasswordFile(path);
    EXPECT_EQ(read.password, QByteArray("s3cret pass"));
    EXPECT_TRUE(read.problem.isEmpty());
    EXPECT_TRUE(read.warning.isEmpty());

    writeFile(path, "no line end");
    EXPECT_EQ(readPasswordFile(path).password, QByteArray("no line end"));

    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    read = readPasswordFile(path);
    EXPECT_EQ(read.password, QByteArray("no line end")); // a warning, not a refusal
    EXPECT_TRUE(read.warning.contains(path)) << read.warning.toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    EXPECT_FALSE(readPasswordFile(path).warning.isEmpty());
}

TEST_F(MqttSettingsTest, APasswordFileThatCannotBeReadIsToldWithoutWaiting)
{
    const QString missing = dir.filePath(QStringLiteral("missing"));
    EXPECT_TRUE(readPasswordFile(missing).problem.contains(missing));

    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    const PasswordFile fromFifo = readPasswordFile(fifo);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(fromFifo.problem.contains(fifo)) << fromFifo.problem.toStdString();
    EXPECT_TRUE(fromFifo.password.isEmpty());

    EXPECT_TRUE(readPasswordFile(dir.path()).problem.contains(QStringLiteral("not a regular file")));

    const QString big = dir.filePath(QStringLiteral("big"));
    writeFile(big, "password\n" + QByteArray(64 * 1024, 'x'));
    const PasswordFile fromBig = readPasswordFile(big);
    EXPECT_FALSE(fromBig.problem.isEmpty());
    EXPECT_TRUE(fromBig.password.isEmpty());
}
