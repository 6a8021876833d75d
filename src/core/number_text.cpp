#include "number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace tolvat {
namespace {

// The shortest round-trip digits of a finite, non-negative value and its decimal exponent: the
// value is d[0].d[1]d[2]... times ten to the power `exponent`.
struct Digits {
    char buffer[32];
    std::size_t count = 0;
    int exponent = 0;

    std::string_view view() const noexcept { return {buffer, count}; }
};

Digits shortest_digits(double magnitude) noexcept {
    // Scientific form of the shortest representation: "d.ddde+XX" or "de-XX".
    char text[40];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
    Digits d;
    const char* p = text;
    for (; p != r.ptr && *p != 'e'; ++p) {
        if (*p != '.') d.buffer[d.count++] = *p;
    }
    // Exponent: 'e', sign, digits.
    if (p != r.ptr) {
        ++p;
        bool negative = false;
        if (p != r.ptr && (*p == '-' || *p == '+')) {
            negative = *p == '-';
            ++p;
        }
        int e = 0;
        for (; p != r.ptr; ++p) e = e * 10 + (*p - '0');
        d.exponent = negative ? -e : e;
    }
    // to_chars never yields trailing zeros in the shortest form except for zero itself.
    while (d.count > 1 && d.buffer[d.count - 1] == '0') --d.count;
    return d;
}

// Appends "NaN", "inf" or "-inf" and returns true when the value is not finite.
template <typename Out>
bool append_special(Out& out, double value) {
    if (std::isnan(value)) {
        out.append("NaN");
        return true;
    }
    if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
        return true;
    }
    return false;
}

void append_exponent(std::string& out, int exponent) {
    char text[8];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, exponent);
    out.append(text, r.ptr);
}

// The commonest numbers written straight into `out`, which has room for kCommonRoom characters:
// whole numbers below 2^53 and values below 10^7 with at most eight decimals, with their sign.
// Returns the end of the text, or nullptr (having written nothing useful) for any other value.
//
// A whole number below 2^53: neighbouring doubles there are at most one apart, so no shorter
// digit string reads back as the value, and its shortest digits are the integer's own.
//
// At most eight decimals (1.5, 0.25, 9.80665): for k decimals the candidate is the integer t
// nearest to magnitude * 10^k; t / 10^k, both exact doubles, is correctly rounded by the
// division, so it reads back as the value exactly when the division gives the value. The first k
// that reads back is the fewest decimals, so the shortest digits; and below 2^50 the scaled value
// is within a quarter of t, so no other integer could read back.
//
// The conversions go through the signed type, one instruction on every x86-64.
constexpr std::size_t kCommonRoom = 32;

char* write_common_number(char* out, double value) noexcept {
    static constexpr double kPowers[] = {1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    static constexpr int kMost = 8;
    const double magnitude = std::fabs(value);
    if (!(magnitude < 9007199254740992.0)) return nullptr;  // NaN included
    char* p = out;
    if (std::signbit(value)) *p++ = '-';
    const auto whole = static_cast<std::int64_t>(magnitude);
    if (magnitude == static_cast<double>(whole)) return std::to_chars(p, out + kCommonRoom, whole).ptr;
    // magnitude * 10^8 stays below 10^15 < 2^50.
    if (!(magnitude >= 1e-8 && magnitude < 1e7)) return nullptr;
    // A value with at most eight decimals is, scaled by 10^8, within a few units in the last
    // place of a whole number; most other values are far from one, and are sent on at once.
    const double scaled = magnitude * kPowers[kMost];
    const double off = scaled - static_cast<double>(static_cast<std::int64_t>(scaled + 0.5));
    if (!(std::fabs(off) <= scaled * 0x1p-48)) return nullptr;
    for (int k = 1; k <= kMost; ++k) {
        const auto t = static_cast<std::int64_t>(magnitude * kPowers[k] + 0.5);
        if (!(static_cast<double>(t) / kPowers[k] == magnitude)) continue;
        char digits[20];
        const auto count = static_cast<int>(std::to_chars(digits, digits + sizeof digits, t).ptr - digits);
        if (count > k) {
            for (int i = 0; i < count - k; ++i) *p++ = digits[i];
            *p++ = '.';
            for (int i = count - k; i < count; ++i) *p++ = digits[i];
        } else {
            *p++ = '0';
            *p++ = '.';
            for (int i = count; i < k; ++i) *p++ = '0';
            for (int i = 0; i < count; ++i) *p++ = digits[i];
        }
        return p;
    }
    return nullptr;
}

// Any value: the common ones above, then the general shortest digits.
template <typename Out>
void append_number_to(Out& out, double value) {
    char common[kCommonRoom];
    if (const char* end = write_common_number(common, value)) {
        out.append(std::string_view(common, static_cast<std::size_t>(end - common)));
        return;
    }
    if (append_special(out, value)) return;
    if (std::signbit(value)) out.push_back('-');
    const double magnitude = std::fabs(value);
    const Digits d = shortest_digits(magnitude);
    const std::string_view digits = d.view();
    const long count = static_cast<long>(digits.size());
    const long point = d.exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out.append(std::string_view("0."));
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits);
    } else if (point >= count) {
        out.append(digits);
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out.append(digits.substr(0, static_cast<std::size_t>(point)));
        out.push_back('.');
        out.append(digits.substr(static_cast<std::size_t>(point)));
    }
}

