#include "SimListener.h"

#include "SimRegisters.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool splitHostPort(const std::string& text, std::string& host, std::string& port)
{
    std::size_t colon = 0;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos)
            return false;
        host = text.substr(0, colon);
    }
    port = text.substr(colon + 1);
    return !host.empty() && !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

std::unique_ptr<SimListener> SimListener::listen(const std::string& hostPort, std::string& error)
{
    std::string host;
    std::string port;
    if (!splitHostPort(hostPort, host, port)) {
        error = "--listen " + hostPort + ": not HOST:PORT";
        return nullptr;
    }
    // getaddrinfo takes any number and cuts it to 16 bits (99999 would listen on 34463).
    unsigned number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (ec != std::errc() || end != port.data() + port.size() || number > 65535) {
        error = "--listen " + hostPort + ": the port is not a number from 0 to 65535";
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = "--listen " + hostPort + ": " + gai_strerror(rc);
        return nullptr;
    }
    std::unique_ptr<SimListener> listener(new SimListener);
    for (addrinfo* a = found; a != nullptr && listener->listenFd_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
            error = "--listen " + hostPort + ": " + std::strerror(errno);
            ::close(fd);
            continue;
        }
        setNonBlocking(fd);
        listener->listenFd_ = fd;
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        const int actualPort = bound.ss_family == AF_INET6
            ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
            : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        listener->address_ = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":"
            + std::to_string(actualPort);
    }
    freeaddrinfo(found);
    if (listener->listenFd_ < 0)
        return nullptr;
    return listener;
}

SimListener::~SimListener()
{
    dropClient();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

void SimListener::accept()
{
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    dropClient();
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    clientFd_ = fd;
}

void SimListener::dropClient()
{
    if (clientFd_ >= 0)
        ::close(clientFd_);
    clientFd_ = -1;
}

bool MbapGateway::receive(const uint8_t* bytes, std::size_t count, std::vector<Request>& requests)
{
    pending_.insert(pending_.end(), bytes, bytes + count);
    while (pending_.size() >= 7) {
        const unsigned protocol = pending_[2] * 256u + pending_[3];
        const unsigned length = pending_[4] * 256u + pending_[5];
        if (protocol != 0 || length < 2 || length > 254)
            return false;
        if (pending_.size() < 6 + length)
            break;
        Request request{pending_[0] * 256u + pending_[1], {pending_.begin() + 6, pending_.begin() + 6 + length}};
        const uint16_t crc = crc16(request.rtu.data(), request.rtu.size());
        request.rtu.push_back(static_cast<uint8_t>(crc & 0xFF));
        request.rtu.push_back(static_cast<uint8_t>(crc >> 8));
        requests.push_back(std::move(request));
        pending_.erase(pending_.begin(), pending_.begin() + 6 + length);
    }
    return true;
}

std::vector<uint8_t> MbapGateway::wrap(uint32_t tag, const std::vector<uint8_t>& rtu)
{
    if (rtu.size() < 4)
        return {};
    const uint16_t crc = crc16(rtu.data(), rtu.size() - 2);
    if (rtu[rtu.size() - 2] != (crc & 0xFF) || rtu[rtu.size() - 1] != (crc >> 8))
        return {};
    const std::size_t length = rtu.size() - 2;
    std::vector<uint8_t> frame{static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag & 0xFF), 0, 0,
                               static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)};
    frame.insert(frame.end(), rtu.begin(), rtu.end() - 2);
    return frame;
}

} // namespace sim
