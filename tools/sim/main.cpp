// zentlog-sim: measuring stations on a serial line, for trying and testing the program without
// the equipment. See tools/README.md.

#include "SimConfig.h"
#include "SimLine.h"
#include "SimListener.h"
#include "SimServer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const char* const kUsage =
    "usage: zentlog-sim [--config FILE] [--station \"ADDRESS BLOCK TYPE [OPTION]...\"]...\n"
    "                   [--link PATH | --device PATH | --listen HOST:PORT [--mode rtu|modbus]]\n"
    "                   [--log FILE] [--fault-log FILE] [--pace]\n"
    "                   [--baud N] [--parity n|e|o] [--stop 1|2] [--seed N]\n"
    "Serves the configured stations on a new pseudo-terminal (its path is the first line printed),\n"
    "on a serial device, or over TCP (--listen; port 0 takes a free one): as a serial device server\n"
    "passing the RTU bytes (--mode rtu, the default) or as a Modbus TCP gateway (--mode modbus);\n"
    "the first line printed is then the program's device, rtu+tcp://HOST:PORT or modbus+tcp://...\n"
    "SIGHUP reloads the configuration file, SIGUSR1 re-creates the pseudo-terminal (or drops the\n"
    "TCP connection), SIGINT or SIGTERM ends the simulator.\n";

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const auto byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

struct Options {
    std::string configFile;
    std::vector<std::string> stationLines;
    std::string link;
    std::string device;
    std::string listen;
    bool modbusTcp = false;
    std::string logFile;
    std::string faultLogFile;
    sim::LineSettings line;
    bool pace = false;
    unsigned seed = 1;
};

int usageError(const std::string& message)
{
    std::cerr << "zentlog-sim: " << message << "\n" << kUsage;
    return 2;
}

bool parseNumber(const std::string& text, long low, long high, long& out)
{
    try {
        std::size_t used = 0;
        out = std::stol(text, &used);
        return used == text.size() && out >= low && out <= high;
    } catch (...) {
        return false;
    }
}

// The stations of the configuration file and of the --station options.
std::optional<sim::SimConfig> loadConfig(const Options& options, std::string& error)
{
    sim::SimConfig config;
    std::string why;
    if (!options.configFile.empty()) {
        std::ifstream in(options.configFile, std::ios::binary);
        if (!in) {
            error = options.configFile + ": cannot be read";
            return std::nullopt;
        }
        std::ostringstream content;
        content << in.rdbuf();
        auto fromFile = sim::parseConfig(content.str(), why);
        if (!fromFile) {
            error = options.configFile + " " + why;
            return std::nullopt;
        }
        config = std::move(*fromFile);
    }
    for (const std::string& line : options.stationLines) {
        auto one = sim::parseConfig(line, why);
        if (!one) {
            error = "--station \"" + line + "\": " + why.substr(why.find(':') + 2);
            return std::nullopt;
        }
        for (const sim::StationConfig& station : one->stations) {
            for (const sim::StationConfig& other : config.stations) {
                if (other.address == station.address && other.block == station.block) {
                    error = "--station \"" + line + "\": station " + std::to_string(station.address) + " block "
                        + std::to_string(station.block) + " is already defined";
                    return std::nullopt;
                }
            }
            config.stations.push_back(station);
        }
    }
    return config;
}

} // namespace

