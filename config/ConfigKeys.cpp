// Reads of pvx.ini keys through their table entries.
#include "config/ConfigKeys.h"

#include <cassert>
#include <charconv>
#include <cstring>

namespace pvx {

std::string KeyName(const SConfigKey& key, std::size_t index)
{
    assert(index < key.count);
    return key.count > 1 ? key.key + std::to_string(index + 1) : std::string(key.key);
}

unsigned DefaultUnsigned(const SConfigKey& key)
{
    assert(key.type == EConfigType::Unsigned);
    unsigned value = 0;
    const char* end = key.defaultValue + std::strlen(key.defaultValue);
    [[maybe_unused]] auto result = std::from_chars(key.defaultValue, end, value);
    assert(result.ec == std::errc() && result.ptr == end);
    return value;
}

std::string ReadString(const CINIFile& file, const SConfigKey& key, std::size_t index)
{
    assert(key.type == EConfigType::String);
    // Two stored SHA-256 keys alone take more than the usual line.
    if (key.lineLimit != 0)
        return file.GetString(key.section, KeyName(key, index), key.defaultValue, key.lineLimit);
    return file.GetString(key.section, KeyName(key, index), key.defaultValue);
}

unsigned ReadUnsigned(const CINIFile& file, const SConfigKey& key)
{
    return file.GetUInt(key.section, KeyName(key), DefaultUnsigned(key));
}

bool ReadSwitch(const CINIFile& file, const SConfigKey& key)
{
    return ReadUnsigned(file, key) != 0;
}

std::uint32_t ReadAddress(const CINIFile& file, const SConfigKey& key)
{
    // 0.0.0.0 is the default of every address key: no trap host, every interface.
    assert(key.type == EConfigType::Address && std::strcmp(key.defaultValue, "0.0.0.0") == 0);
    return ReadAddressKey(file, key.section, KeyName(key), 0);
}

SIpAddress ReadIpAddress(const CINIFile& file, const SConfigKey& key)
{
    assert(key.type == EConfigType::Address);
    return ReadIpAddressKey(file, key.section, KeyName(key));
}

CAddressList ReadAddressList(const CINIFile& file, const SConfigKey& key)
{
    assert(key.type == EConfigType::AddressList && *key.defaultValue == '\0');
    return ReadAddressListKey(file, key.section, KeyName(key));
}

} // namespace pvx
