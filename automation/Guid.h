// 128-bit identifiers of classes, interfaces and the type library. The layout
// matches the 16-byte structure the exported C entry points pass around, so a
// Guid can cross the module boundary as a plain pointer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cvn::automation {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces optional, hex digits
    // in either case; nothing for any other text.
    static std::optional<Guid> parse(std::string_view text);
    // Like parse, but a malformed text is a programming error in a constant
    // and throws std::invalid_argument.
    static Guid fromString(std::string_view text);

    // Upper-case hex in braces, the registry form.
    std::string toString() const;
    bool isNull() const { return *this == Guid{}; }

    friend bool operator==(const Guid&, const Guid&) = default;
    friend auto operator<=>(const Guid&, const Guid&) = default;
};

static_assert(sizeof(Guid) == 16, "Guid must keep the 16-byte wire layout");

struct GuidHash {
    size_t operator()(const Guid& g) const noexcept;
};

}  // namespace cvn::automation
