#pragma once
// The stations on the line: takes the master's requests from the line's bytes, has libmodbus
// build each station's reply, applies the station's faults and schedules the reply bytes.

#include "SimConfig.h"
#include "SimLine.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <vector>

struct _modbus;
struct _modbus_mapping_t;

namespace sim {

using Clock = std::chrono::steady_clock;

struct ServerOptions {
    LineSettings line;
    bool pace = false;          // send replies at the line's rate, after the request's own time
    unsigned seed = 1;          // for noise bytes and fault probabilities
    std::FILE* log = nullptr;   // request log, one line per request
};

class SimServer {
public:
    SimServer(SimConfig config, const ServerOptions& options, std::string& error);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    bool ready() const { return ctx_ != nullptr; }
    void setConfig(SimConfig config);
    const SimConfig& config() const { return config_; }

    // Bytes received from the master at `now`.
    void receive(const uint8_t* bytes, std::size_t count, Clock::time_point now);
    // When the next scheduled byte is due.
    std::optional<Clock::time_point> nextDue() const;
    // Writes every byte due by `now` to `fd`.
    void sendDue(int fd, Clock::time_point now);
    // Forgets partial requests and pending replies (the line was re-created).
    void reset();

private:
    void handleRequest(const uint8_t* request, Clock::time_point now);
    std::vector<uint8_t> buildReply(const StationConfig* station, const uint8_t* request, bool faulty);
    void schedule(std::vector<uint8_t> bytes, Clock::time_point start);

    SimConfig config_;
    ServerOptions options_;
    _modbus* ctx_ = nullptr;
    _modbus_mapping_t* mapping_ = nullptr;
    int pipe_[2] = {-1, -1};
    std::vector<uint8_t> pending_;
    Clock::time_point lastByte_{};
    Clock::time_point started_ = Clock::now();
    std::multimap<Clock::time_point, std::vector<uint8_t>> outgoing_;
    std::mt19937 random_;
};

} // namespace sim
