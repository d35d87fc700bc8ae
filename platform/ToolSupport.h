// Operating-system services that the command-line tools (the UPS simulator
// above all) need beyond the daemon's: local control sockets, termination
// signals as a descriptor, and symbolic links.
#pragma once

#include "platform/UniqueFd.h"

#include <string>

namespace pvx {

// A listening UNIX stream socket at `path`. A stale socket file left there
// by an earlier run is replaced; any other kind of file is left alone.
CUniqueFd CreateLocalListener(const std::string& path);
// Accepts one waiting connection (non-blocking listener assumed readable).
CUniqueFd AcceptConnection(int listener);
// Connects to a UNIX stream socket (used by tests and scripts).
CUniqueFd ConnectLocal(const std::string& path);

// Blocks SIGTERM, SIGINT and SIGHUP and returns a descriptor that becomes
// readable when one of them arrives; SIGPIPE is ignored so that a client
// that went away shows up as a write error.
CUniqueFd CreateTerminationSignalFd();
// Reads the pending signal from that descriptor: its number, or 0.
int ReadTerminationSignal(int fd);

// Creates (or replaces an existing symbolic link at) `linkPath` pointing at
// `target`. Refuses to replace anything that is not a symbolic link.
bool CreateSymbolicLink(const std::string& target, const std::string& linkPath);
bool RemoveFile(const std::string& path);

// Creates or truncates a log file for appending; each write goes straight to
// the file, so readers see every line as soon as it is written.
CUniqueFd OpenLogFile(const std::string& path);

} // namespace pvx
