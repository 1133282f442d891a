// Network addresses as COM port devices, and Modbus TCP's framing of RTU frames.

#include "ModbusReplies.h"

#include "serial/MbapFrame.h"
#include "serial/NetworkDevice.h"
#include "serial/PortDevices.h"

#include <gtest/gtest.h>

using namespace serial;

TEST(NetworkDevice, AddressesAreTakenApartOrRefusedWithAReason)
{
    struct Case {
        const char* text;
        const char* host; // nullptr: refused
        int port;
        NetworkMode mode;
        const char* problem;
    };
    const Case cases[] = {
        {"rtu+tcp://192.168.1.10:4001", "192.168.1.10", 4001, NetworkMode::RawRtu, ""},
        {"MODBUS+TCP://gateway.local:502/", "gateway.local", 502, NetworkMode::ModbusTcp, ""},
        {"modbus+tcp://[::1]:502", "::1", 502, NetworkMode::ModbusTcp, ""},
        {"rtu+tcp://host", nullptr, 0, {}, "has no port number (HOST:PORT)"},
        {"rtu+tcp://:502", nullptr, 0, {}, "has no host name"},
        {"rtu+tcp://::1:502", nullptr, 0, {}, "has an IPv6 address that is not in brackets ([::1]:502)"},
        {"rtu+tcp://[::1]502", nullptr, 0, {}, "has no port number (HOST:PORT)"},
        {"rtu+tcp://[::1:502", nullptr, 0, {}, "has a \"[\" without its \"]\""},
        {"rtu+tcp://host:0", nullptr, 0, {}, "has a port number that is not 1 to 65535"},
        {"rtu+tcp://host:65536", nullptr, 0, {}, "has a port number that is not 1 to 65535"},
        {"rtu+tcp://host:50x", nullptr, 0, {}, "has a port number that is not 1 to 65535"},
        {"rtu+tcp://ho st:502", nullptr, 0, {}, "has a host name with characters no host name holds"},
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        QString problem;
        const auto parsed = parseNetworkDevice(text, &problem);
        EXPECT_TRUE(isNetworkDevice(text)) << c.text;
        // [ports] in zentlog.ini refuses what cannot be connected to, with the same reason.
        EXPECT_EQ(unusableDevice(text), QString::fromUtf8(c.problem)) << c.text;
        if (c.host == nullptr) {
            EXPECT_FALSE(parsed) << c.text;
            EXPECT_EQ(problem, QString::fromUtf8(c.problem)) << c.text;
            continue;
        }
        ASSERT_TRUE(parsed) << c.text << ": " << problem.toStdString();
        EXPECT_EQ(parsed->host, QString::fromUtf8(c.host));
        EXPECT_EQ(parsed->port, c.port);
        EXPECT_EQ(parsed->mode, c.mode);
        EXPECT_EQ(parseNetworkDevice(networkDeviceText(*parsed))->host, parsed->host);
    }
    EXPECT_FALSE(isNetworkDevice(QStringLiteral("/dev/ttyS0")));
}

TEST(MbapFrame, CarriesTheRtuFrameAndRefusesWhatIsNoFrame)
{
    const QByteArray rtu = testing_support::readReply(7, testing_support::kSomeRegisters);
    const QByteArray frame = mbapFromRtu(rtu, 0x1234);
    EXPECT_EQ(frame.first(7).toHex(), "12340000001307"); // transaction, protocol 0, length 19, unit 7
    QByteArray stream = frame + frame.first(5);          // a second frame still coming
    MbapTake take = takeMbapFrame(stream);
    ASSERT_EQ(take.kind, MbapTake::Frame);
    EXPECT_EQ(take.transaction, 0x1234);
    EXPECT_EQ(take.rtu, rtu); // its CRC computed again
    EXPECT_EQ(takeMbapFrame(stream).kind, MbapTake::Incomplete);
    for (const QByteArray& garbage : {QByteArray::fromHex("00010001000307"), QByteArray::fromHex("00010000000107"),
                                      QByteArray::fromHex("000100000100ff")}) {
        QByteArray bytes = garbage;
        EXPECT_EQ(takeMbapFrame(bytes).kind, MbapTake::Garbage) << garbage.toHex().constData();
    }
}
