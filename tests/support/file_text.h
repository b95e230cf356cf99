// Whole files as text, for tests that check what the program wrote or hand it a file.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tarpo::test {

// The file's bytes; empty when it cannot be read.
inline std::string slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces the file with `content`.
inline void write(const std::filesystem::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
}

}  // namespace tarpo::test
