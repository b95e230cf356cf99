// The verbs' command lines: each verb declares its options once, in a table (name, kind of
// value, range, help text); one parser reads any verb's arguments against its table and one
// printer turns the tables into the help texts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarpo::app {

enum class ValueKind {
    flag,          // present or not, takes no value
    number,        // a finite decimal number within [low, high]
    whole_number,  // a number within [low, high] without a fraction
    count,         // a whole number 0..2^64-1, digits only
    choice,        // one of `choices`, spelled exactly
    text,          // any text
};

struct OptionSpec {
    const char* name;  // "--freq"
    ValueKind kind;
    const char* value_name;  // shown after the name in the help ("HZ"); "" for flags
    // The help text; "{range}" in it stands for "low..high". Lines after a '\n' are indented
    // under the first.
    const char* help;
    double low = 0.0;
    double high = 0.0;
    const char* unit = "";  // appended to the range in the explained messages (" dB")
    std::span<const char* const> choices = {};
};

// How a verb words a number it cannot take: tx and rx have always answered tersely
// ("--freq 99999 is out of range (500 to 3000)"), channel with an explanation ("--snr must lie
// between -30 and 100 dB, not 101"); scripts may match either, so both stay.
enum class Wording { terse, explained };

// One way to call a verb: its arguments after "tarpo-cli VERB" (a '\n' continues them on an
// indented line) and what it does.
struct Synopsis {
    const char* arguments;
    const char* summary;
};

struct VerbSpec {
    const char* name;
    std::span<const Synopsis> synopses;
    std::span<const OptionSpec> options;
    Wording wording = Wording::terse;
};

// The options found on one command line, read through the names of the verb's table.
class ParsedOptions {
  public:
    bool given(const char* name) const;
    double number(const char* name, double fallback) const;  // number and whole_number
    std::uint64_t count(const char* name, std::uint64_t fallback) const;
    // The index into the option's choices.
    int choice(const char* name, int fallback) const;
    std::string text(const char* name, const std::string& fallback) const;

    std::vector<std::string> files;  // the arguments that are not options, in order

    // One option's value, as the parser stores it.
    struct Value {
        bool given = false;
        double number = 0.0;
        std::uint64_t count = 0;
        int choice = -1;
        std::string text;
    };

  private:
    friend std::optional<int> parse_options(const VerbSpec&, int, char**, ParsedOptions&);
    const Value* find(const char* name) const;

    const VerbSpec* verb_ = nullptr;
    std::vector<Value> values_;
};

// Reads argv[1..argc) (argv[0] is the verb) against the verb's table: "--name value" and
// "--name=value"; "--help" or "-h" prints the verb's help on stdout. Returns nothing when the
// verb should go on, 0 after the help, 2 after a problem reported in one line on stderr as
// "tarpo-cli VERB: ...".
std::optional<int> parse_options(const VerbSpec& verb, int argc, char** argv, ParsedOptions& out);

// "usage: tarpo-cli VERB ..." with one line (or more) per synopsis.
std::string usage_text(const VerbSpec& verb);
// The usage followed by one line per option.
void print_help(const VerbSpec& verb, std::FILE* to);
// Every verb's synopses, summaries and options.
void print_overview(std::span<const VerbSpec* const> verbs, std::FILE* to);

// "tarpo-cli VERB: MESSAGE\n" on stderr.
void report_problem(const VerbSpec& verb, const std::string& message);

}  // namespace tarpo::app
