// The graph's views, numbered as the Display menu numbers them; operator.txt keeps the number.
#pragma once

namespace tarpo::engine {

enum DisplayMode : int {
    display_scope = 1,
    display_spectrum = 2,
    display_freqacq = 3,
    display_constellation = 4,
    display_phase_error = 5,
    display_waterfall = 9,
    display_scrolling_waterfall = 10,
};

}  // namespace tarpo::engine
