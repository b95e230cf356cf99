#include "app/cli_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tarpo::app {

namespace {

// What went wrong with one option; the text is the message after "tarpo-cli VERB: ".
struct Problem {
    std::string message;
};

std::string format(const char* pattern, auto... values) {
    char line[512];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

double read_number(const VerbSpec& verb, const OptionSpec& option, const char* text) {
    const bool terse = verb.wording == Wording::terse;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        throw Problem{format(terse ? "%s takes a number, not '%s'" : "%s needs a number, not '%s'",
                             option.name, text)};
    if (v < option.low || v > option.high)
        throw Problem{terse ? format("%s %s is out of range (%g to %g)", option.name, text,
                                     option.low, option.high)
                            : format("%s must lie between %g and %g%s, not %s", option.name,
                                     option.low, option.high, option.unit, text)};
    if (option.kind == ValueKind::whole_number && v != std::floor(v))
        throw Problem{
            terse ? format("%s takes a whole number %g..%g", option.name, option.low, option.high)
                  : format("%s needs a whole number %g..%g, not '%s'", option.name, option.low,
                           option.high, text)};
    return v;
}

std::uint64_t read_count(const VerbSpec& verb, const OptionSpec& option, const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || text[0] == '-' || text[0] == '+' ||
        text[0] == ' ')
        throw Problem{format(verb.wording == Wording::terse
                                 ? "%s takes a whole number 0..18446744073709551615, not '%s'"
                                 : "%s needs a whole number 0..18446744073709551615, not '%s'",
                             option.name, text)};
    return v;
}

// "none, good, moderate or poor".
std::string choice_list(std::span<const char* const> choices) {
    std::string list;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (i > 0) list += i + 1 == choices.size() ? " or " : ", ";
        list += choices[i];
    }
    return list;
}

int read_choice(const OptionSpec& option, const char* text) {
    for (std::size_t i = 0; i < option.choices.size(); ++i)
        if (std::strcmp(text, option.choices[i]) == 0) return static_cast<int>(i);
    throw Problem{std::string(option.name) + " must be " + choice_list(option.choices) + ", not '" +
                  text + "'"};
}

const OptionSpec* find_option(const VerbSpec& verb, const std::string& name) {
    for (const OptionSpec& option : verb.options)
        if (name == option.name) return &option;
    return nullptr;
}

}  // namespace

const ParsedOptions::Value* ParsedOptions::find(const char* name) const {
    for (std::size_t i = 0; i < verb_->options.size(); ++i)
        if (std::strcmp(verb_->options[i].name, name) == 0) return &values_[i];
    return nullptr;  // not in the table: a mistake of the verb's code, read as absent
}

bool ParsedOptions::given(const char* name) const {
    const Value* v = find(name);
    return v && v->given;
}

double ParsedOptions::number(const char* name, double fallback) const {
    const Value* v = find(name);
    return v && v->given ? v->number : fallback;
}

std::uint64_t ParsedOptions::count(const char* name, std::uint64_t fallback) const {
    const Value* v = find(name);
    return v && v->given ? v->count : fallback;
}

int ParsedOptions::choice(const char* name, int fallback) const {
    const Value* v = find(name);
    return v && v->given ? v->choice : fallback;
}

std::string ParsedOptions::text(const char* name, const std::string& fallback) const {
    const Value* v = find(name);
    return v && v->given ? v->text : fallback;
}

namespace {

void store_value(const VerbSpec& verb, const OptionSpec& option, const char* text,
                 ParsedOptions::Value& value) {
    switch (option.kind) {
        case ValueKind::flag:
            break;
        case ValueKind::number:
        case ValueKind::whole_number:
            value.number = read_number(verb, option, text);
            break;
        case ValueKind::count:
            value.count = read_count(verb, option, text);
            break;
        case ValueKind::choice:
            value.choice = read_choice(option, text);
            break;
        case ValueKind::text:
            value.text = text;
            break;
    }
    value.given = true;
}

// Reads the option at argv[i] (and its value, which may be the next argument); returns the
// index of the last argument used.
int read_option(const VerbSpec& verb, int argc, char** argv, int i,
                std::vector<ParsedOptions::Value>& values) {
    std::string name = argv[i];
    std::optional<std::string> attached;  // the value of "--name=value"
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
        attached = name.substr(eq + 1);
        name.resize(eq);
    }
    const OptionSpec* option = find_option(verb, name);
    if (!option) throw Problem{"unknown option '" + name + "'"};
    ParsedOptions::Value& value = values[static_cast<std::size_t>(option - verb.options.data())];
    if (option->kind == ValueKind::flag) {
        if (attached) throw Problem{name + " takes no value"};
        store_value(verb, *option, "", value);
        return i;
    }
    if (attached) {
        store_value(verb, *option, attached->c_str(), value);
        return i;
    }
    if (i + 1 >= argc) throw Problem{name + " needs a value"};
    store_value(verb, *option, argv[i + 1], value);
    return i + 1;
}

}  // namespace

