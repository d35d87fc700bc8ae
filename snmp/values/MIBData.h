// The value types shared by the UPS model and the SNMP agent: object
// identifiers (arcs after the implied 1.3.6.1), typed MIB values with their
// names, and traps waiting to be sent.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pvx {

// Arcs held in place up to kInline of them, on the heap beyond: every name
// of the served MIBs fits in place, so that the values made for each request
// allocate nothing for their names.
class CArcList {
public:
    static constexpr std::size_t kInline = 16;

    CArcList() = default;
    explicit CArcList(std::span<const std::uint32_t> arcs) { Assign(arcs); }
    CArcList(const CArcList& other) { Assign(other.Span()); }
    CArcList(CArcList&& other) noexcept
        : m_inline(other.m_inline)
        , m_heap(std::move(other.m_heap))
        , m_size(other.m_size)
    {
        other.m_size = 0;
    }
    CArcList& operator=(const CArcList& other)
    {
        if (this != &other)
            Assign(other.Span());
        return *this;
    }
    CArcList& operator=(CArcList&& other) noexcept
    {
        m_inline = other.m_inline;
        m_heap = std::move(other.m_heap);
        m_size = other.m_size;
        other.m_size = 0;
        return *this;
    }

    // `arcs` must not be a view of this list.
    void Assign(std::span<const std::uint32_t> arcs);
    void PushBack(std::uint32_t arc);
    std::span<const std::uint32_t> Span() const
    {
        return m_size <= kInline ? std::span<const std::uint32_t>(m_inline.data(), m_size)
                                 : std::span<const std::uint32_t>(m_heap);
    }
    bool Empty() const { return m_size == 0; }
    bool operator==(const CArcList& other) const;

private:
    std::array<std::uint32_t, kInline> m_inline {};
    std::vector<std::uint32_t> m_heap; // all the arcs, once there are more than kInline
    std::size_t m_size = 0;
};

// An object identifier below 1.3.6.1, held as its arcs after that prefix. The
// name ends at its first 0 arc, which is part of the name and is sent: a
// scalar instance {2, 1, 33, 1, 2, 1, 0} is 1.3.6.1.2.1.33.1.2.1.0. Every
// COid holds exactly one 0 arc, its last.
class COid {
public:
    COid() { m_arcs.PushBack(0); }
    COid(std::initializer_list<std::uint32_t> arcs) : COid(std::span<const std::uint32_t>(arcs.begin(), arcs.size())) {}
    // Copies up to and including the first 0 arc; appends one when there is none.
    explicit COid(std::span<const std::uint32_t> arcs);

    // The arcs including the final 0.
    std::span<const std::uint32_t> Arcs() const { return m_arcs.Span(); }
    const std::uint32_t* Data() const { return Arcs().data(); }
    std::size_t Size() const { return Arcs().size(); }
    std::uint32_t operator[](std::size_t i) const { return Arcs()[i]; }

    // Equal when the arcs agree up to and including the first 0 arc.
    bool operator==(const COid& other) const { return m_arcs == other.m_arcs; }

    // Dotted form with the 1.3.6.1 prefix, for logs and tests.
    std::string ToString() const;

private:
    CArcList m_arcs;
};

// Arcs of a name up to and including its first 0 (the whole span if none).
std::span<const std::uint32_t> NameUpToZero(std::span<const std::uint32_t> arcs);

enum EMIBKind : std::int32_t {
    MIB_SIGNED = 0,     // INTEGER clamped to [minimum, maximum]
    MIB_UNSIGNED = 1,   // INTEGER clamped to a maximum
    MIB_ENUMERATED = 2, // INTEGER clamped to a maximum; 0 reads 1
    MIB_NUMBER_TEXT = 3, // unsigned number sent as decimal text
    MIB_TEXT = 4,       // OCTET STRING of at most 255 characters
    MIB_OID = 5,        // OBJECT IDENTIFIER
};

