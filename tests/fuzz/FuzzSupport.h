// Shared pieces of the fuzz targets: a reader that splits one fuzz input into
// parts, a scratch file, and the check that stops on a broken invariant.
#pragma once

#include "platform/ByteCursor.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

// The libFuzzer entry point; the replay driver calls it for each corpus file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace pvx::fuzz {

using Bytes = std::vector<std::uint8_t>;

// A broken invariant is a finding: say which and abort, so that libFuzzer
// keeps the input and the replay test fails.
#define PVX_FUZZ_CHECK(condition)                                                                                      \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);                     \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

// Takes parts of one fuzz input from the front; past the end every read
// gives zeros and empty spans, so a target never needs to check the size.
class CFuzzInput {
public:
    CFuzzInput(const std::uint8_t* data, std::size_t size)
        : m_cursor(std::span<const std::uint8_t>(data, size))
    {
    }

    std::uint8_t Byte()
    {
        std::uint8_t value = 0;
        m_cursor.ReadU8(value);
        return value;
    }
    std::uint16_t U16()
    {
        std::uint16_t value = Byte();
        return static_cast<std::uint16_t>(value | (Byte() << 8));
    }
    std::uint32_t U32() { return U16() | (static_cast<std::uint32_t>(U16()) << 16); }
    std::span<const std::uint8_t> Take(std::size_t count) { return m_cursor.TakeUpTo(count); }
    // A part preceded by its length byte.
    std::span<const std::uint8_t> Chunk() { return Take(Byte()); }
    std::span<const std::uint8_t> Rest() { return Take(m_cursor.Remaining()); }
    std::size_t Remaining() const { return m_cursor.Remaining(); }

private:
    CByteCursor m_cursor;
};

// A file of this process for readers that take a path; removed at exit. It
// lives in memory where possible: a disk file system may write a truncated and
// rewritten file through to the disk on every close, which would be most of
// the time of a run.
class CScratchFile {
public:
    explicit CScratchFile(const char* stem)
    {
        std::string folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/";
        std::string pattern = folder + stem + "-XXXXXX";
        std::vector<char> path(pattern.begin(), pattern.end());
        path.push_back('\0');
        int fd = ::mkstemp(path.data());
        PVX_FUZZ_CHECK(fd >= 0);
        ::close(fd);
        m_path = path.data();
    }
    ~CScratchFile() { std::remove(m_path.c_str()); }
    CScratchFile(const CScratchFile&) = delete;
    CScratchFile& operator=(const CScratchFile&) = delete;

    const std::string& Path() const { return m_path; }
    void Write(std::span<const std::uint8_t> bytes) const
    {
        std::FILE* file = std::fopen(m_path.c_str(), "wb");
        PVX_FUZZ_CHECK(file != nullptr);
        if (!bytes.empty())
            PVX_FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
        std::fclose(file);
    }

private:
    std::string m_path;
};

// The driver prints a line at every identification; fuzzing runs it many
// thousand times a second, so standard output goes to the null device.
inline void SilenceStandardOutput()
{
    static const bool silenced = [] {
        std::fflush(stdout);
        int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
        return true;
    }();
    (void)silenced;
}

} // namespace pvx::fuzz
