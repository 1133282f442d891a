// What a serial line can hand us, through reply validation, every station reader and the value
// formatting. The first bytes choose the measurement type, the block and the station; the next 16
// are the registers of a valid reply, which is delivered after the remaining bytes as noise. The
// whole input is also scanned as a received stream on its own.

#include "measure/StationReaders.h"
#include "measure/ValueText.h"
#include "serial/FakeSerialControl.h"
#include "serial/ModbusFrame.h"
#include "serial/ReplyFrame.h"
#include "serial/SerialPort.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

namespace {

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "reply_decode_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    application();
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    serial::ModbusRequest request;
    request.Address = size > 0 ? data[0] : 1;
    request.StartRegister = size > 1 && (data[1] & 1) ? 20 : 0;
    serial::BuildReadRequest(request);
    const serial::ReplyScan scan = serial::scanForReply(bytes, request);
    (void)scan;

    if (size < 3 + 16)
        return 0;
    const auto type = static_cast<int16_t>(data[0] % 16);
    const int16_t start = (data[1] & 1) ? 20 : 0;
    const uint8_t address = static_cast<uint8_t>(1 + data[2] % 14);
    QByteArray reply;
    reply.append(static_cast<char>(address));
    reply.append('\x03');
    reply.append('\x10');
    reply.append(bytes.mid(3, 16));
    reply.append(serial::ComputeCrc16(reply));
    const QByteArray noise = bytes.mid(19, 64);

    serial::FakeSerialControl port;
    serial::SerialSettings settings = serial::SerialSettings::defaults();
    serial::OpenSerialPort(settings, port);
    port.setResponder([&](const QByteArray&) { port.receive(noise + reply); });
    measure::StationValues values;
    if (!measure::ReadStation(type, port, address, start, values).ok())
        return 0; // noise may itself hold another valid frame; nothing is decoded then
    const QString text = measure::FormatChannelValue(type, values);
    if (text.isEmpty() || text.contains(QStringLiteral("Out of order")))
        std::abort();
    return 0;
}