int main(int argc, char* argv[])
{
    Options options;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--pace") {
            options.pace = true;
            continue;
        }
        const auto v = value();
        if (!v)
            return usageError(arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unknown argument " + arg);
        if (arg == "--config")
            options.configFile = *v;
        else if (arg == "--station")
            options.stationLines.push_back(*v);
        else if (arg == "--link")
            options.link = *v;
        else if (arg == "--device")
            options.device = *v;
        else if (arg == "--listen")
            options.listen = *v;
        else if (arg == "--mode" && (*v == "rtu" || *v == "modbus"))
            options.modbusTcp = *v == "modbus";
        else if (arg == "--log")
            options.logFile = *v;
        else if (arg == "--fault-log")
            options.faultLogFile = *v;
        else if (arg == "--baud" && parseNumber(*v, 300, 115200, number))
            options.line.baud = static_cast<int>(number);
        else if (arg == "--parity" && (*v == "n" || *v == "e" || *v == "o"))
            options.line.parity = (*v)[0];
        else if (arg == "--stop" && (*v == "1" || *v == "2"))
            options.line.stopBits = (*v)[0] - '0';
        else if (arg == "--seed" && parseNumber(*v, 0, 0x7FFFFFFF, number))
            options.seed = static_cast<unsigned>(number);
        else
            return usageError("bad argument " + arg + " " + *v);
    }
    if (options.configFile.empty() && options.stationLines.empty())
        return usageError("no stations: give --config FILE or --station");
    if (!options.link.empty() + !options.device.empty() + !options.listen.empty() > 1)
        return usageError("--link, --device and --listen exclude each other");
    if (options.modbusTcp && options.listen.empty())
        return usageError("--mode modbus needs --listen");
    if (options.modbusTcp && options.pace)
        return usageError("--pace paces a line: a Modbus TCP gateway answers in whole frames");

    std::string error;
    auto config = loadConfig(options, error);
    if (!config)
        return usageError(error);

    using LogFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    LogFile log(nullptr, &std::fclose);
    LogFile faultLog(nullptr, &std::fclose);
    for (auto [name, file] : {std::pair{&options.logFile, &log}, std::pair{&options.faultLogFile, &faultLog}}) {
        if (name->empty())
            continue;
        file->reset(std::fopen(name->c_str(), "a"));
        if (!*file)
            return usageError(*name + ": " + std::strerror(errno));
    }

    std::unique_ptr<sim::SimLine> line;
    std::unique_ptr<sim::SimListener> listener;
    sim::MbapGateway gateway;
    if (!options.listen.empty())
        listener = sim::SimListener::listen(options.listen, error);
    else
        line = options.device.empty() ? sim::SimLine::createPty(options.link, error)
                                      : sim::SimLine::openDevice(options.device, options.line, error);
    if (!line && !listener) {
        std::cerr << "zentlog-sim: " << error << "\n";
        return 2;
    }

    sim::SimServer server(std::move(*config), {options.line, options.pace, options.seed, log.get(), faultLog.get()}, error);
    if (!server.ready()) {
        std::cerr << "zentlog-sim: " << error << "\n";
        return 2;
    }

    if (pipe(signalPipe) != 0)
        return 2;
    fcntl(signalPipe[0], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = onSignal;
    for (const int s : {SIGHUP, SIGUSR1, SIGINT, SIGTERM})
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const std::string where = line ? line->path()
                                   : (options.modbusTcp ? "modbus+tcp://" : "rtu+tcp://") + listener->address();
    std::cout << where << std::endl;
    std::cerr << "zentlog-sim: " << server.config().stations.size() << " station block(s) on " << where
              << (options.link.empty() ? "" : " (" + options.link + ")") << "\n";
    // The connection went (or is replaced): whatever was under way on it is forgotten.
    const auto dropConnection = [&] {
        listener->dropClient();
        server.reset();
        gateway.reset();
    };

    for (;;) {
        const auto now = sim::Clock::now();
        int timeoutMs = -1;
        if (const auto due = server.nextDue()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - now).count();
            timeoutMs = static_cast<int>(std::max<long long>(0, wait));
        }
        const int lineFd = line ? line->fd() : listener->clientFd();
        pollfd fds[3] = {{lineFd, POLLIN, 0}, {signalPipe[0], POLLIN, 0}, {listener ? listener->listenFd() : -1, POLLIN, 0}};
        const int ready = poll(fds, 3, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            std::cerr << "zentlog-sim: " << std::strerror(errno) << "\n";
            return 1;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            char s = 0;
            while (::read(signalPipe[0], &s, 1) == 1) {
                if (s == SIGINT || s == SIGTERM)
                    return 0;
                if (s == SIGHUP) {
                    if (options.configFile.empty()) {
                        std::cerr << "zentlog-sim: no configuration file to reload\n";
                    } else if (auto fresh = loadConfig(options, error)) {
                        server.setConfig(std::move(*fresh));
                        std::cerr << "zentlog-sim: configuration reloaded\n";
                    } else {
                        std::cerr << "zentlog-sim: " << error << "; keeping the previous configuration\n";
                    }
                }
                if (s == SIGUSR1 && listener) {
                    dropConnection();
                    std::cerr << "zentlog-sim: connection dropped\n";
                } else if (s == SIGUSR1) {
                    server.reset();
                    if (!line->recreate(error)) {
                        std::cerr << "zentlog-sim: " << error << "\n";
                        return 1;
                    }
                    server.noteLineRecreated();
                    std::cout << line->path() << std::endl;
                }
            }
        }
        if (ready > 0 && (fds[2].revents & POLLIN)) {
            // A new master replaces the one served so far, as on a device server with one line.
            dropConnection();
            listener->accept();
        }
        if (ready > 0 && lineFd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            uint8_t buffer[512];
            const ssize_t n = ::read(lineFd, buffer, sizeof buffer);
            if (n > 0 && !options.modbusTcp) {
                server.receive(buffer, static_cast<std::size_t>(n), sim::Clock::now());
            } else if (n > 0) {
                std::vector<sim::MbapGateway::Request> requests;
                const bool framed = gateway.receive(buffer, static_cast<std::size_t>(n), requests);
                for (const auto& request : requests)
                    server.receive(request.rtu.data(), request.rtu.size(), sim::Clock::now(), request.tag);
                if (!framed) {
                    std::cerr << "zentlog-sim: bytes that are no Modbus TCP frame; connection dropped\n";
                    dropConnection();
                }
            } else if (listener && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
                dropConnection(); // the master closed the connection
            } else if (line && (fds[0].revents & (POLLERR | POLLHUP)) && !(fds[0].revents & POLLIN)) {
                // The other end is away for now; don't spin while it is.
                poll(nullptr, 0, 20);
            }
        }
        const int outFd = line ? line->fd() : listener->clientFd();
        for (const sim::SimServer::Due& due : server.takeDue(sim::Clock::now())) {
            // Nobody reading the line: the bytes are lost, as on a wire. A gateway passes on
            // whole valid frames only.
            const std::vector<uint8_t> bytes = options.modbusTcp ? sim::MbapGateway::wrap(due.tag, due.bytes) : due.bytes;
            if (outFd >= 0 && !bytes.empty())
                [[maybe_unused]] const ssize_t written = ::write(outFd, bytes.data(), bytes.size());
        }
    }
}
