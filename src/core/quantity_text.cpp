#include "quantity_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include "catalogue.hpp"
#include "decimal_text.hpp"
#include "memo.hpp"
#include "quantity_arithmetic.hpp"
#include "simple_simplify.hpp"
#include "single_unit.hpp"
#include "small_vector.hpp"
#include "spellings.hpp"
#include "text_buffer.hpp"
#include "unit_text.hpp"

namespace tolvat {
namespace {

// The most words of one name ("unified atomic mass unit", "pounds per square inch").
constexpr std::size_t kMostWords = 4;

inline bool is_space(char32_t c) noexcept {
    if (c < 0x80) return c == U' ' || (c >= U'\t' && c <= U'\r');
    return (c >= U'\t' && c <= U'\r') || c == U'\u00A0' || (c >= U'\u2000' && c <= U'\u200A') ||
           c == U'\u202F' || c == U'\u205F' || c == U'\u3000';
}
constexpr bool is_digit(char32_t c) noexcept { return c >= U'0' && c <= U'9'; }
// The digit a superscript stands for, or -1.
int superscript_digit(char32_t c) noexcept {
    switch (c) {
        case U'\u2070': return 0;
        case U'\u00B9': return 1;
        case U'\u00B2': return 2;
        case U'\u00B3': return 3;
        default: break;
    }
    return c >= U'\u2074' && c <= U'\u2079' ? static_cast<int>(c - U'\u2074') + 4 : -1;
}
bool is_superscript_sign(char32_t c) noexcept { return c == U'\u207A' || c == U'\u207B'; }
bool is_minus(char32_t c) noexcept { return c == U'-' || c == U'\u2212'; }
bool is_sign(char32_t c) noexcept { return c == U'+' || is_minus(c); }
bool is_tight_operator(char32_t c) noexcept { return c == U'.' || c == U'\u00B7' || c == U'\u22C5'; }
constexpr bool is_grammar(char32_t c) noexcept {
    switch (c) {
        case U'/': case U'*': case U'.': case U'^': case U'(': case U')': case U'[': case U']': case U'+':
        case U'-': case U'\u00D7': case U'\u00B7': case U'\u22C5': case U'\u2212':
            return true;
        default:
            return false;
    }
}
// What `at` reads past the end of the text: no character at all.
constexpr char32_t kEnd = 0x110000;

// Which ASCII characters may be part of a name.
constexpr auto kAsciiNameChars = [] {
    std::array<bool, 128> table{};
    for (char32_t c = 0x21; c < 0x7F; ++c) table[c] = !is_digit(c) && !is_grammar(c);
    return table;
}();

inline bool is_name_char(char32_t c) noexcept {
    if (c < 0x80) return kAsciiNameChars[c];
    return c != kEnd && !is_space(c) && !is_digit(c) && !is_grammar(c) && superscript_digit(c) < 0 && !is_superscript_sign(c);
}

// Case-insensitive comparison with a lower-case ASCII word.
bool equals_folded(std::string_view text, std::string_view lower) noexcept {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

std::size_t code_points_before(std::string_view text, std::size_t byte) noexcept {
    std::size_t n = 0;
    for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++n;
    }
    return n;
}

void raise_to(Quantity& q, double p) {
    if (p == 1.0) return;
    q.unit = p == 0.0 ? UnitCollection() : UnitCollection::pow(q.unit, p);
    if (q.value != 1.0) q.value = std::pow(q.value, p);
}
// A multiplier that a conversion may divide by: finite, not zero, and with all its digits.
bool well_sized(double m) noexcept { return std::isnormal(m); }

// value × the size of `from` ÷ the size of `to`, taken unit by unit: each unit's multiplier to
// the change of its power. The running product is kept as a fraction and a power of two, so that
// no partial product leaves the range of a double; only the result may.
double rescaled_by_units(double value, const UnitCollection& from, const UnitCollection& to) {
    int e = 0;
    double fraction = std::frexp(value, &e);
    long long twos = e;
    auto take = [&](const SingleUnit& unit, double p) {
        if (p == 0.0 || !std::isfinite(fraction)) return;
        double factor = unit.multiplier_power(p);
        if (!well_sized(factor) && unit.multiplier() > 0.0) {
            // The power of this one unit leaves the range: its whole powers of two apart.
            const double l = p * std::log2(unit.multiplier());
            const double whole = std::floor(l);
            if (!std::isfinite(whole)) {
                factor = l > 0 ? std::numeric_limits<double>::infinity() : 0.0;
            } else {
                factor = std::exp2(l - whole);
                twos += static_cast<long long>(std::clamp(whole, -1e6, 1e6));
            }
        }
        fraction = std::frexp(fraction * factor, &e);
        twos += e;
    };
    for (const UnitEntry& entry : from.units()) {
        const double* kept = to.find(entry.unit);
        take(entry.unit, entry.power - (kept ? *kept : 0.0));
    }
    for (const UnitEntry& entry : to.units()) {
        if (from.find(entry.unit) == nullptr) take(entry.unit, -entry.power);
    }
    return std::ldexp(fraction, static_cast<int>(std::clamp<long long>(twos, -100000, 100000)));
}

// The longest text a name can have: table names, symbols and aliases with the longest prefix
// name, and a plural ending; longer spans are never looked up.
std::size_t longest_table_name() noexcept {
    static const std::size_t longest = [] {
        std::size_t n = 0;
        for (const UnitDef& row : unit_table()) n = std::max({n, row.name.size(), row.symbol.size()});
        for (const UnitAlias& alias : unit_alias_table()) n = std::max(n, alias.alias.size());
        for (const Spelling& s : other_spellings()) n = std::max(n, s.spelling.size());
        std::size_t prefix = 0;
        for (const PrefixDef& p : prefix_table()) prefix = std::max({prefix, p.name.size(), p.symbol.size()});
        return n + prefix + 3;
    }();
    return longest;
}

// A unit name that the tables hold by name (not by symbol), possibly after a prefix name.
bool names_a_unit(std::string_view text) noexcept {
    if (query_unit_names_internal(text, true) != nullptr) return true;
    for (const PrefixDef& prefix : prefix_table()) {
        if (text.size() > prefix.name.size() && text.substr(0, prefix.name.size()) == prefix.name &&
            query_unit_names_internal(text.substr(prefix.name.size()), true) != nullptr) {
            return true;
        }
    }
    return false;
}

// The singular of one English word, if it looks plural: "feet", "inches", "centuries", "meters".
void singulars(std::string_view word, std::string (&out)[3], std::size_t& count) {
    count = 0;
    if (word == "feet") {
        out[count++] = "foot";
        return;
    }
    if (word.size() < 3 || word.back() != 's') return;
    if (word.size() > 3 && word.substr(word.size() - 3) == "ies") {
        out[count++] = std::string(word.substr(0, word.size() - 3)) + "y";
    }
    if (word.substr(word.size() - 2) == "es") out[count++] = std::string(word.substr(0, word.size() - 2));
    out[count++] = std::string(word.substr(0, word.size() - 1));
}

class Reader {
public:
    Reader(std::string_view text, std::span<const TextName> names) : text_(text), names_(names) {}

