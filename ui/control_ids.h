// The identifiers of the windows, their controls and the menu entries. A widget's object name
// is its identifier's number (control_name in ui/placement.h), by which the operator's panel,
// the program's traces and the tests find it. Each window numbers its own controls, so a
// number may recur in another window. Also the one table of the views the Display menu
// offers. No toolkit types.
#pragma once

#include "engine/display_mode.h"

namespace tarpo::ui {

enum ControlId : int {
    // Any dialog's OK and Cancel buttons.
    id_ok = 1,
    id_cancel = 2,

    // The main window, its menu bar, its controls and its menu entries.
    id_main_window = 1000,
    id_menu_bar = 3000,
    id_exit = 150,
    id_graph = 1114,
    id_callsign = 1115,
    id_tx = 1118,
    id_snr_field = 1119,
    id_level_bar = 1123,
    id_squelch_indicator = 1126,
    id_squelch_slider = 1128,
    id_snr_bar = 1129,
    id_alc = 1130,
    id_split = 1131,
    id_txid = 1132,
    id_rxid = 1133,
    id_analog = 1134,
    id_scope = 40101,
    id_spectrum = 40102,
    id_waterfall = 40103,
    id_sound = 40113,
    id_about = 40131,
    id_comport = 40130,
    id_callsign_menu = 40132,
    id_center_tone = 40133,
    id_freqacq = 40136,
    id_lowest_tone = 40137,
    id_highest_tone = 40138,
    id_phase_error = 40140,
    id_enhanced_receiver = 40141,
    id_scrolling_waterfall = 40146,
    id_radio = 40150,
    id_guide = 40151,
    id_keys = 40152,
    id_network = 40153,

    // Sound Card Selection.
    id_sound_dialog = 1001,
    id_tx_output_list = 1121,
    id_rx_input_list = 1123,
    id_voice_output_list = 1124,
    id_voice_input_list = 1125,
    // Set Comport.
    id_comport_dialog = 158,
    id_comport_list = 1126,
    // Set Callsign.
    id_callsign_dialog = 160,
    id_callsign_edit = 1131,
    // About.
    id_about_dialog = 159,
    id_about_text = 1127,
    id_about_close = 1130,
};

// A view the Display menu selects: the mode it sets and, for a constellation, the carrier it
// shows (any_carrier for the other views). In the menu's order; the demodulator's views sit
// in its Demod submenu.
struct DisplayView {
    ControlId id;
    const char* text;
    int mode;
    int carrier;
    bool demod;
};

inline constexpr int any_carrier = -1;

inline constexpr DisplayView display_views[] = {
    {id_scope, "Scope", engine::display_scope, any_carrier, false},
    {id_spectrum, "Spectrum", engine::display_spectrum, any_carrier, false},
    {id_waterfall, "Waterfall", engine::display_waterfall, any_carrier, false},
    {id_scrolling_waterfall, "Scrolling Waterfall", engine::display_scrolling_waterfall,
     any_carrier, false},
    {id_freqacq, "freqacq", engine::display_freqacq, any_carrier, false},
    {id_phase_error, "PhaseErr/Carrier", engine::display_phase_error, any_carrier, true},
    {id_center_tone, "State Center Tone", engine::display_constellation, 7, true},
    {id_highest_tone, "State Highest Tone", engine::display_constellation, 14, true},
    {id_lowest_tone, "State Lowest Tone", engine::display_constellation, 0, true},
};

}  // namespace tarpo::ui
