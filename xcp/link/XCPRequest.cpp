// The bounded view of an XCP request frame.
#include "xcp/link/XCPRequest.h"

#include "xcp/link/XCPFrame.h"

namespace pvx {

std::span<const std::uint8_t> CXCPRequest::FrameAt(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty() || bytes[0] != kXCPStartByte)
        return {};
    return CXCPRequest(bytes).Whole();
}

std::span<const std::uint8_t> CXCPRequest::Whole() const
{
    if (m_frame.size() < 2)
        return {};
    const std::size_t size = static_cast<std::size_t>(m_frame[1]) + 3;
    return size <= m_frame.size() ? m_frame.first(size) : std::span<const std::uint8_t>();
}

} // namespace pvx
