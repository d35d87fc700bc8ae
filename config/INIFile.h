// The configuration file: an INI text read afresh on every call and rewritten
// whole on every write. Reads report no error: a missing file, section or key
// gives the default. Reading needs read access only (a file made immutable
// or mounted read-only is read); writing needs write access. A write reports failure (errno set), and a failed write
// leaves the file byte for byte as it was.
#pragma once

#include "platform/IpAddress.h"

#include <cstdint>
#include <string>

namespace pvx {

class CINIFile {
public:
    explicit CINIFile(std::string path) : m_path(std::move(path)) {}
    virtual ~CINIFile() = default;

    const std::string& GetPath() const { return m_path; }
    // Throws EVENT_CONFIG_UNREADABLE, naming the file, when it exists but
    // cannot be read: serving every default in its place would ignore what
    // the operator configured. A missing file is no error.
    void RequireReadable() const;

    // The value is read as a line of at most 255 characters (newline
    // included), the rest of a longer line being read as another; `lineLimit`
    // raises that bound for this key.
    std::string GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
        std::size_t lineLimit = 255) const;
    int GetInt(const std::string& section, const std::string& key, int defaultValue) const;
    unsigned GetUInt(const std::string& section, const std::string& key, unsigned defaultValue) const;

    // True once the file holds the new line.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value) const;
    bool WriteInt(const std::string& section, const std::string& key, int value) const;

private:
    // Finds the key's "=" and returns the offset just after it in `contents`.
    bool FindKey(const std::string& section, const std::string& key, std::string& contents, std::size_t& offset) const;
    // The key's value read as a sign and a magnitude; false where it is none.
    bool FindNumber(const std::string& section, const std::string& key, bool& negative,
        unsigned long long& magnitude) const;

    std::string m_path;
};

// An IPv4 address (network byte order) from a key holding a dotted address,
// used as written, or a host name, looked up; the default when the key is
// empty. A name that does not resolve throws 0xC0020050 with the key and
// the value (and a detail line naming both).
std::uint32_t ReadAddressKey(const CINIFile& file, const std::string& section, const std::string& key,
                             std::uint32_t defaultAddress);
// The same for either family (ResolveIpHost): an IPv6 address, or a name
// that resolves only to one, besides IPv4; the unspecified address when the
// key is empty. A value that gives no address throws as ReadAddressKey.
SIpAddress ReadIpAddressKey(const CINIFile& file, const std::string& section, const std::string& key);

} // namespace pvx
