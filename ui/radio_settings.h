// The radio settings file, radio.txt, beside the other settings files: one "key value" pair a
// line, for example
//
//   method hamlib_net
//   net_host localhost
//   net_port 4532
//
// Unknown keys, lines without a value and values out of range are skipped, so that a damaged
// or hand-edited file never stops the program: what could not be read keeps its default.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

#include "ptt/radio_settings.h"

namespace tarpo::ui {

inline constexpr const char* radio_file_name = "radio.txt";

// The word radio.txt uses for a method, and back (false for an unknown word).
const char* ptt_kind_word(ptt::PttKind kind);
bool ptt_kind_from_word(const std::string& word, ptt::PttKind& kind);

// Reads pairs until the end; lines longer than 1000 characters, text values with control
// characters and numbers out of range are skipped. Returns how many values were taken.
int read_radio_settings(std::istream& in, ptt::RadioSettings& settings);
int load_radio_settings(const std::filesystem::path& file, ptt::RadioSettings& settings);
std::string format_radio_settings(const ptt::RadioSettings& settings);
// Replaces the file whole (a temporary file renamed over it); false when it cannot.
bool save_radio_settings(const std::filesystem::path& file, const ptt::RadioSettings& settings);

}  // namespace tarpo::ui
