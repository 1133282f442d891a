#include "SimServer.h"

#include "SimRegisters.h"

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::size_t kRequestLength = 8;
// A gap this long between bytes ends whatever partial request came before it.
constexpr auto kFrameGap = std::chrono::milliseconds(50);

int wordAt(const uint8_t* bytes)
{
    return bytes[0] * 256 + bytes[1];
}

void setCrc(std::vector<uint8_t>& frame)
{
    if (frame.size() < 3)
        return;
    const uint16_t crc = crc16(frame.data(), frame.size() - 2);
    frame[frame.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc >> 8);
}

} // namespace

SimServer::SimServer(SimConfig config, const ServerOptions& options, std::string& error)
    : config_(std::move(config)), options_(options), random_(options.seed)
{
    // libmodbus builds the replies; it writes them into a pipe, from which the faults and the
    // pacing take them. The line itself is ours.
    if (pipe(pipe_) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return;
    }
    fcntl(pipe_[0], F_SETFL, fcntl(pipe_[0], F_GETFL) | O_NONBLOCK);
    const LineSettings& line = options_.line;
    ctx_ = modbus_new_rtu("/dev/null", line.baud, static_cast<char>(line.parity == 'n' ? 'N' : line.parity == 'e' ? 'E' : 'O'),
                          8, line.stopBits);
    mapping_ = modbus_mapping_new(0, 0, 40, 0);
    if (ctx_ == nullptr || mapping_ == nullptr) {
        error = "libmodbus cannot set up a station";
        if (ctx_ != nullptr)
            modbus_free(ctx_);
        ctx_ = nullptr;
        return;
    }
    modbus_set_socket(ctx_, pipe_[1]);
}

SimServer::~SimServer()
{
    if (mapping_ != nullptr)
        modbus_mapping_free(mapping_);
    if (ctx_ != nullptr)
        modbus_free(ctx_); // the socket is our pipe, closed below
    for (const int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}

void SimServer::setConfig(SimConfig config)
{
    config_ = std::move(config);
}

void SimServer::reset()
{
    pending_.clear();
    outgoing_.clear();
}

long long SimServer::millisecondsAt(Clock::time_point now) const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - started_).count();
}

void SimServer::logFault(Clock::time_point now, const uint8_t* request, const std::string& fault)
{
    if (options_.faultLog == nullptr)
        return;
    if (request != nullptr)
        std::fprintf(options_.faultLog, "%lld %d %d %s\n", millisecondsAt(now), request[0], wordAt(request + 2),
                     fault.c_str());
    else
        std::fprintf(options_.faultLog, "%lld - - %s\n", millisecondsAt(now), fault.c_str());
    std::fflush(options_.faultLog);
}

void SimServer::noteLineRecreated()
{
    logFault(Clock::now(), nullptr, "recreated");
}

void SimServer::receive(const uint8_t* bytes, std::size_t count, Clock::time_point now, uint32_t tag)
{
    if (!pending_.empty() && now - lastByte_ > kFrameGap)
        pending_.clear();
    lastByte_ = now;
    pending_.insert(pending_.end(), bytes, bytes + count);
    // Every request the program sends is 8 bytes with a CRC; anything else is skipped byte by
    // byte until a frame lines up.
    while (pending_.size() >= kRequestLength) {
        const uint16_t crc = crc16(pending_.data(), kRequestLength - 2);
        const bool valid = pending_[6] == (crc & 0xFF) && pending_[7] == (crc >> 8) && pending_[1] >= 1
            && pending_[1] <= 6;
        if (valid) {
            handleRequest(pending_.data(), now, tag);
            pending_.erase(pending_.begin(), pending_.begin() + kRequestLength);
        } else {
            pending_.erase(pending_.begin());
        }
    }
}

