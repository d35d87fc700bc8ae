// Local sockets, termination signals and symbolic links for the tools.
#include "platform/ToolSupport.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstring>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pvx {

namespace {

bool FillAddress(const std::string& path, sockaddr_un& address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

CUniqueFd CreateLocalListener(const std::string& path)
{
    sockaddr_un address{};
    if (!FillAddress(path, address))
        return CUniqueFd();
    struct stat info{};
    if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        ::unlink(path.c_str());
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd)
        return fd;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd.Get(), 4) != 0)
        return CUniqueFd();
    return fd;
}

CUniqueFd AcceptConnection(int listener)
{
    int fd;
    do {
        fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    return CUniqueFd(fd);
}

CUniqueFd ConnectLocal(const std::string& path)
{
    sockaddr_un address{};
    if (!FillAddress(path, address))
        return CUniqueFd();
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return fd;
    int rc;
    do {
        rc = ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return CUniqueFd();
    return fd;
}

CUniqueFd CreateTerminationSignalFd()
{
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return CUniqueFd();
    return CUniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

int ReadTerminationSignal(int fd)
{
    signalfd_siginfo info{};
    ssize_t n;
    do {
        n = ::read(fd, &info, sizeof info);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

bool CreateSymbolicLink(const std::string& target, const std::string& linkPath)
{
    struct stat info{};
    if (::lstat(linkPath.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode))
            return false;
        ::unlink(linkPath.c_str());
    }
    return ::symlink(target.c_str(), linkPath.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

CUniqueFd OpenLogFile(const std::string& path)
{
    return CUniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
}

} // namespace pvx