    Expected<Quantity, QuantityTextError> run();

private:
    struct Frame {
        std::size_t open = std::string_view::npos;  // byte offset of the bracket; npos: the text
        char32_t close = 0;                          // ')' or ']'; 0 for the whole text
        bool negative = false;                       // the sign of the term being read
        // How the term being read (`term_`) goes on: each operand multiplies it or divides it
        // as it comes, left to right: after '/' it divides, after '*' or '×' it multiplies, and
        // after a 'per' every operand divides but those after a '/' of their own ("J per kg/K"
        // is J·K/kg). The products of an operand go the same way as the operand ("W/m2 K"
        // divides by K too).
        bool term_used = false;  // something was read into the term
        bool divide = false;     // the operand being read divides
        bool after_per = false;
        double pending_power = 1.0;                  // 'square' or 'cubic' before an atom
        bool has_unit = false;                       // the term holds a unit or a group
        bool stashed = false;  // its sum and term wait in `stash_` while a bracket inside is read
    };
    // The sum and term of a frame that holds some while a bracket inside it is read. Only such
    // frames take one, so that deep brackets around nothing ("((((m))))") cost a few bytes each.
    struct Stash {
        std::optional<Quantity> sum;
        Quantity term;
    };

    enum class AtomKind { Number, Name, Group };
    enum class Word { None, Unit, Per, Square, Cubic, Squared, Cubed, Number };

    // The code point at byte i (kEnd at the end) and its length.
    char32_t at(std::size_t i, std::size_t* len = nullptr) const noexcept {
        if (i >= text_.size()) {
            if (len) *len = 0;
            return kEnd;
        }
        const auto byte = static_cast<unsigned char>(text_[i]);
        if (byte < 0x80) {
            if (len) *len = 1;
            return byte;
        }
        char32_t c;
        const std::size_t n = decode_utf8(text_, i, c);
        if (len) *len = n;
        return c;
    }
    std::size_t next(std::size_t i) const noexcept {
        std::size_t n;
        at(i, &n);
        return i + n;
    }
    std::size_t skip_spaces(std::size_t i) const noexcept {
        while (i < text_.size() && is_space(at(i))) i = next(i);
        return i;
    }
    std::size_t segment_end(std::size_t i) const noexcept {
        while (i < text_.size() && is_name_char(at(i))) i = next(i);
        return i;
    }

    bool fail(QuantityTextError::Kind kind, std::string message, std::size_t begin, std::size_t end) {
        QuantityTextError e;
        e.kind = kind;
        e.position = code_points_before(text_, begin);
        e.width = std::max<std::size_t>(1, code_points_before(text_, end) - e.position);
        e.piece.assign(text_.substr(begin, end - begin));
        e.message = std::move(message);
        if (kind != QuantityTextError::Kind::Arithmetic) e.message += " at position " + std::to_string(e.position);
        error_ = std::move(e);
        return false;
    }
    bool unknown(std::size_t begin, std::size_t end) {
        std::string message = "'" + std::string(text_.substr(begin, end - begin)) + "' is not a number or unit";
        return fail(QuantityTextError::Kind::UnknownPiece, std::move(message), begin, end);
    }
    bool malformed(std::string message, std::size_t begin, std::size_t end) {
        return fail(QuantityTextError::Kind::Malformed, std::move(message), begin, end);
    }
    bool arithmetic(Error error) {
        QuantityTextError e;
        e.kind = QuantityTextError::Kind::Arithmetic;
        e.message = error.message();
        e.error = std::move(error);
        error_ = std::move(e);
        return false;
    }
    // The piece at i, for a message: one code point, or the name segment there.
    bool unexpected(std::size_t i) {
        const std::size_t end = is_name_char(at(i)) ? segment_end(i) : next(i);
        if (is_name_char(at(i))) return unknown(i, end);
        return malformed("unexpected '" + std::string(text_.substr(i, end - i)) + "'", i, end);
    }