// How a value goes on the wire where its kind alone does not say (the types
// of RFC 2578 that RFC 1628, RFC 3418 and RFC 3414 give their objects).
enum class EWireForm : std::uint8_t {
    AsKind,    // INTEGER, OCTET STRING up to its first zero byte, OBJECT IDENTIFIER
    Counter32, // an unsigned number under its application tag
    Gauge32,
    TimeTicks,
    OidAsIs,   // an identifier without its final 0 arc: 1.3.6.1.2.1.33.1.6.3.2
    Octets,    // every byte of a text, zero bytes included (an engine ID)
};

constexpr std::int32_t kMIBIntMax = 2147483647;
constexpr std::size_t kMIBTextMax = 255;

// One typed MIB value and its name. Values are clamped once, at construction;
// the accessors answer on every kind (0, empty text, or null).
class CMIBData {
public:
    // Kind 0: value clamped to [minimum, maximum].
    CMIBData(std::int32_t value, std::int32_t minimum, std::int32_t maximum, std::int32_t kind);
    // Kind 1: min(value, maximum); kind 2: the same, and 1 when that is 0;
    // kind 3: min(value, maximum) as decimal text.
    CMIBData(std::uint32_t value, std::uint32_t maximum, std::int32_t kind);
    // Kind 4: at most min(maximumLength, 255) characters of the text.
    CMIBData(std::string_view text, std::size_t maximumLength, std::int32_t kind);
    // Kind 5: a copy of the identifier.
    CMIBData(const COid& oid, std::int32_t kind);
    virtual ~CMIBData() = default;

    std::int32_t GetKind() const { return m_kind; }
    std::int32_t GetInteger() const;
    std::uint32_t GetUnsigned() const;
    const std::string& GetText() const;
    // The identifier for kind 5, else null.
    const COid* GetOid() const;

    // The name, or null until one is set.
    const COid* GetName() const { return m_name ? &*m_name : nullptr; }
    void SetName(const COid& name) { m_name = name; }
    void SetName(std::span<const std::uint32_t> arcs) { m_name = COid(arcs); }
    // The name exactly as it goes on the wire (arcs after 1.3.6.1, nothing
    // appended), when the instance naming in use is not the COid form: an
    // RFC 1628 table cell such as upsInputVoltage.2 has no final 0 arc.
    // Empty: the name above is sent.
    std::span<const std::uint32_t> GetInstanceName() const { return m_instanceName.Span(); }
    void SetInstanceName(std::span<const std::uint32_t> arcs) { m_instanceName.Assign(arcs); }
    EWireForm GetWireForm() const { return m_wireForm; }
    void SetWireForm(EWireForm form) { m_wireForm = form; }

private:
    std::int32_t m_kind;
    EWireForm m_wireForm = EWireForm::AsKind;
    std::optional<COid> m_name;
    CArcList m_instanceName;
    std::variant<std::monostate, std::int32_t, std::uint32_t, std::string, COid> m_value;
};

// A trap waiting to be sent; it owns its enterprise and its bindings.
class CSNMPTrap {
public:
    CSNMPTrap(std::int32_t genericTrap, std::int32_t specificTrap, COid enterprise)
        : m_genericTrap(genericTrap), m_specificTrap(specificTrap), m_enterprise(std::move(enterprise)) {}
    virtual ~CSNMPTrap() = default;

    std::int32_t GetGenericTrap() const { return m_genericTrap; }
    std::int32_t GetSpecificTrap() const { return m_specificTrap; }
    const COid& GetEnterprise() const { return m_enterprise; }
    // OidAsIs: the enterprise goes out without its final 0 arc.
    EWireForm GetEnterpriseForm() const { return m_enterpriseForm; }
    void SetEnterpriseForm(EWireForm form) { m_enterpriseForm = form; }
    const std::vector<std::unique_ptr<CMIBData>>& GetBindings() const { return m_bindings; }
    void AddBinding(std::unique_ptr<CMIBData> binding) { m_bindings.push_back(std::move(binding)); }

private:
    std::int32_t m_genericTrap;
    std::int32_t m_specificTrap;
    COid m_enterprise;
    EWireForm m_enterpriseForm = EWireForm::AsKind;
    std::vector<std::unique_ptr<CMIBData>> m_bindings;
};

} // namespace pvx
