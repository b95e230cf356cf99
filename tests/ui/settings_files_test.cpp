// sc.txt and cs.txt: the exact bytes written, the word-by-word reading with its odd pairings,
// and hostile files.
#include "engine/settings_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace tarpo::ui {
namespace {

using tarpo::test::slurp;
using tarpo::test::write;

engine::SoundChoices read_text(const std::string& text, engine::SoundChoices start,
                               int* count = nullptr) {
    std::istringstream in(text);
    const int n = engine::read_sound_choices(in, start);
    if (count) *count = n;
    return start;
}

constexpr engine::SoundChoices nines{9, 9, 9, 9};

class SettingsFiles : public ::testing::Test {
  protected:
    std::filesystem::path dir() const { return temp_.dir(); }
    std::vector<std::string> names() const { return temp_.names(); }
    tarpo::test::TempDir temp_{"tarpo-settings"};
};

TEST_F(SettingsFiles, SoundChoicesWrittenExactlyAndReadBack) {
    // rx input 1, tx output 0, voice input 2, voice output 3.
    const engine::SoundChoices choices{0, 2, 3, 1};
    ASSERT_TRUE(engine::save_sound_choices(dir() / "sc.txt", choices));
    EXPECT_EQ(slurp(dir() / "sc.txt"), "0 SCouttx\n2 SCintx\n3 SCoutrx\n1 SCintx\n");
    engine::SoundChoices back = nines;
    EXPECT_EQ(engine::load_sound_choices(dir() / "sc.txt", back), 4);
    EXPECT_EQ(back, choices);

    for (const engine::SoundChoices& c :
         {engine::SoundChoices{-1, -1, -1, -1}, engine::SoundChoices{INT_MIN, INT_MAX, 0, 10}}) {
        ASSERT_TRUE(engine::save_sound_choices(dir() / "sc.txt", c));
        engine::SoundChoices r = nines;
        engine::load_sound_choices(dir() / "sc.txt", r);
        EXPECT_EQ(r, c);
    }
    // Rewritten whole through a temporary file that does not stay behind.
    EXPECT_EQ(names(), std::vector<std::string>{"sc.txt"});
}

TEST(SoundChoicesReading, FollowsWordsNotLines) {
    int n = 0;
    // Swapped labels change nothing: the variables are filled in order.
    EXPECT_EQ(read_text("5 SCintx\n6 SCouttx\n7 SCintx\n8 SCoutrx\n", nines, &n),
              (engine::SoundChoices{5, 6, 7, 8}));
    EXPECT_EQ(n, 4);
    // Bare numbers pair up: the 2 is the first read's label, the 1 the second's.
    EXPECT_EQ(read_text("0\n2\n3\n1\n", nines, &n), (engine::SoundChoices{0, 3, 9, 9}));
    EXPECT_EQ(n, 2);
    // A word where the first number belongs stops everything.
    EXPECT_EQ(read_text("SCouttx 1\n2 SCintx\n", nines, &n), nines);
    EXPECT_EQ(n, 0);
    // ... and one later keeps the variables before it.
    EXPECT_EQ(read_text("1 a\n2 b\nx c\n4 d\n", nines, &n), (engine::SoundChoices{1, 2, 9, 9}));
    // All on one line, other white space, a label glued to its number.
    EXPECT_EQ(read_text(" \t1 a 2\tb\r\n3\fc\v4d", nines), (engine::SoundChoices{1, 2, 3, 4}));
    // Signs: "-1" and "+3" are numbers, a sign alone is not.
    EXPECT_EQ(read_text("-1 a +3 b - c 7 d", nines, &n), (engine::SoundChoices{-1, 3, 9, 9}));
    // A file that ends after a number: that number counts, the rest stay.
    EXPECT_EQ(read_text("4", nines, &n), (engine::SoundChoices{4, 9, 9, 9}));
    EXPECT_EQ(n, 1);
    EXPECT_EQ(read_text("", nines, &n), nines);
}

TEST(SoundChoicesReading, LongLabelsAndNumbers) {
    // A label of any length is skipped whole (no scratch buffer to overrun, and no tail of it
    // read as the next number, even when that tail is digits).
    const std::string long_label(100000, 'x');
    const std::string digit_label = "SC" + std::string(150, '7');
    EXPECT_EQ(read_text("1 " + long_label + "\n2 " + digit_label + "\n3 a\n4 b\n", nines),
              (engine::SoundChoices{1, 2, 3, 4}));
    // Numbers beyond int saturate.
    EXPECT_EQ(read_text("99999999999999999999 a -99999999999 b 2147483647 c -2147483648 d", nines),
              (engine::SoundChoices{INT_MAX, INT_MIN, INT_MAX, INT_MIN}));
}

TEST(SoundChoicesReading, HostileBytesNeverMisbehave) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 300);
    for (int trial = 0; trial < 2000; ++trial) {
        std::string text(static_cast<std::size_t>(length(rng)), '\0');
        for (char& c : text) c = static_cast<char>(byte(rng));
        int n = -1;
        read_text(text, nines, &n);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, 4);
    }
}

