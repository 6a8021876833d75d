#include "display.hpp"

#include <bit>
#include <cstdint>
#include <memory>
#include <utility>

#include "memo.hpp"
#include "number_text.hpp"
#include "simplify.hpp"

namespace tolvat {

void join_quantity_text(TextBuffer& out, std::string_view number, UnitText form, const TextPieces& unit) {
    out.append(number);
    out.push_back(form == UnitText::Latex ? '~' : ' ');
    for (std::size_t i = 0; i < unit.count; ++i) out.append(unit.pieces[i]);
}

void join_quantity_text(TextBuffer& out, double value, UnitText form, const TextPieces& unit) {
    append_number_text(out, value);
    join_quantity_text(out, std::string_view(), form, unit);
}

namespace {

// What a unit collection displays as, remembered per thread: programs print the same few units
// again and again (a log line, a table column). An entry holds the collection it stands for (its
// entries in order, powers to the bit, summaries to the bit) and the results computed from it: the
// fully simplified collection that the plain form shows, and the unit text of each form. The key
// keeps its units alive, so a user-defined unit in it is compared by identity and no other unit
// can take its record's place. A lookup that matches therefore gives exactly what the computation
// would, and a collection that changes (in place or not) simply looks up another entry.
//
// Bounded: kSets * kWays entries per thread, replaced least recently used first within a set.
// Collections of more than kMostUnits units, units whose name and symbol together are longer than
// kLongestText bytes, and texts longer than that are not kept; an entry with everything at its
// largest holds about 4 KiB, so a thread's memo stays near 0.5 MiB (the user guide says so).
// Each thread has its own, so lookups take no lock and threads never wait on each other.
class DisplayMemo {
public:
    static constexpr std::size_t kSets = 32;
    static constexpr std::size_t kWays = 4;
    static constexpr std::size_t kMostUnits = 8;
    static constexpr std::size_t kLongestText = 128;
    static_assert(std::has_single_bit(kSets) && kWays <= 8);

    struct Entry {
        UnitCollection key;
        bool has_full = false;
        std::uint8_t has_text = 0;  // one bit per form
        UnitCollection full;
        Conversion into_full;  // from the key's units into `full`
        std::array<std::string, 3> text;
    };

    // The entry for `collection`, made (empty of results) when there is none; nullptr for a
    // collection too large to keep or not kept yet. Valid until the next lookup on this thread.
    Entry* lookup(const UnitCollection& collection) {
        if (collection.size() > kMostUnits) return nullptr;
        const std::uint64_t hash = hash_of(collection);
        const std::size_t index = hash >> (64 - std::countr_zero(kSets));
        // The hashes of a set share one cache line, so a miss reads nothing else.
        Tags& tags = tags_[index];
        ++clock_;
        std::size_t victim = 0;
        for (std::size_t way = 0; way < kWays; ++way) {
            const bool used = (tags.used >> way) & 1u;
            if (used && tags.hash[way] == hash && same_key(entries_[index * kWays + way].key, collection)) {
                tags.last_use[way] = clock_;
                return &entries_[index * kWays + way];
            }
            const bool victim_used = (tags.used >> victim) & 1u;
            if (!used ? victim_used : (victim_used && tags.last_use[way] < tags.last_use[victim])) victim = way;
        }
        // A collection is kept from its second display on: the first display of every collection
        // (one printed once, a million distinct custom units) pays no more than a look, and only
        // the hash of what was seen is noted. Two collections with one hash merely make the second
        // be kept early.
        std::uint64_t& seen = seen_[hash & (kSeen - 1)];
        if (seen != hash) {
            seen = hash;
            return nullptr;
        }
        // The key keeps its units' records alive: only units with short texts are kept.
        for (const UnitEntry& entry : collection.units()) {
            if (entry.unit.name().size() + entry.unit.symbol().size() > kLongestText) return nullptr;
        }
        if (entries_ == nullptr) entries_ = std::make_unique<Entry[]>(kSets * kWays);
        // The copy is made first: should it fail, the old entry is still whole.
        UnitCollection key = collection;
        Entry& entry = entries_[index * kWays + victim];
        entry.key = std::move(key);
        entry.has_full = false;
        entry.has_text = 0;
        entry.full = UnitCollection();
        tags.hash[victim] = hash;
        tags.last_use[victim] = clock_;
        tags.used = static_cast<std::uint8_t>(tags.used | (1u << victim));
        return &entry;
    }

private:
    static std::uint64_t hash_of(const UnitCollection& collection) noexcept {
        std::uint64_t h = collection.size();
        for (const UnitEntry& entry : collection.units()) {
            h = (h ^ entry.unit.identity_hash()) * 0xFF51AFD7ED558CCDull;
            h = (h ^ std::bit_cast<std::uint64_t>(entry.power)) * 0xC4CEB9FE1A85EC53ull;
        }
        return h ^ (h >> 31);
    }
    static bool same_bits(double a, double b) noexcept {
        return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    }
    static bool same_key(const UnitCollection& key, const UnitCollection& collection) noexcept {
        if (key.size() != collection.size() || !same_bits(key.multiplier(), collection.multiplier())) return false;
        for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
            if (!same_bits(key.exponents()[i], collection.exponents()[i])) return false;
        }
        const UnitEntries& a = key.units();
        const UnitEntries& b = collection.units();
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!a[i].unit.same_identity(b[i].unit) || !same_bits(a[i].power, b[i].power)) return false;
        }
        return true;
    }

    // The bookkeeping of one set: the hash, last use and whether used of each way.
    struct alignas(64) Tags {
        std::array<std::uint64_t, kWays> hash{};
        std::array<std::uint32_t, kWays> last_use{};
        std::uint8_t used = 0;  // one bit per way
    };
    static constexpr std::size_t kSeen = 256;
    std::array<Tags, kSets> tags_{};
    std::unique_ptr<Entry[]> entries_;         // made when the first entry is kept
    std::array<std::uint64_t, kSeen> seen_{};  // hashes of collections displayed once
    std::uint32_t clock_ = 0;
};