    std::optional<double> read_number(std::size_t& i);
    std::optional<double> read_decimal(std::size_t& i) const;
    bool read_exponent(std::size_t op, std::size_t& i, double& power);
    bool read_postfix(std::size_t& i, Quantity& atom, AtomKind kind);
    Word read_word(std::size_t i, std::size_t& end, Quantity& unit);
    // The quantity a name stands for, into `out`; false when it names nothing.
    bool lookup(std::string_view span, Quantity& out) const;
    // The error recorded by the failing step whose result is passed.
    Expected<Quantity, QuantityTextError> failed(bool) { return std::move(error_); }

    void fold_atom(Frame& f, Quantity&& atom) {
        raise_to(atom, f.pending_power);
        f.pending_power = 1.0;
        if (!f.term_used && !f.divide) {
            term_ = std::move(atom);
        } else if (f.divide) {
            term_.unit = std::move(term_.unit) / atom.unit;
            term_.value /= atom.value;
        } else {
            term_.unit = std::move(term_.unit) * atom.unit;
            term_.value *= atom.value;
        }
        f.term_used = true;
    }
    bool end_term(Frame& f) {
        if (!f.term_used) return true;
        if (f.negative) term_.value = -term_.value;
        f.negative = false;
        f.has_unit = false;
        f.term_used = false;
        f.divide = false;
        f.after_per = false;
        if (!sum_) {
            sum_ = std::move(term_);
        } else {
            Expected<Quantity> total = add(*sum_, term_);
            if (!total) return arithmetic(std::move(total).error());
            sum_ = std::move(total).value();
        }
        term_ = Quantity{};
        return true;
    }

    // The whole text's quantity in the simple simplification of its units, where every operation
    // leaves its result. The value converts through the two collections' multipliers, as the
    // operators convert it, while both are in range. Units written as they stand may be far out
    // of it where their simplification is not: "ft^3.in^3/m^6.hr^42.kWh^18" is about 1e300 in
    // base units, and the multiplier of the text's own product, taken in the text's order, may
    // overflow (inf / inf) or underflow (0 / 0) on the way. Such a value is converted unit by
    // unit: the units the simplification keeps at their powers cancel exactly.
    bool to_simple_units(Quantity& q) {
        double multiplier;
        BaseExponents exponents;
        switch (simple_simplify_kind(q.unit, multiplier, exponents)) {
            case SimpleSimplifyKind::Keeps:
                return true;
            case SimpleSimplifyKind::Resums:
                // The same units: the value stays.
                q.unit.resum(exponents, multiplier);
                return true;
            case SimpleSimplifyKind::Drifts:  // the long way reports it
            case SimpleSimplifyKind::Merges:
                break;
        }
        Expected<UnitCollection> simpler = simple_simplify(q.unit);
        if (!simpler) {
            Error error = std::move(simpler).error();
            if (error.kind == ErrorKind::PowerOverflow) error = Error::power_overflow(std::string(text_));
            return arithmetic(std::move(error));
        }
        if (well_sized(q.unit.multiplier()) && well_sized(simpler->multiplier())) {
            Expected<Quantity> converted = as_unit_internal(q, std::move(simpler).value());
            if (!converted) return arithmetic(std::move(converted).error());
            q = std::move(converted).value();
            return true;
        }
        q.value = same_units(q.unit, *simpler) ? q.value : rescaled_by_units(q.value, q.unit, *simpler);
        q.unit = std::move(simpler).value();
        return true;
    }

