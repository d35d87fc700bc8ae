// Object identifiers and typed MIB values with their clamping rules.
#include "snmp/values/MIBData.h"

#include <algorithm>

namespace pvx {

std::span<const std::uint32_t> NameUpToZero(std::span<const std::uint32_t> arcs)
{
    auto zero = std::find(arcs.begin(), arcs.end(), 0u);
    return zero == arcs.end() ? arcs : arcs.first(static_cast<std::size_t>(zero - arcs.begin()) + 1);
}

void CArcList::Assign(std::span<const std::uint32_t> arcs)
{
    if (arcs.size() <= kInline) {
        std::copy(arcs.begin(), arcs.end(), m_inline.begin());
        m_heap.clear();
    } else {
        m_heap.assign(arcs.begin(), arcs.end());
    }
    m_size = arcs.size();
}

void CArcList::PushBack(std::uint32_t arc)
{
    if (m_size < kInline) {
        m_inline[m_size++] = arc;
        return;
    }
    if (m_size == kInline)
        m_heap.assign(m_inline.begin(), m_inline.end());
    m_heap.push_back(arc);
    ++m_size;
}

bool CArcList::operator==(const CArcList& other) const { return std::ranges::equal(Span(), other.Span()); }

COid::COid(std::span<const std::uint32_t> arcs)
{
    auto name = NameUpToZero(arcs);
    m_arcs.Assign(name);
    if (name.empty() || name.back() != 0)
        m_arcs.PushBack(0);
}

std::string COid::ToString() const
{
    std::string text = "1.3.6.1";
    for (std::uint32_t arc : Arcs()) {
        text += '.';
        text += std::to_string(arc);
    }
    return text;
}

CMIBData::CMIBData(std::int32_t value, std::int32_t minimum, std::int32_t maximum, std::int32_t kind)
    : m_kind(kind)
{
    if (kind == MIB_SIGNED)
        m_value = std::max(minimum, std::min(value, maximum));
}

CMIBData::CMIBData(std::uint32_t value, std::uint32_t maximum, std::int32_t kind) : m_kind(kind)
{
    std::uint32_t clamped = std::min(value, maximum);
    if (kind == MIB_UNSIGNED)
        m_value = clamped;
    else if (kind == MIB_ENUMERATED)
        m_value = clamped == 0 ? 1u : clamped;
    else if (kind == MIB_NUMBER_TEXT)
        m_value = std::to_string(clamped);
}

CMIBData::CMIBData(std::string_view text, std::size_t maximumLength, std::int32_t kind) : m_kind(kind)
{
    if (kind == MIB_TEXT) {
        // Zero bytes are kept, so that a writer can refuse a value holding one.
        m_value = std::string(text.substr(0, std::min({text.size(), maximumLength, kMIBTextMax})));
    }
}

CMIBData::CMIBData(const COid& oid, std::int32_t kind) : m_kind(kind)
{
    if (kind == MIB_OID)
        m_value = oid;
}

std::int32_t CMIBData::GetInteger() const
{
    const auto* value = std::get_if<std::int32_t>(&m_value);
    return value ? *value : 0;
}

std::uint32_t CMIBData::GetUnsigned() const
{
    const auto* value = std::get_if<std::uint32_t>(&m_value);
    return value ? *value : 0;
}

const std::string& CMIBData::GetText() const
{
    static const std::string kEmpty;
    const auto* value = std::get_if<std::string>(&m_value);
    return value ? *value : kEmpty;
}

const COid* CMIBData::GetOid() const { return std::get_if<COid>(&m_value); }

} // namespace pvx
