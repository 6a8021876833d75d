#include "unit_text_advice.hpp"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <string>
#include <vector>

#include "catalogue.hpp"
#include "constants.hpp"
#include "log_catalogue.hpp"
#include "single_unit.hpp"
#include "spellings.hpp"
#include "unit_collection.hpp"
#include "unit_text.hpp"

namespace tolvat {
namespace {

// nearest_unit_spelling; with `case_only`, only the sure respellings: the micro sign, squares and
// cubes, a prefix matched to its unit, other tools' spellings, and letter case alone.
std::optional<std::string> nearest_spelling(std::string_view name, bool case_only);

// Longer texts are not searched for spellings or rewritten: no unit expression is that long, and
// the searches grow faster than the text.
constexpr std::size_t kLongestAdvisedText = 256;

// The most words of one unit name ("unified atomic mass unit").
constexpr std::size_t kMostWordsInAName = 4;

constexpr std::string_view kSyntaxHint = "write products with '.', one '/', and powers as trailing digits";

bool is_unit(std::string_view text) { return search_for_unit_name(text).has_value(); }

bool reads_fully(std::string_view text) {
    bool dropped = false;
    return UnitCollection::from_unit_name(text, dropped).has_value() && !dropped;
}

std::u32string code_points(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        i += decode_utf8(text, i, cp);
        out.push_back(cp);
    }
    return out;
}

char32_t folded(char32_t c) noexcept { return c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c; }

bool starts_with_folded(std::string_view text, std::string_view head) noexcept {
    if (head.empty() || text.size() < head.size()) return false;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (folded(static_cast<unsigned char>(text[i])) != folded(static_cast<unsigned char>(head[i]))) return false;
    }
    return true;
}

// The optimal string alignment distance: insertions, deletions, substitutions and swaps of two
// neighbours, each costing one.
std::size_t edit_distance(const std::u32string& a, const std::u32string& b, bool fold_case) {
    auto same = [fold_case](char32_t x, char32_t y) { return fold_case ? folded(x) == folded(y) : x == y; };
    std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t d = std::min({previous[j] + 1, current[j - 1] + 1,
                                      previous[j - 1] + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
            if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1])) {
                d = std::min(d, before[j - 2] + 1);
            }
            current[j] = d;
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[b.size()];
}

// Keeps the nearest spelling, of those offered, that is close enough to the wanted text and
// whose suggestion resolves. A difference of letter case alone beats every other; otherwise
// fewer edits win, at most one for texts of three to five characters and two for longer ones,
// and the first offered wins a tie. In short texts letter case tells units apart ("b" the barn,
// "B" the bel; "db" the decibarn, "dB" the decibel), so a case-only match needs two characters,
// and three for a prefixed spelling, which also needs four before it is found by edits ("kdB"
// is no kiloday).
class Nearest {
public:
    using Resolves = bool (*)(std::string_view);

    // With `case_only`, only spellings that differ from the wanted text in letter case alone.
    Nearest(std::string_view wanted, Resolves resolves, bool case_only = false)
        : wanted_(code_points(wanted)), resolves_(resolves) {
        const std::size_t n = wanted_.size();
        limit_ = case_only || n <= 2 ? 0 : n <= 5 ? 1 : 2;
    }

    void offer(std::string_view spelling, std::string_view suggestion, bool prefixed = false) {
        const std::size_t n = wanted_.size();
        const std::size_t limit = prefixed && n < 4 ? 0 : limit_;
        const std::u32string candidate = code_points(spelling);
        const std::size_t gap = candidate.size() > n ? candidate.size() - n : n - candidate.size();
        if (n == 0 || gap > limit) return;
        // Letter case aside the distance is no larger, so a candidate too far that way is too far.
        const std::size_t by_case = edit_distance(wanted_, candidate, true);
        if (by_case > limit) return;
        const std::size_t exact = edit_distance(wanted_, candidate, false);
        if (by_case != 0 && exact > limit) return;
        if (by_case == 0 && exact != 0 && n < (prefixed ? 3u : 2u)) return;
        if (best_ && (by_case > best_by_case_ || (by_case == best_by_case_ && exact >= best_exact_))) return;
        if (!resolves_(suggestion)) return;
        best_ = std::string(suggestion);
        best_by_case_ = by_case;
        best_exact_ = exact;
    }
    void offer(std::string_view spelling) { offer(spelling, spelling); }
    void offer_prefixed(std::string_view spelling) { offer(spelling, spelling, true); }

