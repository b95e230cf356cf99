// Where the program keeps its settings when started from the desktop menu.
#include "ui/program.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

namespace tarpo::ui {
namespace {

TEST(DesktopDirectory, XdgConfigHomeThenHome) {
    EXPECT_EQ(desktop_directory("/cfg", "/home/op"), std::filesystem::path("/cfg/tarpo"));
    // The XDG base-directory rules ignore relative and empty values.
    EXPECT_EQ(desktop_directory("cfg", "/home/op"),
              std::filesystem::path("/home/op/.config/tarpo"));
    EXPECT_EQ(desktop_directory("", "/home/op"), std::filesystem::path("/home/op/.config/tarpo"));
    EXPECT_EQ(desktop_directory(nullptr, "/home/op"),
              std::filesystem::path("/home/op/.config/tarpo"));
    EXPECT_TRUE(desktop_directory(nullptr, nullptr).empty());
    EXPECT_TRUE(desktop_directory("relative", "").empty());
}

TEST(DesktopDirectory, CreatedAndEntered) {
    QTemporaryDir temp;
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path target =
        desktop_directory(temp.path().toStdString().c_str(), nullptr);
    ASSERT_TRUE(enter_directory(target));
    EXPECT_EQ(std::filesystem::current_path(), target);
    EXPECT_TRUE(enter_directory(target));  // already there
    std::filesystem::current_path(before);
    // A file in the way, or no directory at all, leaves the working directory alone.
    std::filesystem::path blocked = std::filesystem::path(temp.path().toStdString()) / "file";
    { std::ofstream(blocked) << "x"; }
    EXPECT_FALSE(enter_directory(blocked / "tarpo"));
    EXPECT_FALSE(enter_directory({}));
    EXPECT_EQ(std::filesystem::current_path(), before);
}

}  // namespace
}  // namespace tarpo::ui
