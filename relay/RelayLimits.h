// The relay's bounds per source. Password frames: after a few wrong ones a
// source's password frames are ignored for a while that doubles with every
// further wrong one, and only so many are checked a second from all sources
// together, so that the relay password cannot be guessed at speed.
// Identity queries: at most one "requested pvx" line per source a minute,
// so that a datagram full of them cannot flood the log. Both keep a bounded
// table of sources on the monotonic clock of the platform.
#pragma once

#include "platform/IpAddress.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pvx {

class CPasswordGuard {
public:
    static constexpr unsigned kFreeTries = 3; // wrong passwords before the first pause
    static constexpr std::uint64_t kFirstPauseMs = 1000;
    static constexpr std::uint64_t kLongestPauseMs = 300 * 1000;
    static constexpr unsigned kChecksPerSecond = 10; // from all sources together
    static constexpr std::size_t kMaxSources = 256;
    // A source quiet for this long starts again with its free tries.
    static constexpr std::uint64_t kForgetAfterMs = 3600 * 1000;
    static constexpr std::uint64_t kReportIntervalMs = 60 * 1000;

    // Whether a password frame from `source` is checked now; when not, it
    // is ignored and counted for the report.
    bool MayCheck(const SIpAddress& source);
    // The outcome of a frame that was checked.
    void Wrong(const SIpAddress& source);
    void Right(const SIpAddress& source);
    // At most once per interval, and only when frames were ignored since the
    // last one: the line that says how many and from where.
    std::optional<std::string> TakeReport();

private:
    struct SSource {
        SIpAddress address;
        unsigned wrong = 0;
        std::uint64_t pausedUntil = 0;
        std::uint64_t nextPauseMs = kFirstPauseMs;
        std::uint64_t lastSeen = 0;
    };
    SSource* Find(const SIpAddress& source, std::uint64_t now);

    std::vector<SSource> m_sources;
    std::uint64_t m_secondStart = 0;
    unsigned m_checksThisSecond = 0;
    std::uint64_t m_ignored = 0; // since the last report
    SIpAddress m_lastIgnored;
    std::optional<std::uint64_t> m_lastReport;
};

class CIdentityLines {
public:
    static constexpr std::uint64_t kIntervalMs = 60 * 1000;
    static constexpr std::size_t kMaxSources = 64;

    // The line to print for an identity query from `source`, or nothing when
    // it is held back (counted); the line says how many were held back
    // since that source's last one.
    std::optional<std::string> Line(const SIpAddress& source);

private:
    struct SSource {
        SIpAddress address;
        std::uint64_t printed = 0;
        std::uint64_t heldBack = 0;
    };
    std::vector<SSource> m_sources;
};

} // namespace pvx