    std::optional<std::string> best() && { return std::move(best_); }

private:
    std::u32string wanted_;
    Resolves resolves_;
    std::size_t limit_;
    std::optional<std::string> best_;
    std::size_t best_by_case_ = 0;
    std::size_t best_exact_ = 0;
};

// Marks of another tool's unit syntax: '^', '*', parentheses, superscripts, product signs, or
// a minus before a digit (a negative power).
bool has_syntax_marks(std::string_view text) {
    const std::u32string cps = code_points(text);
    for (std::size_t i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        if (c == U'^' || c == U'*' || c == U'(' || c == U')' || c == U'\u00B2' || c == U'\u00B3' ||
            c == U'\u00B9' || (c >= U'\u2070' && c <= U'\u207B') || c == U'\u00B7' || c == U'\u22C5' ||
            c == U'\u00D7') {
            return true;
        }
        if ((c == U'-' || c == U'\u2212') && i + 1 < cps.size() && cps[i + 1] >= U'0' && cps[i + 1] <= U'9') return true;
    }
    return false;
}

bool is_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool has_white_space(std::string_view text) noexcept { return std::any_of(text.begin(), text.end(), is_space); }

// The words of a text, split at ASCII white space.
std::vector<std::string_view> words_of(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_space(text[i])) ++i;
        std::size_t end = i;
        while (end < text.size() && !is_space(text[end])) ++end;
        if (end > i) words.push_back(text.substr(i, end - i));
        i = end;
    }
    return words;
}

// A length unit written as "sq ft", "square meters", "cu m" or "cubic feet", in the parser's
// syntax ("ft2", "meter2", "m3"); only lengths are read this way.
std::optional<std::string> square_or_cube(std::string_view name) {
    struct Head {
        std::string_view text;
        char digit;
    };
    static constexpr Head kHeads[] = {{"square ", '2'}, {"sq. ", '2'}, {"sq ", '2'}, {"sq", '2'},
                                      {"cubic ", '3'},  {"cu. ", '3'}, {"cu ", '3'}, {"cu", '3'}};
    for (const Head& head : kHeads) {
        if (name.size() <= head.text.size() || name.substr(0, head.text.size()) != head.text) continue;
        const std::string_view rest = name.substr(head.text.size());
        std::optional<std::string> unit = is_unit(rest) ? std::optional<std::string>(rest) : nearest_unit_spelling(rest);
        if (!unit) return std::nullopt;
        const std::optional<SingleUnit> single = search_for_unit_name(*unit);
        const BaseExponents length{0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0};
        if (!single || !exponents_equal(single->exponents(), length)) return std::nullopt;
        std::string written = *unit + head.digit;
        return reads_fully(written) ? std::optional<std::string>(std::move(written)) : std::nullopt;
    }
    return std::nullopt;
}

// A prefix symbol before a unit name ("kmeter"), or a prefix name before a unit symbol ("kilom"),
// written the way the search reads them: "kilometer", "km".
std::optional<std::string> matched_prefix_form(std::string_view name) {
    for (const PrefixDef& prefix : prefix_table()) {
        std::string written;
        if (name.size() > prefix.symbol.size() && name.substr(0, prefix.symbol.size()) == prefix.symbol &&
            query_unit_names_internal(name.substr(prefix.symbol.size()), true) != nullptr) {
            written = std::string(prefix.name) + std::string(name.substr(prefix.symbol.size()));
        } else if (name.size() > prefix.name.size() && name.substr(0, prefix.name.size()) == prefix.name &&
                   query_unit_symbols_internal(name.substr(prefix.name.size())) != nullptr) {
            written = std::string(prefix.symbol) + std::string(name.substr(prefix.name.size()));
        }
        if (!written.empty() && is_unit(written)) return written;
    }
    return std::nullopt;
}

// ---- The rewrite into the parser's syntax -----------------------------------------------------