void SimServer::handleRequest(const uint8_t* request, Clock::time_point now, uint32_t tag)
{
    const int address = request[0];
    const int function = request[1];
    const int start = wordAt(request + 2);
    const int count = wordAt(request + 4);
    const double seconds = std::chrono::duration<double>(now - started_).count();
    if (options_.log != nullptr) {
        std::fprintf(options_.log, "%lld %d %d %d %d\n", millisecondsAt(now), address, function, start, count);
        std::fflush(options_.log);
    }

    bool known = false;
    const StationConfig* station = nullptr;
    std::fill(mapping_->tab_registers, mapping_->tab_registers + mapping_->nb_registers, uint16_t{0});
    for (const StationConfig& s : config_.stations) {
        if (s.address != address)
            continue;
        known = true;
        const auto regs = registersAt(s, seconds);
        std::copy(regs.begin(), regs.end(), mapping_->tab_registers + s.block);
        if (s.block == start)
            station = &s;
    }
    if (!known)
        return; // no such station on the line: silence

    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const bool faulty = station != nullptr && station->faults.any() && chance(random_) < station->faults.probability;
    if (faulty && station->faults.silent) {
        logFault(now, request, "silent");
        return;
    }
    std::vector<std::string> applied;
    std::vector<uint8_t> reply = buildReply(station, request, faulty, applied);
    for (const std::string& fault : applied)
        logFault(now, request, fault);
    if (reply.empty())
        return;

    auto startAt = now + std::chrono::milliseconds(station != nullptr ? station->delayMs : 0);
    if (faulty)
        startAt += std::chrono::milliseconds(station->faults.lateMs);
    if (options_.pace)
        startAt += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(kRequestLength * options_.line.charSeconds()));
    schedule(std::move(reply), startAt, tag);
}

std::vector<uint8_t> SimServer::buildReply(const StationConfig* station, const uint8_t* request, bool faulty,
                                           std::vector<std::string>& applied)
{
    std::vector<uint8_t> req(request, request + kRequestLength);
    modbus_set_slave(ctx_, request[0]);
    int rc = 0;
    if (station == nullptr)
        rc = modbus_reply_exception(ctx_, req.data(), MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    else if (faulty && station->faults.exception != 0)
        rc = modbus_reply_exception(ctx_, req.data(), static_cast<unsigned>(station->faults.exception));
    else
        rc = modbus_reply(ctx_, req.data(), static_cast<int>(req.size()), mapping_);
    std::vector<uint8_t> reply;
    if (rc <= 0)
        return reply;
    uint8_t buffer[512];
    for (ssize_t n; (n = ::read(pipe_[0], buffer, sizeof buffer)) > 0;)
        reply.insert(reply.end(), buffer, buffer + n);
    if (!faulty || reply.empty())
        return reply;

    // Each fault that changes the reply is named in the words of the configuration.
    const Faults& f = station->faults;
    if (f.lateMs > 0)
        applied.push_back("late=" + std::to_string(f.lateMs));
    if (f.exception != 0)
        applied.push_back("exception=" + std::to_string(f.exception));
    if (f.wrongAddress >= 0) {
        reply[0] = static_cast<uint8_t>(f.wrongAddress);
        setCrc(reply);
        applied.push_back("wrongaddr=" + std::to_string(f.wrongAddress));
    }
    if (f.badCrc) {
        reply.back() ^= 0x5A;
        applied.emplace_back("badcrc");
    }
    if (f.truncate >= 0 && static_cast<std::size_t>(f.truncate) < reply.size()) {
        reply.resize(static_cast<std::size_t>(f.truncate));
        applied.push_back("truncate=" + std::to_string(f.truncate));
    }
    if (f.noise > 0) {
        applied.push_back("noise=" + std::to_string(f.noise));
        std::uniform_int_distribution<int> byte(0, 255);
        std::vector<uint8_t> noise(static_cast<std::size_t>(f.noise));
        for (uint8_t& b : noise)
            b = static_cast<uint8_t>(byte(random_));
        reply.insert(reply.begin(), noise.begin(), noise.end());
    }
    return reply;
}

void SimServer::schedule(std::vector<uint8_t> bytes, Clock::time_point start, uint32_t tag)
{
    if (!options_.pace) {
        outgoing_.emplace(start, Due{tag, std::move(bytes)});
        return;
    }
    const auto perChar = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options_.line.charSeconds()));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        outgoing_.emplace(start + perChar * static_cast<long>(i + 1), Due{tag, std::vector<uint8_t>{bytes[i]}});
}

std::optional<Clock::time_point> SimServer::nextDue() const
{
    if (outgoing_.empty())
        return std::nullopt;
    return outgoing_.begin()->first;
}

std::vector<SimServer::Due> SimServer::takeDue(Clock::time_point now)
{
    std::vector<Due> due;
    while (!outgoing_.empty() && outgoing_.begin()->first <= now) {
        due.push_back(std::move(outgoing_.begin()->second));
        outgoing_.erase(outgoing_.begin());
    }
    return due;
}

} // namespace sim
