// Checks on what arrives from the air or from a settings file before it goes to the network:
// a decoded callsign is untrusted text, a locator a setting the operator may mistype.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarpo::net {

// The callsign in upper case when `text` is plausible as one: 3 to 15 characters, only letters,
// digits and '/', at least one letter and one digit, no '/' at either end and no "//". Nothing
// otherwise (noise, a cut or garbled decode).
std::optional<std::string> plausible_callsign(std::string_view text);

// A Maidenhead locator of 4 or 6 characters: field A-R, square 0-9, subsquare a-x, letters of
// either case ("FN42", "FN42hn", "fn42HN").
bool valid_locator(std::string_view text);

// The locator written the usual way: field in capitals, subsquare in small letters ("FN42hn").
// `text` must be valid_locator().
std::string normal_locator(std::string_view text);

// One line naming the setting when its value is not acceptable, "" when it is. A callsign
// setting must be plausible_callsign(); a locator setting valid_locator() or, when `optional`,
// empty.
std::string callsign_problem(std::string_view setting, std::string_view value);
std::string locator_problem(std::string_view setting, std::string_view value, bool optional);

}  // namespace tarpo::net