// Superscript digits and signs as plain ones, product signs as '*', and "**" as '^'.
std::string normalized(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        const std::size_t len = decode_utf8(text, i, c);
        char plain = 0;
        if (c == U'\u2070') plain = '0';
        else if (c == U'\u00B9') plain = '1';
        else if (c == U'\u00B2') plain = '2';
        else if (c == U'\u00B3') plain = '3';
        else if (c >= U'\u2074' && c <= U'\u2079') plain = static_cast<char>('4' + (c - U'\u2074'));
        else if (c == U'\u207A') plain = '+';
        else if (c == U'\u207B' || c == U'\u2212') plain = '-';
        else if (c == U'\u00B7' || c == U'\u22C5' || c == U'\u00D7') plain = '*';
        if (plain != 0) {
            out.push_back(plain);
        } else if (c == U'*' && i + 1 < text.size() && text[i + 1] == '*') {
            out.push_back('^');
            i += 2;
            continue;
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

struct Factor {
    std::string name;
    long power;
};

// One unit with its power in any of the usual notations ("m", "m2", "m^2", "m^-2", "m-2",
// "m^(-2)"), its name resolved, respelled when `may_respell` holds.
std::optional<Factor> parse_factor(std::string_view text, bool may_respell) {
    std::string_view name = text;
    long power = 1;
    auto read_power = [&power](std::string_view digits) {
        const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), power);
        return ec == std::errc() && ptr == digits.data() + digits.size();
    };
    const std::size_t open = text.rfind("^(");
    if (!text.empty() && text.back() == ')' && open != std::string_view::npos) {
        std::string_view inside = text.substr(open + 2, text.size() - open - 3);
        if (!inside.empty() && inside.front() == '+') inside.remove_prefix(1);
        if (!read_power(inside)) return std::nullopt;
        name = text.substr(0, open);
    } else {
        std::size_t digits = text.size();
        while (digits > 0 && text[digits - 1] >= '0' && text[digits - 1] <= '9') --digits;
        if (digits < text.size()) {
            if (!read_power(text.substr(digits))) return std::nullopt;
            std::size_t end = digits;
            if (end > 0 && (text[end - 1] == '-' || text[end - 1] == '+')) {
                if (text[end - 1] == '-') power = -power;
                --end;
            }
            if (end > 0 && text[end - 1] == '^') --end;
            name = text.substr(0, end);
        } else if (!text.empty() && text.back() == '^') {
            return std::nullopt;
        }
    }
    if (name.empty()) return std::nullopt;
    if (is_unit(name)) return Factor{std::string(name), power};
    if (!may_respell) return std::nullopt;
    // Only the sure respellings (other tools' spellings, letter case): a guess by edits is left
    // to the suggestions.
    std::optional<std::string> respelled = nearest_spelling(name, true);
    if (!respelled || !is_unit(*respelled)) return std::nullopt;
    return Factor{std::move(*respelled), power};
}

// Adds the factors of one side to `factors` with the side's sign; false when a part reads as no
// unit. Units are separated by '.', '*' or white space; words are joined again where together
// they name a unit ("degree Celsius").
bool add_side(std::string_view side, long sign, std::vector<Factor>& factors) {
    std::size_t start = 0;
    while (start <= side.size()) {
        std::size_t end = side.find_first_of(".*", start);
        if (end == std::string_view::npos) end = side.size();
        const std::vector<std::string_view> words = words_of(side.substr(start, end - start));
        start = end + 1;
        for (std::size_t i = 0; i < words.size();) {
            if (words[i] == "1") {
                ++i;
                continue;
            }
            // The longest run of words from here that reads as one unit; only a single word may be
            // respelled.
            std::optional<Factor> factor;
            std::size_t end = std::min(words.size(), i + kMostWordsInAName);
            for (; end > i; --end) {
                const char* first = words[i].data();
                const char* last = words[end - 1].data() + words[end - 1].size();
                factor = parse_factor(std::string_view(first, static_cast<std::size_t>(last - first)), end == i + 1);
                if (factor) break;
            }
            if (!factor) return false;
            i = end;
            auto same = std::find_if(factors.begin(), factors.end(), [&](const Factor& f) { return f.name == factor->name; });
            if (same == factors.end()) {
                factors.push_back(Factor{std::move(factor->name), sign * factor->power});
            } else {
                same->power += sign * factor->power;
            }
        }
    }
    return true;
}

