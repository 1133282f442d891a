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
#include <string>
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
    std::FILE* faultLog = nullptr; // fault log, one line per fault applied
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

    // Bytes received from the master at `now`. The replies to the requests in them carry `tag`
    // (a Modbus TCP gateway's transaction identifier).
    void receive(const uint8_t* bytes, std::size_t count, Clock::time_point now, uint32_t tag = 0);
    // When the next scheduled byte is due.
    std::optional<Clock::time_point> nextDue() const;
    struct Due {
        uint32_t tag;
        std::vector<uint8_t> bytes;
    };
    // Takes the bytes due by `now`, with the tag of the request each answers.
    std::vector<Due> takeDue(Clock::time_point now);
    // Forgets partial requests and pending replies (the line was re-created).
    void reset();
    // Notes in the fault log that the line was closed and created anew.
    void noteLineRecreated();

private:
    void handleRequest(const uint8_t* request, Clock::time_point now, uint32_t tag);
    // The reply to `request`, with the station's faults when `faulty`; `applied` names each fault
    // that changed it.
    std::vector<uint8_t> buildReply(const StationConfig* station, const uint8_t* request, bool faulty,
                                    std::vector<std::string>& applied);
    void schedule(std::vector<uint8_t> bytes, Clock::time_point start, uint32_t tag);
    long long millisecondsAt(Clock::time_point now) const;
    void logFault(Clock::time_point now, const uint8_t* request, const std::string& fault);

    SimConfig config_;
    ServerOptions options_;
    _modbus* ctx_ = nullptr;
    _modbus_mapping_t* mapping_ = nullptr;
    int pipe_[2] = {-1, -1};
    std::vector<uint8_t> pending_;
    Clock::time_point lastByte_{};
    Clock::time_point started_ = Clock::now();
    std::multimap<Clock::time_point, Due> outgoing_;
    std::mt19937 random_;
};

} // namespace sim