TEST_F(SettingsFiles, MissingFilesLeaveTheDefaults) {
    engine::SoundChoices c = nines;
    EXPECT_EQ(engine::load_sound_choices(dir() / "absent.txt", c), 0);
    EXPECT_EQ(c, nines);
    engine::CallsignText text = engine::make_callsign_text("NOCALL");
    EXPECT_FALSE(engine::load_callsign(dir() / "absent.txt", text));
    EXPECT_EQ(engine::callsign_string(text), "NOCALL");
}

TEST_F(SettingsFiles, CallsignLineRules) {
    auto load = [this](const std::string& content) {
        write(dir() / "cs.txt", content);
        engine::CallsignText text = engine::make_callsign_text("NOCALL");
        engine::load_callsign(dir() / "cs.txt", text);
        return engine::callsign_string(text);
    };
    EXPECT_EQ(load("DL1ABC"), "DL1ABC");
    EXPECT_EQ(load("DL1ABC\nSECOND LINE"), "DL1ABC\n");  // the line end comes along
    EXPECT_EQ(load(""), "NOCALL");
    EXPECT_EQ(load("\n"), "\n");
    EXPECT_EQ(load(std::string(200, 'K')), std::string(79, 'K'));
    EXPECT_EQ(load(std::string(79, 'K') + "\n"), std::string(79, 'K'));  // no room for the end
    EXPECT_EQ(load(std::string("AB\0CD", 5)), "AB");  // the text ends at a zero byte
}

TEST_F(SettingsFiles, CallsignSavedWithoutLineEnd) {
    ASSERT_TRUE(engine::save_callsign(dir() / "cs.txt", engine::make_callsign_text("DL1ABC/P")));
    EXPECT_EQ(slurp(dir() / "cs.txt"), "DL1ABC/P");
    engine::CallsignText back = engine::make_callsign_text("NOCALL");
    ASSERT_TRUE(engine::load_callsign(dir() / "cs.txt", back));
    EXPECT_EQ(engine::callsign_string(back), "DL1ABC/P");
    EXPECT_EQ(engine::callsign_string(engine::make_callsign_text(std::string(300, 'Q'))).size(),
              79u);
}

TEST_F(SettingsFiles, ReceiverChoiceOneWord) {
    bool enhanced = true;
    EXPECT_FALSE(engine::load_receiver_choice(dir() / "receiver.txt", enhanced));  // missing
    EXPECT_TRUE(enhanced);
    for (const char* junk : {"", "Design", "coherent\n", "\xff\xfe", "designer"}) {
        write(dir() / "receiver.txt", junk);
        EXPECT_FALSE(engine::load_receiver_choice(dir() / "receiver.txt", enhanced)) << junk;
        EXPECT_TRUE(enhanced);
    }
    // Written under the name that older builds read as well.
    ASSERT_TRUE(engine::save_receiver_choice(dir() / "receiver.txt", false));
    EXPECT_EQ(slurp(dir() / "receiver.txt"), "design\n");
    EXPECT_TRUE(engine::load_receiver_choice(dir() / "receiver.txt", enhanced));
    EXPECT_FALSE(enhanced);
    write(dir() / "receiver.txt", "  enhanced  \n\n");
    EXPECT_TRUE(engine::load_receiver_choice(dir() / "receiver.txt", enhanced));
    EXPECT_TRUE(enhanced);
    write(dir() / "receiver.txt", "differential\n");  // the name the program says now
    EXPECT_TRUE(engine::load_receiver_choice(dir() / "receiver.txt", enhanced));
    EXPECT_FALSE(enhanced);
}

TEST_F(SettingsFiles, ReceiverChoiceOtherWordsSaidAndFifosPassedBy) {
    bool enhanced = true;
    std::string note;
    EXPECT_FALSE(engine::read_receiver_choice("fast\n", enhanced, note));
    EXPECT_EQ(note, "'fast' is neither enhanced nor differential; using enhanced");
    note.clear();
    EXPECT_FALSE(engine::read_receiver_choice("\n\n", enhanced, note));  // empty: nothing to say
    EXPECT_EQ(note, "");
    // A FIFO is neither read (no writer would ever come) nor replaced by a save.
    ASSERT_EQ(::mkfifo((dir() / "receiver.txt").c_str(), 0644), 0);
    EXPECT_FALSE(engine::load_receiver_choice(dir() / "receiver.txt", enhanced));
    EXPECT_FALSE(engine::save_receiver_choice(dir() / "receiver.txt", false));
    EXPECT_TRUE(std::filesystem::is_fifo(dir() / "receiver.txt"));
}

TEST_F(SettingsFiles, FailedWriteLeavesTheOldFile) {
    write(dir() / "cs.txt", "OLD");
    // A directory where the file should be cannot be replaced by a file.
    std::filesystem::create_directory(dir() / "blocked");
    EXPECT_FALSE(engine::write_file_whole(dir() / "blocked", "NEW"));
    EXPECT_TRUE(std::filesystem::is_directory(dir() / "blocked"));
    EXPECT_EQ(names(), (std::vector<std::string>{"blocked", "cs.txt"}));
    // A parent that is a file: nothing can be created at all.
    EXPECT_FALSE(
        engine::save_callsign(dir() / "cs.txt" / "cs.txt", engine::make_callsign_text("NEW")));
    EXPECT_EQ(slurp(dir() / "cs.txt"), "OLD");
}

}  // namespace
}  // namespace tarpo::ui
