// The unit-expression parser: "m/s2", "N.m2/kg", "degree Celsius".
#include <array>
#include <string>
#include <cstdint>
#include <string_view>
#include <vector>

#include "memo.hpp"
#include "unit_collection.hpp"
#include "unit_text.hpp"

namespace tolvat {

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

namespace {

// Unicode White_Space.
bool is_white_space(char32_t cp) noexcept {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

}  // namespace

std::string_view trim_unit_text(std::string_view text) noexcept {
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
bool split_unit_power(std::string_view piece, std::string_view& name, double& power) noexcept {
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
    // What follows the digit holds no digit, so the power text is a number only as the digit
    // alone or with a trailing "." ("2." reads as 2); anything else ("2e", "2-", "2x") is not.
    const std::string_view rest = piece.substr(last_digit + 1);
    if (!rest.empty() && rest != ".") return false;
    power = static_cast<double>(piece[last_digit] - '0');
    return true;
}

namespace {

// Applies the pieces of one side of the expression. Tells whether a piece was dropped (a name that
// resolves to no unit, a power text that does not parse, or a bare number other than 1; an empty
// piece and "1" lose nothing), and appends each such piece to `dropped` when it is given.
template <bool kDivide>
bool apply_terms(std::string_view side, UnitCollection& result, std::vector<std::string_view>* dropped) {
    bool dropped_a_name = false;
    std::size_t start = 0;
    while (start <= side.size()) {
        std::size_t dot = side.find('.', start);
        if (dot == std::string_view::npos) dot = side.size();
        const std::string_view piece = side.substr(start, dot - start);
        start = dot + 1;
        if (piece.empty() || piece == "1") continue;
        std::string_view name;
        double power;
        const bool split = split_unit_power(piece, name, power);
        std::optional<SingleUnit> unit;
        if (split) unit = search_for_unit_name(name);
        if (!unit) {
            // A bare number other than 1 ("s.2", most likely meant as "s2") is dropped like a name.
            dropped_a_name = true;
            if (dropped != nullptr) dropped->push_back(piece);
            continue;
        }
        UnitCollection term = UnitCollection::pow(UnitCollection::coerce_unit_to_collection(std::move(*unit)), power);
        if constexpr (kDivide) {
            result = std::move(result) / term;
        } else {
            result = std::move(result) * term;
        }
    }
    return dropped_a_name;
}

std::optional<UnitCollection> parse_unit_expression(std::string_view text, bool& dropped_a_name);

}  // namespace

std::optional<UnitCollection> UnitCollection::from_unit_name(std::string_view text) {
    bool dropped_a_name;
    return from_unit_name(text, dropped_a_name);
}

std::optional<UnitCollection> UnitCollection::from_unit_name(std::string_view text, bool& dropped_a_name) {
    if (text.size() > TextMemo::kMaxKey || !memos_enabled()) return parse_unit_expression(text, dropped_a_name);
    TextMemo& memo = text_memo();
    if (const TextMemo::Slot* hit = memo.find(text, TextMemo::Kind::UnitText)) {
        dropped_a_name = hit->dropped_a_name;
        return hit->result;
    }
    std::optional<UnitCollection> result = parse_unit_expression(text, dropped_a_name);
    memo.store(text, TextMemo::Kind::UnitText, result, 1.0, dropped_a_name);
    return result;
}

void dropped_unit_pieces(std::string_view text, std::vector<std::string_view>& out) {
    if (search_for_unit_name(text)) return;
    // Every side, even of a text with more than one '/', which the parser refuses whole.
    std::string_view rest = trim_unit_text(text);
    UnitCollection ignored;
    while (true) {
        const std::size_t slash = rest.find('/');
        apply_terms<false>(rest.substr(0, slash), ignored, &out);
        if (slash == std::string_view::npos) break;
        rest = rest.substr(slash + 1);
    }
}

namespace {

std::optional<UnitCollection> parse_unit_expression(std::string_view text, bool& dropped_a_name) {
    using tolvat::UnitCollection;
    dropped_a_name = false;
    if (std::optional<SingleUnit> whole = search_for_unit_name(text)) {
        return UnitCollection::coerce_unit_to_collection(std::move(*whole));
    }
    const std::string_view trimmed = trim_unit_text(text);
    const std::size_t slash = trimmed.find('/');
    std::string_view numerator = trimmed;
    std::string_view denominator;
    if (slash != std::string_view::npos) {
        if (trimmed.find('/', slash + 1) != std::string_view::npos) return std::nullopt;
        numerator = trimmed.substr(0, slash);
        denominator = trimmed.substr(slash + 1);
    }
    UnitCollection result;
    dropped_a_name = apply_terms<false>(numerator, result, nullptr);
    dropped_a_name |= apply_terms<true>(denominator, result, nullptr);
    if (result.empty()) return std::nullopt;
    return result;
}

}  // namespace
}  // namespace tolvat
