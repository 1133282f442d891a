#pragma once
// The simulator's end of the serial line: a pseudo-terminal it creates (the program opens the
// other end by its path), or a real serial device.

#include <memory>
#include <string>

namespace sim {

struct LineSettings {
    int baud = 9600;
    char parity = 'n'; // n, e or o
    int stopBits = 1;

    // Seconds one character takes on the wire: start bit, 8 data bits, parity, stop bits.
    double charSeconds() const { return (1 + 8 + (parity == 'n' ? 0 : 1) + stopBits) / static_cast<double>(baud); }
};

class SimLine {
public:
    // A new pseudo-terminal in raw mode; `link`, if not empty, becomes a symbolic link to it.
    static std::unique_ptr<SimLine> createPty(const std::string& link, std::string& error);
    // A serial device, set to `settings`.
    static std::unique_ptr<SimLine> openDevice(const std::string& path, const LineSettings& settings,
                                               std::string& error);
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Where requests are read and replies written (non-blocking).
    int fd() const { return fd_; }
    // The path the program opens.
    const std::string& path() const { return path_; }
    // Closes the pseudo-terminal and creates a new one (the program loses its port); false on
    // a device or when no new one can be made.
    bool recreate(std::string& error);

private:
    SimLine() = default;
    bool openPty(std::string& error);
    void closeFds();
    bool updateLink(std::string& error);

    int fd_ = -1;
    int slaveFd_ = -1; // held open so that the line stays up while the program reopens it
    bool isPty_ = false;
    std::string path_;
    std::string link_;
};

} // namespace sim
