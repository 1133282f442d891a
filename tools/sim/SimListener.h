#pragma once
// The simulator served over TCP: a listening socket that takes one connection at a time (as a
// serial device server or a Modbus TCP gateway does with its one line), and, for Modbus TCP, the
// gateway's translation between MBAP frames and the RTU frames of the stations.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class SimListener {
public:
    // Listens on "HOST:PORT" ("127.0.0.1:5020", "[::1]:0", "localhost:502"; port 0: any free one).
    static std::unique_ptr<SimListener> listen(const std::string& hostPort, std::string& error);
    ~SimListener();
    SimListener(const SimListener&) = delete;
    SimListener& operator=(const SimListener&) = delete;

    int listenFd() const { return listenFd_; }
    // The connection being served, or -1.
    int clientFd() const { return clientFd_; }
    // Takes a waiting connection; one already served is closed first (its peer went away or is
    // replaced, as a device server does).
    void accept();
    void dropClient();
    // "HOST:PORT" actually listened on, with the port chosen when 0 was asked for.
    const std::string& address() const { return address_; }

private:
    SimListener() = default;
    int listenFd_ = -1;
    int clientFd_ = -1;
    std::string address_;
};

// A Modbus TCP gateway's framing.
class MbapGateway {
public:
    struct Request {
        uint32_t tag;             // the transaction identifier
        std::vector<uint8_t> rtu; // the request as it goes on the line, with its CRC
    };
    // Bytes from the master; the whole requests in them. False when the bytes cannot be Modbus
    // TCP (the connection should be dropped).
    bool receive(const uint8_t* bytes, std::size_t count, std::vector<Request>& requests);
    // The station's RTU reply to the request `tag` as the gateway sends it; empty when the reply
    // is no valid frame (a gateway does not pass on a damaged frame: the master times out).
    static std::vector<uint8_t> wrap(uint32_t tag, const std::vector<uint8_t>& rtu);
    void reset() { pending_.clear(); }

private:
    std::vector<uint8_t> pending_;
};

} // namespace sim