    std::string_view text_;
    std::span<const TextName> names_;
    QuantityTextError error_;
    // The sum and the term of the innermost frame.
    std::optional<Quantity> sum_;
    Quantity term_;
    SmallVector<Stash, 2> stash_;
};

bool Reader::lookup(std::string_view span, Quantity& out) const {
    auto found = [&out](Quantity q) {
        out = std::move(q);
        return true;
    };
    auto found_unit = [&found](SingleUnit unit) {
        return found(Quantity{UnitCollection::coerce_unit_to_collection(std::move(unit)), 1.0});
    };
    for (const TextName& name : names_) {
        if (name.name == span) return found(name.quantity);
    }
    if (std::optional<SingleUnit> unit = search_for_unit_name(span)) {
        return found_unit(std::move(*unit));
    }
    if (const Spelling* row = find_other_spelling(span)) return found(Quantity{spelling_units(*row), row->number});
    // The micro sign, or the Greek letter mu, for the prefix symbol "u".
    for (std::string_view micro : {std::string_view("\u00B5"), std::string_view("\u03BC")}) {
        if (span.size() > micro.size() && span.substr(0, micro.size()) == micro) {
            std::string written = "u" + std::string(span.substr(micro.size()));
            if (std::optional<SingleUnit> unit = search_for_unit_name(written)) {
                return found_unit(std::move(*unit));
            }
        }
    }
    // A prefix whose name and symbol are the same text ("myria") takes only the name route in
    // the search, so its printed symbol form ("myriaA") is read here.
    for (const PrefixDef& prefix : prefix_table()) {
        if (prefix.name != prefix.symbol || span.size() <= prefix.symbol.size() ||
            span.substr(0, prefix.symbol.size()) != prefix.symbol) {
            continue;
        }
        const UnitDef* row = query_unit_symbols_internal(span.substr(prefix.symbol.size()));
        if (row != nullptr && row->offset == 0.0) {
            return found_unit(SingleUnit::create_from_unit_def_static(*row, &prefix));
        }
    }
    // Plurals of names: the last word ("meters", "fluid ounces") or the first ("degrees
    // Celsius", "inches of mercury").
    const std::size_t first_space = span.find(' ');
    const std::size_t last_space = span.rfind(' ');
    for (int which = 0; which < (first_space == std::string_view::npos ? 1 : 2); ++which) {
        const std::size_t begin = which == 0 ? (last_space == std::string_view::npos ? 0 : last_space + 1) : 0;
        const std::size_t end = which == 0 ? span.size() : first_space;
        std::string forms[3];
        std::size_t count;
        singulars(span.substr(begin, end - begin), forms, count);
        for (std::size_t k = 0; k < count; ++k) {
            std::string written = std::string(span.substr(0, begin)) + forms[k] + std::string(span.substr(end));
            if (const Spelling* row = find_other_spelling(written); row != nullptr && written.size() > 3) {
                return found(Quantity{spelling_units(*row), row->number});  // "litres"
            }
            if (!names_a_unit(written)) continue;
            if (std::optional<SingleUnit> unit = search_for_unit_name(written)) {
                return found_unit(std::move(*unit));
            }
        }
    }
    return false;
}

// A name, longest first over up to four words, or a keyword, or a word that is a number (inf,
// nan). `end` is set past what was read.
Reader::Word Reader::read_word(std::size_t i, std::size_t& end, Quantity& unit) {
    // The words: name segments joined by one space or one hyphen; after a space, also a word in
    // parentheses ("fl oz (imp)").
    std::size_t ends[kMostWords];
    std::size_t n = 0;
    ends[n++] = segment_end(i);
    while (n < kMostWords) {
        const std::size_t j = ends[n - 1];
        const char32_t c = at(j);
        if (c != U' ' && c != U'-') break;
        const std::size_t k = j + 1;
        const char32_t d = at(k);
        if (is_name_char(d)) {
            ends[n++] = segment_end(k);
        } else if (c == U' ' && d == U'(') {
            const std::size_t close = segment_end(k + 1);
            if (close == k + 1 || at(close) != U')') break;
            ends[n++] = close + 1;
        } else {
            break;
        }
    }
    const std::size_t longest = longest_table_name();
    for (std::size_t count = n; count > 1; --count) {
        const std::string_view span = text_.substr(i, ends[count - 1] - i);
        bool extra = false;
        for (const TextName& name : names_) extra = extra || name.name == span;
        if (span.size() > longest && !extra) continue;
        if (lookup(span, unit)) {
            end = ends[count - 1];
            return Word::Unit;
        }
    }
    end = ends[0];
    const std::string_view word = text_.substr(i, end - i);
    if (word.size() >= 2 && (word[0] == 'p' || word[0] == 's' || word[0] == 'c')) {
        if (word == "per") return Word::Per;
        if (word == "square" || word == "sq") return Word::Square;
        if (word == "cubic" || word == "cu") return Word::Cubic;
        if (word == "squared") return Word::Squared;
        if (word == "cubed") return Word::Cubed;
    }
    bool extra = false;
    for (const TextName& name : names_) extra = extra || name.name == word;
    if (word.size() <= longest || extra) {
        if (lookup(word, unit)) {
            return Word::Unit;
        }
    }
    if (equals_folded(word, "inf") || equals_folded(word, "infinity") || equals_folded(word, "nan")) {
        return Word::Number;
    }
    return Word::None;
}

// digits ['.' digits] or '.' digits, without grouping: the number of a power.
std::optional<double> Reader::read_decimal(std::size_t& i) const {
    std::size_t j = i;
    while (j < text_.size() && is_digit(static_cast<unsigned char>(text_[j]))) ++j;
    if (j < text_.size() && text_[j] == '.' && j + 1 < text_.size() && is_digit(static_cast<unsigned char>(text_[j + 1]))) {
        ++j;
        while (j < text_.size() && is_digit(static_cast<unsigned char>(text_[j]))) ++j;
    }
    if (j == i) return std::nullopt;
    double value = 0.0;
    const auto [ptr, ec] = read_double(text_.data() + i, text_.data() + j, value);
    if (ptr != text_.data() + j) return std::nullopt;
    if (ec == std::errc::result_out_of_range) value = std::numeric_limits<double>::infinity();
    i = j;
    return value;
}

// A number at i: Python's float syntax with '_' between digits, an exponent written 'e', or
// '×10^' and its kin. Moves i past it; nothing (i unchanged) when there is no number at i.
std::optional<double> Reader::read_number(std::size_t& i) {
    // The digits without grouping, with the exponent: short enough for the stack almost always.
    TextBuffer digits;
    std::size_t j = i;
    auto read_digits = [&](auto& out) {
        // One or more digits, single underscores between them.
        const std::size_t start = j;
        while (j < text_.size()) {
            const char c = text_[j];
            if (c >= '0' && c <= '9') {
                out.push_back(c);
                ++j;
            } else if (c == '_' && j > start && j + 1 < text_.size() && text_[j + 1] >= '0' && text_[j + 1] <= '9' &&
                       text_[j - 1] >= '0' && text_[j - 1] <= '9') {
                ++j;
            } else {
                break;
            }
        }
        return j > start;
    };
    // Digits grouped in threes with spaces, as the SI writes them ("299 792 458", "6.626 070 15"):
    // after a group of `last` digits, a space and a group of exactly three digits (or, ending a
    // fraction, one to three) that no digit follows.
    auto read_groups = [&](std::size_t last, bool fraction) {
        while (last == 3 || (!fraction && last > 0 && last < 3 && digits.size() == last)) {
            std::size_t len;
            const char32_t space = at(j, &len);
            if (space != U' ' && space != U'\u00A0' && space != U'\u2009' && space != U'\u202F') return;
            std::size_t k = j + len;
            std::size_t n = 0;
            while (n < 4 && is_digit(at(k + n))) ++n;
            if (n == 0 || n > 3 || (!fraction && n != 3) || at(k + n) == U'_') return;
            digits.append(text_.substr(k, n));
            j = k + n;
            last = n;
        }
    };
    const std::size_t whole_start = j;
    const bool whole = read_digits(digits);
    if (whole && digits.size() == j - whole_start && digits.size() <= 3) read_groups(digits.size(), false);
    if (j < text_.size() && text_[j] == '.') {
        const char32_t after = at(j + 1);
        if (is_digit(after)) {
            digits.push_back('.');
            ++j;
            const std::size_t fraction_start = j;
            const std::size_t before = digits.size();
            read_digits(digits);
            if (digits.size() - before == j - fraction_start) read_groups(digits.size() - before, true);
        } else if (whole && (after == kEnd || is_space(after) || after == U')' || after == U']' || after == U'/')) {
            ++j;  // "5." is 5
        }
    } else if (!whole) {
        return std::nullopt;
    }
    if (digits.size() == 0 || digits.view() == ".") return std::nullopt;
    // The exponent: e-notation, or a product with ten to a power.
    std::string exponent;
    // A sign and digits from k: the exponent, with j moved past them; nothing when no digit comes.
    auto read_signed_exponent = [&](std::size_t k) {
        std::size_t len;
        const char32_t s = at(k, &len);
        std::string sign;
        if (is_sign(s)) {
            if (is_minus(s)) sign = "-";
            k += len;
        }
        const std::size_t save = j;
        j = k;
        std::string d;
        if (read_digits(d)) {
            exponent = sign + d;
        } else {
            j = save;
        }
    };
    if (j < text_.size() && (text_[j] == 'e' || text_[j] == 'E')) {
        read_signed_exponent(j + 1);
    } else {
        std::size_t k = skip_spaces(j);
        std::size_t len;
        const char32_t times = at(k, &len);
        const bool star = times == U'*' && at(k + 1) != U'*';
        if (times == U'\u00D7' || times == U'\u00B7' || times == U'\u22C5' || star) {
            k = skip_spaces(k + len);
            if (text_.substr(k, 2) == "10") {
                k += 2;
                const char32_t c = at(k, &len);
                if (c == U'^' || (c == U'*' && at(k + 1) == U'*')) {
                    read_signed_exponent(skip_spaces(k + (c == U'^' ? 1 : 2)));
                } else if (superscript_digit(c) >= 0 || is_superscript_sign(c)) {
                    std::string e;
                    if (is_superscript_sign(c)) {
                        if (c == U'\u207B') e = "-";
                        k += len;
                    }
                    std::string d;
                    for (int digit; (digit = superscript_digit(at(k, &len))) >= 0; k += len) {
                        d.push_back(static_cast<char>('0' + digit));
                    }
                    if (!d.empty()) {
                        exponent = e + d;
                        j = k;
                    }
                }
            }
        }
    }
    if (!exponent.empty()) {
        digits.push_back('e');
        digits.append(exponent);
    } else {
        // Digits with at most one point and no more than fifteen in all: the integer they make
        // and the power of ten are both exact doubles, so one division or multiplication rounds
        // correctly, as from_chars would.
        std::uint64_t mantissa = 0;
        int places = -1;  // digits after the point; -1 before one
        int count = 0;
        for (const char c : digits.view()) {
            if (c == '.') {
                places = 0;
                continue;
            }
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
            ++count;
            if (places >= 0) ++places;
        }
        static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8,
                                             1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        if (count <= 15) {
            i = j;
            const double whole = static_cast<double>(mantissa);
            return places > 0 ? whole / kPowers[places] : whole;
        }
    }
    double value = 0.0;
    const auto [ptr, ec] = read_double(digits.data(), digits.data() + digits.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        const std::string_view all = digits.view();
        // Too large or too small for a double: infinity or zero, as Python's float() gives.
        const std::size_t first = all.find_first_of("123456789");
        const std::size_t point = std::min({all.find('.'), all.find('e'), all.size()});
        long long magnitude = first == std::string_view::npos ? 0
                                                         : (first < point ? static_cast<long long>(point - first)
                                                                          : -static_cast<long long>(first - point));
        const std::size_t e = all.find('e');
        if (e != std::string_view::npos) {
            const std::string_view exp_text = all.substr(e + 1);
            const bool negative = !exp_text.empty() && exp_text[0] == '-';
            // Its length alone says enough when it is long.
            long long x = 0;
            for (char c : exp_text) {
                if (c >= '0' && c <= '9' && x < 100000000) x = x * 10 + (c - '0');
            }
            magnitude += negative ? -x : x;
        }
        value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    i = j;
    return value;
}

// The power after '^' or '**' at i: [sign] decimal, or '(' [sign] decimal ['/' [sign] decimal] ')'.
bool Reader::read_exponent(std::size_t op, std::size_t& i, double& power) {
    std::size_t j = skip_spaces(i);
    auto signed_decimal = [&](std::size_t& k, double& out) {
        k = skip_spaces(k);
        std::size_t len;
        const char32_t s = at(k, &len);
        double sign = 1.0;
        if (is_sign(s)) {
            if (is_minus(s)) sign = -1.0;
            k = skip_spaces(k + len);
        }
        std::optional<double> d = read_decimal(k);
        if (!d) return false;
        out = sign * *d;
        return true;
    };
    auto missing = [&](std::size_t k) {
        if (is_name_char(at(k))) return unknown(k, segment_end(k));
        const std::size_t op_end = text_[op] == '^' ? op + 1 : op + 2;
        return malformed("'" + std::string(text_.substr(op, op_end - op)) + "' needs a power", op, op_end);
    };
    if (at(j) == U'(') {
        std::size_t k = j + 1;
        double numerator;
        if (!signed_decimal(k, numerator)) return missing(skip_spaces(k));
        k = skip_spaces(k);
        double denominator = 1.0;
        if (at(k) == U'/') {
            ++k;
            if (!signed_decimal(k, denominator)) return missing(skip_spaces(k));
            k = skip_spaces(k);
        }
        if (at(k) != U')') return malformed("unbalanced '('", j, j + 1);
        power = numerator / denominator;
        i = k + 1;
        return true;
    }
    std::size_t k = j;
    if (!signed_decimal(k, power)) return missing(skip_spaces(k));
    i = k;
    return true;
}

// The powers after an atom that ends at i: '^' or '**' (spaces allowed around them),
// superscripts, trailing digits straight after a name or a group ("m2", "s-1", "(m/s)2"), and
// the words 'squared' and 'cubed'.
bool Reader::read_postfix(std::size_t& i, Quantity& atom, AtomKind kind) {
    bool trailing_allowed = kind != AtomKind::Number;
    while (true) {
        std::size_t len;
        const char32_t c = at(i, &len);
        // Most atoms are followed by an operator, a bracket or the end: nothing to read.
        if (c == U'/' || c == U'.' || c == U')' || c == U']' || c == kEnd || c == U'+' || c == U'(') return true;
        if (trailing_allowed) {
            trailing_allowed = false;
            std::size_t k = i;
            double sign = 1.0;
            if (is_minus(c) && is_digit(at(k + len))) {
                sign = -1.0;
                k += len;
            }
            if (is_digit(at(k))) {
                std::optional<double> d = read_decimal(k);
                if (!d) return unexpected(k);
                raise_to(atom, sign * *d);
                i = k;
                continue;
            }
        }
        if (superscript_digit(c) >= 0 || is_superscript_sign(c)) {
            std::size_t k = i;
            double sign = 1.0;
            if (is_superscript_sign(c)) {
                if (c == U'\u207B') sign = -1.0;
                k += len;
            }
            double p = 0.0;
            bool any = false;
            for (int digit; (digit = superscript_digit(at(k, &len))) >= 0; k += len) {
                p = p * 10.0 + digit;
                any = true;
            }
            if (!any) return malformed("a superscript sign needs digits", i, k);
            raise_to(atom, sign * p);
            i = k;
            continue;
        }
        const std::size_t j = skip_spaces(i);
        const char32_t d = at(j);
        if (d == U'^' || (d == U'*' && at(j + 1) == U'*')) {
            std::size_t k = j + (d == U'^' ? 1 : 2);
            double p;
            if (!read_exponent(j, k, p)) return false;
            if (!std::isfinite(p)) return malformed("the power is out of range", j, k);
            raise_to(atom, p);
            i = k;
            continue;
        }
        if (j > i && (d == U's' || d == U'c')) {
            const std::size_t end = segment_end(j);
            const std::string_view word = text_.substr(j, end - j);
            if (word == "squared" || word == "cubed") {
                raise_to(atom, word == "squared" ? 2.0 : 3.0);
                i = end;
                continue;
            }
        }
        return true;
    }
}

Expected<Quantity, QuantityTextError> Reader::run() {
    SmallVector<Frame, 4> frames;
    frames.emplace_back();
    bool want_operand = true;  // otherwise an atom was just read
    bool term_start = true;    // a sign may come
    bool required = false;     // an operator waits for its operand
    bool after_dot = false;    // a number may not come
    std::size_t last_op = 0, last_op_end = 0;
    std::size_t i = 0;

    auto set_op = [&](std::size_t begin, std::size_t end) {
        last_op = begin;
        last_op_end = end;
        required = true;
    };
    // Ends the innermost frame at i (its closing bracket, or the end of the text) and returns
    // what it stands for.
    auto close_frame = [&](Quantity& out) -> bool {
        Frame& f = frames[frames.size() - 1];
        if (!end_term(f)) return false;
        if (!sum_) {
            if (f.close == U')') return malformed("empty parentheses", f.open, i + 1);
            if (f.close == 0) return malformed("empty quantity text", 0, text_.size());
            out = Quantity{};  // "[]": dimensionless
        } else {
            out = std::move(*sum_);
            sum_.reset();
        }
        return true;
    };

    while (true) {
        if (want_operand) {
            i = skip_spaces(i);
            std::size_t len;
            const char32_t c = at(i, &len);
            Frame& f = frames[frames.size() - 1];
            if (c == kEnd || c == U')' || c == U']') {
                if (required) {
                    return failed(malformed("'" + std::string(text_.substr(last_op, last_op_end - last_op)) +
                                                   "' has nothing after it",
                                               last_op, last_op_end));
                }
                want_operand = false;  // the closing is handled below
                continue;
            }
            if (term_start && is_sign(c)) {
                f.negative = is_minus(c) != f.negative;
                term_start = false;
                set_op(i, i + len);
                i += len;
                continue;
            }
            if (c == U'(' || c == U'[') {
                if (f.term_used || sum_) {
                    stash_.push_back(Stash{std::move(sum_), std::move(term_)});
                    sum_.reset();
                    term_ = Quantity{};
                    f.stashed = true;
                }
                Frame inner;
                inner.open = i;
                inner.close = c == U'(' ? U')' : U']';
                frames.emplace_back(std::move(inner));
                i += len;
                term_start = true;
                required = false;
                after_dot = false;
                continue;
            }
            std::size_t end = i;
            Quantity atom;
            AtomKind kind = AtomKind::Number;
            if (is_digit(c) || (c == U'.' && is_digit(at(i + 1)))) {
                if (after_dot) return failed(malformed("a number cannot follow '.'", i, i + 1));
                std::optional<double> x = read_number(end);
                if (!x) return failed(unexpected(i));
                atom.value = *x;
            } else if (is_name_char(c)) {
                const Word word = read_word(i, end, atom);
                switch (word) {
                    case Word::None:
                        return failed(unknown(i, end));
                    case Word::Unit:
                        kind = AtomKind::Name;
                        break;
                    case Word::Number: {
                        if (after_dot) return failed(malformed("a number cannot follow '.'", i, end));
                        atom.value = equals_folded(text_.substr(i, end - i), "nan")
                                         ? std::numeric_limits<double>::quiet_NaN()
                                         : std::numeric_limits<double>::infinity();
                        break;
                    }
                    case Word::Per:
                        // "per second" on its own: one per second.
                        f.term_used = true;
                        f.after_per = true;
                        f.divide = true;
                        set_op(i, end);
                        i = end;
                        continue;
                    case Word::Square:
                    case Word::Cubic:
                        f.pending_power *= word == Word::Square ? 2.0 : 3.0;
                        set_op(i, end);
                        i = end;
                        continue;
                    case Word::Squared:
                    case Word::Cubed:
                        return failed(malformed("'" + std::string(text_.substr(i, end - i)) + "' follows no unit", i, end));
                }
            } else if (c == U'/' && !required && !f.term_used) {
                // A '/' that begins a term or a bracket: one over what follows ("/min", as in UCUM).
                f.term_used = true;
                f.divide = true;
                set_op(i, i + len);
                i += len;
                term_start = false;
                continue;
            } else {
                if (is_grammar(c) || superscript_digit(c) >= 0 || is_superscript_sign(c)) {
                    return failed(malformed("'" + std::string(text_.substr(i, len)) + "' has nothing before it", i,
                                               i + len));
                }
                return failed(unexpected(i));
            }
            i = end;
            if (!read_postfix(i, atom, kind)) return failed(false);
            Frame& into = frames[frames.size() - 1];
            into.has_unit = into.has_unit || kind != AtomKind::Number;
            fold_atom(into, std::move(atom));
            want_operand = false;
            required = false;
            after_dot = false;
            term_start = false;
            continue;
        }

        // After an atom (or at a closing bracket or the end, with the frame's operands read).
        const std::size_t before_spaces = i;
        i = skip_spaces(i);
        const bool spaced = i > before_spaces;
        std::size_t len;
        const char32_t c = at(i, &len);
        Frame& f = frames[frames.size() - 1];
        if (c == kEnd) {
            if (frames.size() > 1) return failed(malformed("unbalanced '('", f.open, f.open + 1));
            Quantity total;
            if (!close_frame(total)) return failed(false);
            // Powers that overflow, or that no unit can have.
            bool finite = exponents_finite(total.unit.exponents());
            for (const UnitEntry& entry : total.unit.units()) finite = finite && std::isfinite(entry.power);
            if (!finite) {
                arithmetic(Error::power_overflow(std::string(text_)));
                return failed(false);
            }
            if (!to_simple_units(total)) return failed(false);
            return total;
        }
        if (c == U')' || c == U']') {
            if (frames.size() == 1) {
                return failed(malformed("unbalanced '" + std::string(text_.substr(i, len)) + "'", i, i + len));
            }
            if (f.close != c) {
                return failed(malformed("'" + std::string(text_.substr(i, len)) + "' does not close '" +
                                               std::string(text_.substr(f.open, 1)) + "'",
                                           i, i + len));
            }
            Quantity group;
            if (!close_frame(group)) return failed(false);
            frames.erase_at(frames.size() - 1);
            if (Frame& parent = frames[frames.size() - 1]; parent.stashed) {
                Stash& saved = stash_[stash_.size() - 1];
                sum_ = std::move(saved.sum);
                term_ = std::move(saved.term);
                stash_.erase_at(stash_.size() - 1);
                parent.stashed = false;
            }
            i += len;
            if (!read_postfix(i, group, AtomKind::Group)) return failed(false);
            frames[frames.size() - 1].has_unit = true;
            fold_atom(frames[frames.size() - 1], std::move(group));
            continue;
        }
        if (c == U'/' || c == U'\u00D7' || (c == U'*' && at(i + 1) != U'*')) {
            f.divide = (c == U'/') != f.after_per;
            set_op(i, i + len);
            i += len;
            want_operand = true;
            continue;
        }
        if (is_tight_operator(c)) {
            set_op(i, i + len);
            i += len;
            want_operand = true;
            after_dot = true;
            continue;
        }
        if (c == U'-' && !spaced && is_name_char(at(i + 1))) {
            // A hyphen between units: a product ("N-m", "ft-lb").
            set_op(i, i + len);
            i += len;
            want_operand = true;
            continue;
        }
        if (is_sign(c)) {
            if (!end_term(f)) return failed(false);
            f.negative = is_minus(c);
            set_op(i, i + len);
            i += len;
            want_operand = true;
            continue;
        }
        if (spaced && f.has_unit && (is_digit(c) || (c == U'.' && is_digit(at(i + 1))))) {
            // A number after a space starts the next term once this one holds a unit: "5 ft 2 in".
            if (!end_term(f)) return failed(false);
            want_operand = true;
            term_start = true;
            continue;
        }
        if (spaced && (is_digit(c) || (c == U'.' && is_digit(at(i + 1))))) {
            // Two numbers in a row, neither a term with a unit: a mixed fraction ("1 5/8 in"), a
            // grouping other than the SI's, or a coefficient; none is guessed.
            std::size_t end = i;
            (void)read_number(end);
            return failed(malformed("a number cannot follow a number", i, std::max(end, i + 1)));
        }
        if (c == U'(' || c == U'[') {
            want_operand = true;  // a product
            continue;
        }
        if (is_name_char(c)) {
            // A unit, or a word such as 'per', read there.
            want_operand = true;
            continue;
        }
        return failed(unexpected(i));
    }
}

}  // namespace

Expected<Quantity, QuantityTextError> parse_quantity_text(std::string_view text, std::span<const TextName> names) {
    return Reader(text, names).run();
}

Expected<Quantity, QuantityTextError> parse_quantity_text_memo(std::string_view text) {
    if (text.size() > TextMemo::kMaxKey || !memos_enabled()) return parse_quantity_text(text);
    TextMemo& memo = text_memo();
    if (const TextMemo::Slot* hit = memo.find(text, TextMemo::Kind::QuantityText)) {
        return Quantity{*hit->result, hit->value};
    }
    Expected<Quantity, QuantityTextError> result = parse_quantity_text(text);
    if (result) memo.store(text, TextMemo::Kind::QuantityText, result->unit, result->value, false);
    return result;
}

std::string caret_note(std::string_view text, const QuantityTextError& error) {
    if (error.kind == QuantityTextError::Kind::Arithmetic) return {};
    // A window of the text around the piece, so that long texts keep a short note.
    constexpr std::size_t kContext = 40;
    std::size_t first = error.position > kContext ? error.position - kContext : 0;
    std::string line;
    std::size_t column = 0;
    std::size_t cp = 0;
    if (first > 0) {
        line = "...";
        column = 3;
    }
    std::size_t caret_column = 0;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        const std::size_t n = decode_utf8(text, i, c);
        if (cp >= first && cp < error.position + error.width + kContext) {
            if (cp == error.position) caret_column = column;
            // Control characters would break the line; they show as a space.
            if (c < 0x20 || c == 0x7F) {
                line.push_back(' ');
            } else {
                line.append(text.substr(i, n));
            }
            ++column;
        } else if (cp >= error.position + error.width + kContext) {
            line += "...";
            break;
        }
        ++cp;
        i += n;
    }
    if (error.position >= cp) caret_column = column;
    return line + "\n" + std::string(caret_column, ' ') + std::string(std::max<std::size_t>(1, error.width), '^');
}

}  // namespace tolvat
