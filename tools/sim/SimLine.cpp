#include "SimLine.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

std::string lastError()
{
    return std::strerror(errno);
}

speed_t speedFor(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

std::unique_ptr<SimLine> SimLine::createPty(const std::string& link, std::string& error)
{
    std::unique_ptr<SimLine> line(new SimLine);
    line->isPty_ = true;
    line->link_ = link;
    if (!line->openPty(error) || !line->updateLink(error))
        return nullptr;
    return line;
}

std::unique_ptr<SimLine> SimLine::openDevice(const std::string& path, const LineSettings& settings,
                                             std::string& error)
{
    std::unique_ptr<SimLine> line(new SimLine);
    line->path_ = path;
    line->fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line->fd_ < 0) {
        error = path + ": " + lastError();
        return nullptr;
    }
    termios tio{};
    if (tcgetattr(line->fd_, &tio) != 0) {
        error = path + " is not a serial device: " + lastError();
        return nullptr;
    }
    cfmakeraw(&tio);
    const speed_t speed = speedFor(settings.baud);
    if (speed == B0) {
        error = "unsupported rate " + std::to_string(settings.baud);
        return nullptr;
    }
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB);
    if (settings.parity != 'n')
        tio.c_cflag |= PARENB | (settings.parity == 'o' ? PARODD : 0);
    if (settings.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (tcsetattr(line->fd_, TCSANOW, &tio) != 0) {
        error = path + ": " + lastError();
        return nullptr;
    }
    return line;
}

SimLine::~SimLine()
{
    closeFds();
    if (!link_.empty()) {
        // Remove the link only while it still names our terminal.
        char target[512] = {};
        const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && path_ == std::string(target, static_cast<std::size_t>(n)))
            ::unlink(link_.c_str());
    }
}

bool SimLine::openPty(std::string& error)
{
    char name[256] = {};
    if (openpty(&fd_, &slaveFd_, name, nullptr, nullptr) != 0) {
        error = "cannot create a pseudo-terminal: " + lastError();
        return false;
    }
    termios tio{};
    tcgetattr(slaveFd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slaveFd_, TCSANOW, &tio);
    setNonBlocking(fd_);
    path_ = name;
    return true;
}

void SimLine::closeFds()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    fd_ = slaveFd_ = -1;
}

bool SimLine::updateLink(std::string& error)
{
    if (link_.empty())
        return true;
    struct stat st {};
    if (lstat(link_.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link_ + " exists and is not a symbolic link; it is left alone";
            return false;
        }
        ::unlink(link_.c_str());
    }
    if (symlink(path_.c_str(), link_.c_str()) != 0) {
        error = "cannot link " + link_ + ": " + lastError();
        return false;
    }
    return true;
}

bool SimLine::recreate(std::string& error)
{
    if (!isPty_) {
        error = "only a pseudo-terminal can be re-created";
        return false;
    }
    closeFds();
    return openPty(error) && updateLink(error);
}

} // namespace sim