std::optional<int> parse_options(const VerbSpec& verb, int argc, char** argv, ParsedOptions& out) {
    out.verb_ = &verb;
    out.values_.assign(verb.options.size(), {});
    out.files.clear();
    try {
        for (int i = 1; i < argc; ++i) {
            const char* arg = argv[i];
            if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
                print_help(verb, stdout);
                return 0;
            }
            if (arg[0] == '-' && arg[1] != '\0')
                i = read_option(verb, argc, argv, i, out.values_);
            else
                out.files.emplace_back(arg);
        }
    } catch (const Problem& problem) {
        report_problem(verb, problem.message);
        return 2;
    }
    return std::nullopt;
}

void report_problem(const VerbSpec& verb, const std::string& message) {
    std::fprintf(stderr, "tarpo-cli %s: %s\n", verb.name, message.c_str());
}

namespace {

// Text with every '\n' followed by `indent` spaces.
std::string indented(const char* text, std::size_t indent) {
    std::string out;
    for (const char* c = text; *c; ++c) {
        out += *c;
        if (*c == '\n') out.append(indent, ' ');
    }
    return out;
}

std::string range_text(const OptionSpec& option) {
    if (option.kind == ValueKind::count) return "0..18446744073709551615";
    return format("%g..%g", option.low, option.high);
}

std::string help_text(const OptionSpec& option) {
    std::string help = option.help;
    if (const auto at = help.find("{range}"); at != std::string::npos)
        help.replace(at, 7, range_text(option));
    return help;
}

std::string option_label(const OptionSpec& option) {
    std::string label = option.name;
    if (option.value_name[0] != '\0') label += std::string(" ") + option.value_name;
    return label;
}

// One line per option, the help texts in one column at least 14 characters after the start
// of the names.
std::string option_lines(const VerbSpec& verb, std::size_t indent) {
    std::size_t column = 14;
    for (const OptionSpec& option : verb.options)
        column = std::max(column, option_label(option).size() + 2);
    std::string out;
    for (const OptionSpec& option : verb.options) {
        std::string label = option_label(option);
        label.resize(column, ' ');
        out += std::string(indent, ' ') + label +
               indented(help_text(option).c_str(), indent + column) + "\n";
    }
    return out;
}

}  // namespace

std::string usage_text(const VerbSpec& verb) {
    const std::string command = std::string("tarpo-cli ") + verb.name;
    std::string out;
    for (std::size_t i = 0; i < verb.synopses.size(); ++i) {
        out += (i == 0 ? "usage: " : "       ") + command;
        if (verb.synopses[i].arguments[0] != '\0')
            out += " " + indented(verb.synopses[i].arguments, 8 + command.size());
        out += "\n";
    }
    return out;
}

void print_help(const VerbSpec& verb, std::FILE* to) {
    std::fputs((usage_text(verb) + option_lines(verb, 2)).c_str(), to);
}

void print_overview(std::span<const VerbSpec* const> verbs, std::FILE* to) {
    std::string out = "usage: tarpo-cli VERB [options] FILES\n";
    for (const VerbSpec* verb : verbs) {
        out += "\n";
        const std::size_t indent = 3 + std::strlen(verb->name);
        for (const Synopsis& synopsis : verb->synopses)
            out += std::string("  ") + verb->name + (synopsis.arguments[0] != '\0' ? " " : "") +
                   indented(synopsis.arguments, indent) + "\n      " + synopsis.summary + "\n";
        out += option_lines(*verb, 6);
    }
    out += "\n'tarpo-cli VERB --help' shows one verb.\n";
    std::fputs(out.c_str(), to);
}

}  // namespace tarpo::app