// The entry itself, before the heap blocks its collections, texts and kept records may own.
static_assert(sizeof(DisplayMemo::Entry) <= 512);

// This thread's memo: a constant-initialised pointer, read with one thread-local access; the memo
// is made, and its release at thread exit arranged, out of line on first use.
constinit thread_local DisplayMemo* t_display_memo = nullptr;

struct DisplayMemoOwner {
    std::unique_ptr<DisplayMemo> memo = std::make_unique<DisplayMemo>();
    ~DisplayMemoOwner() { t_display_memo = nullptr; }
};

[[gnu::noinline]] DisplayMemo& first_display_memo() {
    thread_local DisplayMemoOwner owner;
    t_display_memo = owner.memo.get();
    return *owner.memo;
}

DisplayMemo& display_memo() {
    if (DisplayMemo* memo = t_display_memo) return *memo;
    return first_display_memo();
}

std::uint8_t form_bit(UnitText form) noexcept { return static_cast<std::uint8_t>(1u << static_cast<unsigned>(form)); }

}  // namespace

Status display_quantity(Quantity& quantity, bool& units_simple, UnitText form, DisplayedQuantity& out) {
    Status simple = simple_simplify_in_place(quantity, units_simple);
    if (!simple) return simple;
    // A simply simplified collection of at most one unit is already fully simplified, and
    // converting into the very same units keeps the value: every form shows the quantity as it is.
    const bool full = form == UnitText::Plain && quantity.unit.size() > 1;
    out.value_ = quantity.value;
    if (!full) {
        if (const std::optional<LoneUnitText> lone = lone_unit_text(quantity.unit, form)) {
            // Pieces of the unit's own texts, which live as long as the quantity's units.
            for (std::string_view piece : lone->pieces) out.unit_text_.pieces[out.unit_text_.count++] = piece;
            return Done{};
        }
    }
    DisplayMemo::Entry* entry = memos_enabled() ? display_memo().lookup(quantity.unit) : nullptr;
    const UnitCollection* shown = &quantity.unit;
    if (full) {
        // Only the shown copy carries the full simplification.
        if (entry != nullptr && entry->has_full) {
            shown = &entry->full;
            out.value_ = entry->into_full.apply(quantity.value);
        } else {
            Expected<UnitCollection> simpler = simplify(quantity.unit);
            if (!simpler) return std::move(simpler).error();
            Expected<Conversion> conversion = conversion_between(quantity.unit, *simpler);
            if (!conversion) return std::move(conversion).error();
            out.value_ = conversion->apply(quantity.value);
            if (entry != nullptr) {
                entry->full = std::move(simpler).value();
                entry->into_full = *conversion;
                entry->has_full = true;
                shown = &entry->full;
            } else {
                out.full_ = std::move(simpler).value();
                shown = &*out.full_;
            }
        }
    }
    out.unit_text_.count = 1;
    if (entry != nullptr && (entry->has_text & form_bit(form))) {
        out.unit_text_.pieces[0] = entry->text[static_cast<std::size_t>(form)];
        return Done{};
    }
    out.rendered_.clear();
    append_unit_text(out.rendered_, *shown, form);
    if (entry != nullptr && out.rendered_.size() <= DisplayMemo::kLongestText) {
        std::string& kept = entry->text[static_cast<std::size_t>(form)];
        kept = out.rendered_;
        entry->has_text |= form_bit(form);
        out.unit_text_.pieces[0] = kept;
        return Done{};
    }
    out.unit_text_.pieces[0] = out.rendered_;
    return Done{};
}

Status quantity_text(TextBuffer& out, Quantity& quantity, bool& units_simple, UnitText form) {
    DisplayedQuantity shown;
    Status made = display_quantity(quantity, units_simple, form, shown);
    if (!made) return made;
    join_quantity_text(out, shown.value(), form, shown.unit_text());
    return Done{};
}

}  // namespace tolvat