std::string_view trimmed_ascii(std::string_view text) noexcept {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

// ---- Advice on one text ------------------------------------------------------------------------

struct PieceAdvice {
    std::string_view piece;
    std::optional<std::string> suggestion;
};

struct Advice {
    std::vector<PieceAdvice> pieces;  // the dropped pieces
    bool syntax = false;              // written in another tool's syntax
    std::optional<std::string> rewrite;
};

// True when a piece is units separated by white space, each readable ("kg m", "m ").
bool spaced_units(std::string_view piece) {
    if (!has_white_space(piece)) return false;
    const std::vector<std::string_view> words = words_of(piece);
    return !words.empty() &&
           std::all_of(words.begin(), words.end(), [](std::string_view w) { return parse_factor(w, false).has_value(); });
}

// The nearest spelling of a dropped piece, its power kept. Units separated by spaces are a matter
// of syntax, unless the piece is a name written in another letter case ("degree celsius").
std::optional<std::string> piece_suggestion(std::string_view piece) {
    if (has_syntax_marks(piece)) return std::nullopt;
    if (spaced_units(piece)) return nearest_spelling(piece, true);
    std::string_view name = piece;
    std::string_view power_text;
    std::string_view split_name;
    double power;
    if (split_unit_power(piece, split_name, power) && !split_name.empty()) {
        name = split_name;
        power_text = piece.substr(split_name.size());
    }
    std::optional<std::string> suggestion = nearest_unit_spelling(name);
    if (!suggestion || power_text.empty()) return suggestion;
    if (!is_unit(*suggestion)) return std::nullopt;
    std::string with_power = *suggestion + std::string(power_text);
    return reads_fully(with_power) ? std::optional<std::string>(std::move(with_power)) : std::nullopt;
}

Advice advise(std::string_view text) {
    Advice advice;
    std::vector<std::string_view> pieces;
    dropped_unit_pieces(text, pieces);
    const bool searched = text.size() <= kLongestAdvisedText;
    for (std::string_view piece : pieces) {
        std::optional<std::string> suggestion;
        if (searched) suggestion = piece_suggestion(piece);
        if (!suggestion && (has_syntax_marks(piece) || has_white_space(piece))) advice.syntax = true;
        advice.pieces.push_back(PieceAdvice{piece, std::move(suggestion)});
    }
    const std::string_view trimmed = trim_unit_text(text);
    if (std::count(trimmed.begin(), trimmed.end(), '/') > 1) advice.syntax = true;
    if (advice.syntax && searched) advice.rewrite = rewritten_unit_text(text);
    return advice;
}

std::string quoted(std::string_view text) {
    std::string out = "'";
    out.append(text);
    out.push_back('\'');
    return out;
}

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += i + 1 == items.size() ? " and " : ", ";
        out += items[i];
    }
    return out;
}

std::string did_you_mean(const Advice& advice) {
    std::vector<std::string> items;
    for (const PieceAdvice& p : advice.pieces) {
        if (!p.suggestion) continue;
        items.push_back(advice.pieces.size() == 1 ? quoted(*p.suggestion) : quoted(*p.suggestion) + " for " + quoted(p.piece));
    }
    return items.empty() ? std::string() : "did you mean " + listed(items) + "?";
}

std::string syntax_hint(const Advice& advice) {
    if (!advice.syntax) return {};
    std::string out(kSyntaxHint);
    if (advice.rewrite) out += ": " + quoted(*advice.rewrite);
    return out;
}

// The parts that are not empty, separated by "; ".
std::string joined(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!out.empty()) out += "; ";
        out += part;
    }
    return out;
}

std::string did_you_mean_one(std::optional<std::string> suggestion) {
    return suggestion ? "did you mean " + quoted(*suggestion) + "?" : std::string();
}

}  // namespace

std::optional<std::string> nearest_unit_spelling(std::string_view name) { return nearest_spelling(name, false); }

