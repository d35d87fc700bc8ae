// The relay's per-source bounds on password guesses and identity lines.
#include "relay/RelayLimits.h"

#include "config/AddressList.h"
#include "platform/Clock.h"

#include <algorithm>
#include <utility>

namespace pvx {

CPasswordGuard::SSource* CPasswordGuard::Find(const SIpAddress& source, std::uint64_t now)
{
    auto found = std::ranges::find(m_sources, source, &SSource::address);
    if (found == m_sources.end())
        return nullptr;
    if (now - found->lastSeen >= kForgetAfterMs && now >= found->pausedUntil) {
        m_sources.erase(found);
        return nullptr;
    }
    return &*found;
}

bool CPasswordGuard::MayCheck(const SIpAddress& source)
{
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    if (now - m_secondStart >= 1000 || now < m_secondStart) {
        m_secondStart = now;
        m_checksThisSecond = 0;
    }
    const SSource* known = Find(source, now);
    if ((known != nullptr && now < known->pausedUntil) || m_checksThisSecond >= kChecksPerSecond) {
        ++m_ignored;
        m_lastIgnored = source;
        return false;
    }
    ++m_checksThisSecond;
    return true;
}

void CPasswordGuard::Wrong(const SIpAddress& source)
{
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    SSource* entry = Find(source, now);
    if (entry == nullptr) {
        // Bounded: the source heard from longest ago makes room.
        if (m_sources.size() >= kMaxSources)
            m_sources.erase(std::ranges::min_element(m_sources, {}, &SSource::lastSeen));
        m_sources.push_back({ source });
        entry = &m_sources.back();
    }
    entry->lastSeen = now;
    if (++entry->wrong < kFreeTries)
        return;
    entry->pausedUntil = now + entry->nextPauseMs;
    entry->nextPauseMs = std::min(entry->nextPauseMs * 2, kLongestPauseMs);
}

void CPasswordGuard::Right(const SIpAddress& source)
{
    std::erase_if(m_sources, [&source](const SSource& entry) { return entry.address == source; });
}

std::optional<std::string> CPasswordGuard::TakeReport()
{
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    if (m_ignored == 0 || (m_lastReport && now - *m_lastReport < kReportIntervalMs))
        return std::nullopt;
    const bool first = !m_lastReport;
    m_lastReport = now;
    std::string line = std::to_string(m_ignored) + " relay password frame" + (m_ignored == 1 ? "" : "s")
        + " ignored" + (first ? "" : " since the last report") + ", the last from "
        + FormatIpAddress(m_lastIgnored);
    m_ignored = 0;
    return line;
}

std::optional<std::string> CIdentityLines::Line(const SIpAddress& source)
{
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    auto found = std::ranges::find(m_sources, source, &SSource::address);
    if (found == m_sources.end()) {
        // A new source takes the place of one whose minute has passed; while
        // every place is that recent its line is held back too.
        auto oldest = std::ranges::min_element(m_sources, {}, &SSource::printed);
        if (m_sources.size() >= kMaxSources) {
            if (now - oldest->printed < kIntervalMs)
                return std::nullopt;
            m_sources.erase(oldest);
        }
        m_sources.push_back({ source, now, 0 });
        return std::string("requested pvx\n");
    }
    if (now - found->printed < kIntervalMs) {
        ++found->heldBack;
        return std::nullopt;
    }
    found->printed = now;
    const std::uint64_t held = std::exchange(found->heldBack, 0);
    if (held == 0)
        return std::string("requested pvx\n");
    return "requested pvx (" + std::to_string(held) + " more from " + FormatIpAddress(source) + " held back)\n";
}

} // namespace pvx
