// The unit-expression parser: "m/s2", "N.m2/kg", "degree Celsius".
#include <array>
#include <charconv>
#include <string>
#include <cstdint>
#include <string_view>

#include "memo.hpp"
#include "unit_collection.hpp"

namespace tolvat {
namespace {

// Decodes the code point starting at byte i; returns its length in bytes (1 for bad bytes).
std::size_t decode_utf8(std::string_view text, std::size_t i, char32_t& cp) noexcept {
    const auto b0 = static_cast<unsigned char>(text[i]);
    auto cont = [&](std::size_t k) -> int {
        if (i + k >= text.size()) return -1;
        const auto b = static_cast<unsigned char>(text[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        const int c1 = cont(1);
        if (c1 >= 0) {
            cp = (char32_t(b0 & 0x1F) << 6) | char32_t(c1);
            return 2;
        }
    } else if ((b0 & 0xF0) == 0xE0) {
        const int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1;
        if (c2 >= 0) {
            cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(c1) << 6) | char32_t(c2);
            return 3;
        }
    } else if ((b0 & 0xF8) == 0xF0) {
        const int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1, c3 = c2 >= 0 ? cont(3) : -1;
        if (c3 >= 0) {
            cp = (char32_t(b0 & 0x07) << 18) | (char32_t(c1) << 12) | (char32_t(c2) << 6) | char32_t(c3);
            return 4;
        }
    }
    cp = 0xFFFD;
    return 1;
}

// Unicode White_Space.
bool is_white_space(char32_t cp) noexcept {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

std::string_view trim(std::string_view text) noexcept {
    std::size_t start = 0;
    while (start < text.size()) {
        char32_t cp;
        const std::size_t len = decode_utf8(text, start, cp);
        if (!is_white_space(cp)) break;
        start += len;
    }
    std::size_t end = text.size();
    while (end > start) {
        // Step back to the first byte of the last code point.
        std::size_t begin = end - 1;
        while (begin > start && (static_cast<unsigned char>(text[begin]) & 0xC0) == 0x80 && end - begin < 4) --begin;
        char32_t cp;
        const std::size_t len = decode_utf8(text, begin, cp);
        if (begin + len != end || !is_white_space(cp)) break;
        end = begin;
    }
    return text.substr(start, end - start);
}

// Splits one term into its unit name and power. The power starts at the last numeric character;
// unit names hold no numeric characters, and a power can only be a decimal digit optionally
// followed by other text, so a piece whose last numeric character is not an ASCII digit can
// never produce a valid power and is treated as unparsable.
bool split_power(std::string_view piece, std::string_view& name, double& power) noexcept {
    std::size_t last_digit = std::string_view::npos;
    for (std::size_t i = piece.size(); i-- > 0;) {
        if (piece[i] >= '0' && piece[i] <= '9') {
            last_digit = i;
            break;
        }
    }
    // Any non-ASCII numeric character after the last ASCII digit would be the split point, and
    // its power text would not parse; names holding one never resolve either. Both cases end in
    // the piece being skipped, which the lookup below does by itself.
    if (last_digit == std::string_view::npos) {
        name = piece;
        power = 1.0;
        return true;
    }
    name = piece.substr(0, last_digit);
    const std::string_view power_text = piece.substr(last_digit);
    const char* first = power_text.data();
    const char* last = first + power_text.size();
    auto [ptr, ec] = std::from_chars(first, last, power);
    if (ec != std::errc() || ptr != last) {
        // A trailing "." after the digit is still a decimal number ("2." reads as 2).
        if (ec == std::errc() && ptr + 1 == last && *ptr == '.') return true;
        return false;
    }
    return true;
}

template <bool kDivide>
void apply_terms(std::string_view side, UnitCollection& result) {
    std::size_t start = 0;
    while (start <= side.size()) {
        std::size_t dot = side.find('.', start);
        if (dot == std::string_view::npos) dot = side.size();
        const std::string_view piece = side.substr(start, dot - start);
        start = dot + 1;
        if (piece.empty() || piece == "1") continue;
        std::string_view name;
        double power;
        if (!split_power(piece, name, power)) continue;
        std::optional<SingleUnit> unit = search_for_unit_name(name);
        if (!unit) continue;
        UnitCollection term = UnitCollection::pow(UnitCollection::coerce_unit_to_collection(std::move(*unit)), power);
        if constexpr (kDivide) {
            result = std::move(result) / term;
        } else {
            result = std::move(result) * term;
        }
    }
}

// Programs parse the same few expressions over and over ("m/s", "km"), so each thread keeps the
// results of recent short texts. Parsing reads only the static tables, so a result stays valid
// forever; being per thread, the cache needs no lock.
class ParseCache {
public:
    static constexpr std::size_t kMaxKey = 48;

    const std::optional<UnitCollection>* find(std::string_view text) const noexcept {
        const Slot& slot = slots_[index(text)];
        if (slot.used && slot.key == text) return &slot.result;
        return nullptr;
    }
    void store(std::string_view text, const std::optional<UnitCollection>& result) {
        Slot& slot = slots_[index(text)];
        slot.key.assign(text);
        slot.result = result;
        slot.used = true;
    }

private:
    static constexpr std::size_t kSlots = 64;
    struct Slot {
        std::string key;
        std::optional<UnitCollection> result;
        bool used = false;
    };
    static std::size_t index(std::string_view text) noexcept {
        std::uint64_t h = 1469598103934665603ull;
        for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
        return static_cast<std::size_t>(h >> 58) & (kSlots - 1);
    }
    std::array<Slot, kSlots> slots_;
};

std::optional<UnitCollection> parse_unit_expression(std::string_view text);

}  // namespace

std::optional<UnitCollection> UnitCollection::from_unit_name(std::string_view text) {
    if (text.size() > ParseCache::kMaxKey || !memos_enabled()) return parse_unit_expression(text);
    thread_local ParseCache cache;
    if (const std::optional<UnitCollection>* hit = cache.find(text)) return *hit;
    std::optional<UnitCollection> result = parse_unit_expression(text);
    cache.store(text, result);
    return result;
}

namespace {

std::optional<UnitCollection> parse_unit_expression(std::string_view text) {
    using tolvat::UnitCollection;
    if (std::optional<SingleUnit> whole = search_for_unit_name(text)) {
        return UnitCollection::coerce_unit_to_collection(std::move(*whole));
    }
    const std::string_view trimmed = trim(text);
    const std::size_t slash = trimmed.find('/');
    std::string_view numerator = trimmed;
    std::string_view denominator;
    if (slash != std::string_view::npos) {
        if (trimmed.find('/', slash + 1) != std::string_view::npos) return std::nullopt;
        numerator = trimmed.substr(0, slash);
        denominator = trimmed.substr(slash + 1);
    }
    UnitCollection result;
    apply_terms<false>(numerator, result);
    apply_terms<true>(denominator, result);
    if (result.empty()) return std::nullopt;
    return result;
}

}  // namespace
}  // namespace tolvat
