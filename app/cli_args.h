// Small helpers for the verbs' command lines: numbers are checked whole and against their
// range, and every problem becomes one line on stderr.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarpo::app {

// Parses text as a finite number within [lo, hi]; on failure prints
// "tarpo-cli VERB: OPTION ..." and returns false.
inline bool parse_number(const char* verb, const char* option, const char* text, double lo,
                         double hi, double& value) {
    if (!text) {
        std::fprintf(stderr, "tarpo-cli %s: %s needs a value\n", verb, option);
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v)) {
        std::fprintf(stderr, "tarpo-cli %s: %s takes a number, not '%s'\n", verb, option, text);
        return false;
    }
    if (v < lo || v > hi) {
        std::fprintf(stderr, "tarpo-cli %s: %s %s is out of range (%g to %g)\n", verb, option, text,
                     lo, hi);
        return false;
    }
    value = v;
    return true;
}

// Takes the text after an option; on a missing one prints "tarpo-cli VERB: OPTION needs a
// value" and returns false.
inline bool parse_text(const char* verb, const char* option, const char* text, std::string& value) {
    if (!text) {
        std::fprintf(stderr, "tarpo-cli %s: %s needs a value\n", verb, option);
        return false;
    }
    value = text;
    return true;
}

}  // namespace tarpo::app
