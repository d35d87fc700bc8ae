// Fuzz target: the BER reader on its own. Walks the input as nested TLVs,
// reading each known type with its own reader, then reads it again as a list
// of variable bindings, writing every binding read and reading it back: what
// the agent decodes it must be able to encode unchanged.
#include "events/PVXException.h"
#include "platform/Portability.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <array>

namespace pvx::fuzz {
namespace {

constexpr int kMaxDepth = 16;

// Reads the items between the cursor and `end`, descending into constructed
// ones; stops at the first failure, which must be one of the reader's own.
void WalkItems(CBasicEncodingRulesBuffer& buffer, std::size_t end, int depth, std::span<std::uint32_t> arcs)
{
    while (buffer.Position() < end) {
        std::size_t start = buffer.Position();
        switch (buffer.PeekByte()) {
        case ber::kInteger:
            buffer.ReadInteger();
            break;
        case ber::kOctetString:
            buffer.ReadOctetStringView();
            break;
        case ber::kObjectIdentifier: {
            // The same bytes as a request name, which takes any identifier.
            SRequestName requested;
            try {
                requested = buffer.ReadRequestName(arcs);
                PVX_FUZZ_CHECK(requested.place == ENamePlace::Internet
                        ? requested.terminated.size() == requested.arcs.size() + 1 && requested.terminated.back() == 0
                        : requested.arcs.empty() && requested.terminated.empty());
            } catch (const CPVXException&) {
            }
            buffer.SetPosition(start);
            auto name = buffer.ReadObjectIdentifier(arcs);
            PVX_FUZZ_CHECK(!name.empty() && name.size() <= arcs.size() && name.back() == 0);
            PVX_FUZZ_CHECK(std::count(name.begin(), name.end(), 0u) == 1);
            break;
        }
        case ber::kSequence:
        case ber::kGetRequest:
        case ber::kGetNextRequest:
        case ber::kGetResponse:
        case ber::kSetRequest:
        case ber::kTrap: {
            std::uint32_t length = buffer.ReadHeader(buffer.PeekByte());
            if (depth >= kMaxDepth || length > buffer.Remaining())
                return;
            WalkItems(buffer, buffer.Position() + length, depth + 1, arcs);
            break;
        }
        default: {
            buffer.ReadByte();
            std::uint32_t length = buffer.ReadLength();
            if (length > buffer.Remaining())
                return;
            buffer.SetPosition(buffer.Position() + length);
            break;
        }
        }
        PVX_FUZZ_CHECK(buffer.Position() > start);
    }
}

// Writes one decoded binding and reads it back.
void CheckRoundTrip(const CMIBData& value)
{
    std::array<std::uint8_t, kDatagramSize> out {};
    CBasicEncodingRulesBuffer writer(out);
    try {
        writer.WriteVarBind(value);
    } catch (const CPVXException& e) {
        // A value can be too large for a datagram; nothing else may fail.
        PVX_FUZZ_CHECK(e.GetCode() == EVENT_BER_BOUNDS);
        return;
    }
    std::size_t written = writer.Position();
    CBasicEncodingRulesBuffer reader(out.data(), written);
    PVX_FUZZ_CHECK(reader.ReadHeader(ber::kSequence) == reader.Remaining());
    auto copy = reader.ReadVarBind();
    PVX_FUZZ_CHECK(reader.Remaining() == 0);
    PVX_FUZZ_CHECK(*copy->GetName() == *value.GetName());
    PVX_FUZZ_CHECK(copy->GetKind() == value.GetKind());
    switch (value.GetKind()) {
    case MIB_SIGNED:
        PVX_FUZZ_CHECK(copy->GetInteger() == value.GetInteger());
        break;
    case MIB_TEXT: {
        // OCTET STRINGs go out up to their first zero byte.
        const std::string& text = value.GetText();
        PVX_FUZZ_CHECK(copy->GetText() == text.substr(0, text.find('\0')));
        break;
    }
    case MIB_OID:
        PVX_FUZZ_CHECK(*copy->GetOid() == *value.GetOid());
        break;
    default:
        PVX_FUZZ_CHECK(false);
    }
}

void ReadBindings(CBasicEncodingRulesBuffer& buffer)
{
    while (buffer.Remaining() > 0) {
        std::size_t start = buffer.Position();
        std::uint32_t length = buffer.ReadHeader(ber::kSequence);
        if (length > buffer.Remaining())
            return;
        std::size_t end = buffer.Position() + length;
        auto value = buffer.ReadVarBind();
        PVX_FUZZ_CHECK(value && value->GetName() != nullptr);
        CheckRoundTrip(*value);
        if (buffer.Position() > end)
            return;
        buffer.SetPosition(end);
        PVX_FUZZ_CHECK(buffer.Position() > start);
    }
}

template <typename Step> void UntilReaderFails(Step step)
{
    try {
        step();
    } catch (const CPVXException& e) {
        PVX_FUZZ_CHECK(e.GetCode() == EVENT_BER_MALFORMED || e.GetCode() == EVENT_BER_BOUNDS);
    }
}

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    using namespace pvx::fuzz;
    // The reader works in place on the datagram record, which it may not leave.
    std::size_t length = std::min(size, kDatagramSize);
    std::array<std::uint8_t, kDatagramSize> bytes {};
    std::copy_n(data, length, bytes.begin());
    std::array<std::uint32_t, kDatagramSize + 1> arcs {};

    CBasicEncodingRulesBuffer walk(bytes.data(), length);
    UntilReaderFails([&] { WalkItems(walk, length, 0, arcs); });
    PVX_FUZZ_CHECK(walk.Position() <= length);

    CBasicEncodingRulesBuffer bindings(bytes.data(), length);
    UntilReaderFails([&] { ReadBindings(bindings); });
    PVX_FUZZ_CHECK(bindings.Position() <= length);
    return 0;
}
