// Helpers of the model's own XCP answers: the handler lists its dispatch
// reads, the finishing pass that checks and completes reply blocks, and the
// readings of the software version. Requests are read through CXCPRequest.
#pragma once

#include "xcp/link/XCPCommandTable.h"
#include "xcp/link/XCPRequest.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pvx {

class CAbstractUPS;

// The model text the emulated UPS identifies itself with (16 characters).
inline constexpr std::string_view kEmulatedModelText = "  VERDAN   PVX  ";

// Walks the reply blocks laid back to back in `reply` (0xAB, number, n,
// sequence, n data bytes, checksum), writes each block's checksum and cuts
// the reply after the first block flagged last. False, with `reply` left as
// it was, when a block does not start with 0xAB, runs past the end, or no
// block is flagged last.
bool FinishXCPReply(std::vector<std::uint8_t>& reply);

// The UPS software version text read as a hexadecimal number (leading blanks
// and a 0x prefix allowed, reading stops at the first other character):
// true and its low byte when it is nonzero.
bool ReadVersionAsHex(std::string_view text, std::uint8_t& lowByte);
// The version text read as a decimal fraction, times 10, truncated and held
// to 16 bits; 0 when it does not start with a number.
std::uint16_t ReadVersionTimesTen(std::string_view text);

} // namespace pvx