namespace {

std::optional<std::string> nearest_spelling(std::string_view name, bool case_only) {
    if (name.empty()) return std::nullopt;
    for (std::string_view micro : {std::string_view("\u00B5"), std::string_view("\u03BC")}) {
        if (name.size() > micro.size() && name.substr(0, micro.size()) == micro) {
            std::string written = "u" + std::string(name.substr(micro.size()));
            if (is_unit(written)) return written;
        }
    }
    if (std::optional<std::string> power_form = square_or_cube(name)) return power_form;
    if (std::optional<std::string> prefixed = matched_prefix_form(name)) return prefixed;
    // Other tools' spellings only as written: "kms" is not "kmh". What one means is the only
    // suggestion for it: a spelling whose meaning no unit text writes ("%") gets none, rather
    // than a near name of another dimension.
    if (const Spelling* s = find_other_spelling(name)) {
        if (!s->unit_text.empty() && reads_fully(s->unit_text)) return std::string(s->unit_text);
        return std::nullopt;
    }
    if (has_syntax_marks(name)) return std::nullopt;
    Nearest nearest(name, reads_fully, case_only);
    for (const UnitAlias& alias : unit_alias_table()) nearest.offer(alias.alias);
    for (const UnitDef& row : unit_table()) nearest.offer(row.name);
    for (const UnitDef& row : unit_table()) nearest.offer(row.symbol);
    std::string spelling;
    for (const PrefixDef& prefix : prefix_table()) {
        if (starts_with_folded(name, prefix.name)) {
            for (const UnitDef& row : unit_table()) {
                spelling.assign(prefix.name).append(row.name);
                nearest.offer_prefixed(spelling);
            }
            for (const UnitAlias& alias : unit_alias_table()) {
                spelling.assign(prefix.name).append(alias.alias);
                nearest.offer_prefixed(spelling);
            }
        }
        if (starts_with_folded(name, prefix.symbol)) {
            for (const UnitDef& row : unit_table()) {
                spelling.assign(prefix.symbol).append(row.symbol);
                nearest.offer_prefixed(spelling);
            }
        }
    }
    return std::move(nearest).best();
}

}  // namespace

std::optional<std::string> rewritten_unit_text(std::string_view text) {
    const std::string plain = normalized(trim_unit_text(text));
    std::vector<Factor> factors;
    std::string_view rest = plain;
    for (long sign = 1;; sign = -1) {
        const std::size_t slash = rest.find('/');
        std::string_view side = trimmed_ascii(rest.substr(0, slash));
        if (side.size() >= 2 && side.front() == '(' && side.back() == ')') {
            side = trimmed_ascii(side.substr(1, side.size() - 2));
        }
        if (!add_side(side, sign, factors)) return std::nullopt;
        if (slash == std::string_view::npos) break;
        rest = rest.substr(slash + 1);
    }
    std::string numerator, denominator;
    for (const Factor& f : factors) {
        if (f.power == 0) continue;
        std::string& side = f.power > 0 ? numerator : denominator;
        if (!side.empty()) side.push_back('.');
        side += f.name;
        if (f.power != 1 && f.power != -1) side += std::to_string(f.power > 0 ? f.power : -f.power);
    }
    if (numerator.empty() && denominator.empty()) return std::nullopt;
    std::string out = numerator.empty() ? "1" : numerator;
    if (!denominator.empty()) out += "/" + denominator;
    if (out == trim_unit_text(text) || !reads_fully(out)) return std::nullopt;
    return out;
}

std::string dropped_unit_text_warning(std::string_view text) {
    const Advice advice = advise(text);
    if (advice.pieces.empty()) return {};
    std::vector<std::string> pieces;
    for (const PieceAdvice& p : advice.pieces) pieces.push_back(quoted(p.piece));
    std::string out = quoted(text) + ": " + listed(pieces) +
                      (pieces.size() == 1 ? " names no unit and was ignored" : " name no unit and were ignored");
    return joined({std::move(out), did_you_mean(advice), syntax_hint(advice)});
}

std::string unit_not_found_note(std::string_view text) {
    const Advice advice = advise(text);
    return joined({did_you_mean(advice), syntax_hint(advice)});
}

std::string log_unit_not_found_note(std::string_view text) {
    Nearest nearest(text, [](std::string_view s) { return search_for_log_unit_name(s) != nullptr; });
    for (const LogUnitDef& row : log_unit_table()) {
        nearest.offer(row.name);
        nearest.offer(row.symbol);
    }
    return did_you_mean_one(std::move(nearest).best());
}

std::string constant_not_found_note(std::string_view text) {
    Nearest nearest(text, [](std::string_view s) { return search_for_constant_name(s) != nullptr; });
    for (const ConstantDef& row : constant_table()) nearest.offer(row.name);
    for (const ConstantAlias& alias : constant_alias_table()) nearest.offer(alias.alias);
    return did_you_mean_one(std::move(nearest).best());
}

}  // namespace tolvat
