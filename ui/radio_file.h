// The radio settings file, radio.txt, beside the other settings files: one "key value" pair a
// line, for example
//
//   method hamlib_net
//   net_host localhost
//   net_port 4532
//   dial_rig none
//
// dial_rig names the rig whose dial is read while PTT goes another way (cat: rig_model on
// rig_port; net: the rigctld on net_host:net_port); files without it read no dial then.
// Unknown keys, lines without a value and values out of range are skipped, so that a damaged
// or hand-edited file never stops the program: what could not be read keeps its default, and
// each such line is said once on standard error with the value used instead.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "ptt/radio_settings.h"

namespace tarpo::ui {

inline constexpr const char* radio_file_name = "radio.txt";

// The word radio.txt uses for a method, and back (false for an unknown word).
const char* ptt_kind_word(ptt::PttKind kind);
bool ptt_kind_from_word(const std::string& word, ptt::PttKind& kind);

// Reads pairs until the end; lines longer than 1000 characters, text values with control
// characters and values out of range (rig_model 1..99999, rig_baud a standard serial speed or
// 0, net_port 1..65535, cm108_gpio 1..8, dial_rig none, cat or net) are skipped, each with one note
// ("line 3: ...") in `notes` when given. Returns how many values were taken.
int read_radio_settings(std::istream& in, ptt::RadioSettings& settings,
                        std::vector<std::string>* notes = nullptr);
// As above from the file (its first 64 KiB, only a regular file), the notes said on standard
// error; then cm108_device is checked on this machine (cm108_device_problem): one that names
// something else than a hidraw device is refused (said, and emptied, so nothing is opened).
int load_radio_settings(const std::filesystem::path& file, ptt::RadioSettings& settings);

// The serial speeds rig_baud may hold (bit/s), 0 (the model's default) aside.
const std::vector<int>& serial_speeds();

// Why `device` cannot be a CM108's hidraw device, "" when it can: it must be a character
// device (after links) of the hidraw class. A missing device (the interface unplugged) is no
// problem here: opening it fails later and says so.
std::string cm108_device_problem(const std::string& device);

// A rig model that Hamlib does not list (`models` when it is not empty) is said once and
// replaced by 1 (Hamlib's dummy rig). Returns whether it was replaced.
bool check_rig_model(ptt::RadioSettings& settings, const std::vector<int>& models);
std::string format_radio_settings(const ptt::RadioSettings& settings);
// Replaces the file whole (a temporary file renamed over it); false when it cannot.
bool save_radio_settings(const std::filesystem::path& file, const ptt::RadioSettings& settings);

}  // namespace tarpo::ui