// A fixed run of characters that notes, rather than grows, when a text does not fit.
class FixedText {
public:
    FixedText(char* out, std::size_t room) noexcept : out_(out), room_(room) {}
    void append(std::string_view piece) noexcept {
        if (piece.size() > room_ - used_) {
            overflow_ = true;
            return;
        }
        copy_text(out_ + used_, piece.data(), piece.size());
        used_ += piece.size();
    }
    void append(const char* first, const char* last) noexcept {
        append(std::string_view(first, static_cast<std::size_t>(last - first)));
    }
    void append(std::size_t count, char c) noexcept {
        if (count > room_ - used_) {
            overflow_ = true;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) out_[used_++] = c;
    }
    void push_back(char c) noexcept { append(std::string_view(&c, 1)); }
    std::size_t size() const noexcept { return overflow_ ? 0 : used_; }

private:
    char* out_;
    std::size_t room_;
    std::size_t used_ = 0;
    bool overflow_ = false;
};

}  // namespace

void append_number_text(std::string& out, double value) { append_number_to(out, value); }

std::size_t number_text_into(char* out, std::size_t room, double value) noexcept {
    if (room >= kCommonRoom) {
        if (const char* end = write_common_number(out, value)) return static_cast<std::size_t>(end - out);
    }
    FixedText text(out, room);
    append_number_to(text, value);
    return text.size();
}

void append_number_text(TextBuffer& out, double value) {
    // Nearly every number fits the room in place; the rest (long runs of zeros) go the long way.
    if (char* room = out.reserve_local(kCommonRoom)) {
        if (const std::size_t written = number_text_into(room, kCommonRoom, value)) {
            out.commit(written);
            return;
        }
    }
    append_number_text(out.text(), value);
}

std::string number_text(double value) {
    std::string out;
    append_number_text(out, value);
    return out;
}

namespace {

// One element of an exponent list: shortest digits, ".0" on whole numbers, exponent form (1e-7,
// 1.5e16) when the magnitude is below 1e-4 or at least 1e16.
void append_list_number(std::string& out, double value) {
    if (append_special(out, value)) return;
    if (std::signbit(value)) out.push_back('-');
    const double magnitude = std::fabs(value);
    if (magnitude != 0.0 && (magnitude < 1e-4 || magnitude >= 1e16)) {
        const Digits d = shortest_digits(magnitude);
        out.push_back(d.buffer[0]);
        if (d.count > 1) {
            out.push_back('.');
            out.append(d.buffer + 1, d.count - 1);
        }
        out.push_back('e');
        append_exponent(out, d.exponent);
        return;
    }
    const std::size_t start = out.size();
    append_number_text(out, magnitude);
    if (out.find('.', start) == std::string::npos) out.append(".0");
}

}  // namespace

std::string exponents_list_text(const BaseExponents& exponents) {
    std::string out;
    out.push_back('[');
    for (std::size_t i = 0; i < exponents.size(); ++i) {
        if (i != 0) out.append(", ");
        append_list_number(out, exponents[i]);
    }
    out.push_back(']');
    return out;
}

}  // namespace tolvat
