// A fresh directory for one test under the system's temporary directory, removed with
// everything in it when the object goes. Names come from mkdtemp, so test processes running side
// by side (ctest -j, a sanitizer build next to a plain one) never share one.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tarpo::test {

class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "tarpo-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data())) dir_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path path(const std::string& relative) const { return dir_ / relative; }

    // Writes a file (its directories made first); empty text makes an empty file.
    void write(const std::string& relative, const std::string& text = {}) const {
        std::filesystem::create_directories(path(relative).parent_path());
        std::ofstream(path(relative), std::ios::binary) << text;
    }
    void make_dirs(const std::string& relative) const {
        std::filesystem::create_directories(path(relative));
    }
    std::string read(const std::string& relative) const {
        std::ifstream in(path(relative), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The names directly in the directory, sorted: for "nothing left behind" checks.
    std::vector<std::string> names() const {
        std::vector<std::string> v;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            v.push_back(e.path().filename());
        std::sort(v.begin(), v.end());
        return v;
    }

  private:
    std::filesystem::path dir_;
};

}  // namespace tarpo::test
