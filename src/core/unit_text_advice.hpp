// What to tell a user whose unit text was not read as written: the pieces the parser dropped,
// the nearest spellings that resolve, and how to write the text in the parser's syntax. Only
// failures and texts that lose pieces come here, so none of it is on the path of a text that
// reads fully.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvat {

// For a text whose parse dropped pieces that hold a name, the report of them, for example
// "'km/h': 'h' names no unit and was ignored; did you mean 'hr'?"; empty when none was dropped.
std::string dropped_unit_text_warning(std::string_view text);

// The notes for a text that names nothing: the nearest spellings that resolve and, for unit
// expressions, how to write them; empty when there is nothing to suggest.
std::string unit_not_found_note(std::string_view text);
std::string log_unit_not_found_note(std::string_view text);
std::string constant_not_found_note(std::string_view text);

// The nearest spelling of one unit name that resolves, if there is one close enough.
std::optional<std::string> nearest_unit_spelling(std::string_view name);

// The text written in the parser's syntax ('.' between units, one '/', powers as trailing digits),
// when such a rewrite reads fully and differs from the text.
std::optional<std::string> rewritten_unit_text(std::string_view text);

}  // namespace tolvat
