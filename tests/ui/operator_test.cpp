// The operator's additions without widgets: menu check marks, the frequency scale, the window's
// stretching, operator.txt and the command line.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "ui/operator_layout.h"
#include "ui/program.h"
#include "ui/program_options.h"

namespace tarpo::ui {
namespace {

TEST(OperatorLayout, DisplayCheckMarkAndScale) {
    EXPECT_EQ(display_action_id(9, 7), 40103);
    EXPECT_EQ(display_action_id(4, 14), 40138);
    EXPECT_EQ(display_action_id(4, 3), 0);  // a carrier no menu entry selects
    EXPECT_EQ(display_action_id(7, 7), 0);
    // Every tick sits on the column that shows its frequency, 250 Hz apart, over the graph.
    const auto ticks = frequency_scale();
    ASSERT_EQ(ticks.size(), 10u);  // 500 .. 2750 Hz
    for (const ScaleTick& t : ticks) {
        EXPECT_DOUBLE_EQ(column_frequency(t.column), t.hz);
        EXPECT_EQ(t.labelled, t.hz % 500 == 0);
    }
    EXPECT_EQ(ticks.front().hz, 500);
    EXPECT_EQ(ticks.back().hz, 2750);
}

TEST(OperatorLayout, StretchKeepsControlsApartAndGraphGrows) {
    const PixelRect graph = dialog_rect(42, 5, 267, 160);
    const int lower = dialog_y(95);
    const PixelRect g = stretched_rect(graph, graph, lower, 100, 50);
    EXPECT_EQ(g.width, graph.width + 100);
    EXPECT_EQ(g.height, graph.height + 50);
    // The right column stays right of the grown graph; the bottom row below it; the callsign
    // field keeps its left edge and grows; the TXID button keeps its gap to the graph's edge.
    const PixelRect tx = stretched_rect(dialog_rect(316, 148, 29, 39), graph, lower, 100, 50);
    EXPECT_GE(tx.x, g.x + g.width);
    EXPECT_EQ(tx.y, dialog_y(148) + 50);
    const PixelRect call = stretched_rect(dialog_rect(42, 173, 199, 14), graph, lower, 100, 50);
    EXPECT_GE(call.y, g.y + g.height);
    EXPECT_EQ(call.width, dialog_x(199) + 100);
    const PixelRect txid = stretched_rect(dialog_rect(283, 172, 26, 15), graph, lower, 100, 50);
    EXPECT_EQ(txid.x, dialog_x(283) + 100);
    EXPECT_GE(txid.x, call.x + call.width);
    const PixelRect squelch = stretched_rect(dialog_rect(325, 13, 12, 61), graph, lower, 100, 50);
    EXPECT_EQ(squelch.y, dialog_y(13));  // the upper controls stay at the top
}

TEST(OperatorSettingsFile, RoundTripAndJunk) {
    QTemporaryDir dir;
    const std::filesystem::path path = dir.path().toStdString() + "/operator.txt";
    EXPECT_FALSE(load_operator_settings(path).window.has_value());  // missing: defaults
    OperatorSettings s;
    s.window = PixelRect{-20, 40, 700, 400};
    s.record = true;
    ASSERT_TRUE(save_operator_settings(path, s));
    const OperatorSettings back = load_operator_settings(path);
    ASSERT_TRUE(back.window.has_value());
    EXPECT_EQ(back.window->x, -20);
    EXPECT_EQ(back.window->height, 400);
    EXPECT_TRUE(back.record);
    { std::ofstream(path) << "window 1 2 zero\nwindow 1 2 0 5\nrecord\ncolour blue\n"; }
    const OperatorSettings junk = load_operator_settings(path);
    EXPECT_FALSE(junk.window.has_value());
    EXPECT_FALSE(junk.record);
}

TEST(OperatorSettingsFile, StationStateRoundTripsAndBadValuesAreSkippedWithANote) {
    StationState s;
    s.view = std::pair{4, 0};
    s.split = true;
    s.alc = false;
    s.txid = true;
    s.rxid = false;
    s.squelch = 100;
    s.tuned_hz = 2175.0;
    OperatorSettings o;
    o.station = s;
    QTemporaryDir dir;
    const std::filesystem::path path = dir.path().toStdString() + "/operator.txt";
    ASSERT_TRUE(save_operator_settings(path, o));
    EXPECT_EQ(load_operator_settings(path).station, s);

    std::vector<std::string> notes;
    const OperatorSettings bad = read_operator_settings(
        "view 4 3\nview 7 7\nview 9\nsplit 1 1\nalc -1\nsquelch 101\nsquelch 5.5\n"
        "tuned 924.9\ntuned 2175.1\ntuned nan\ntuned 1e400\ntxid 1\ntuned 1862.5\n",
        &notes);
    EXPECT_EQ(notes.size(), 11u);
    EXPECT_FALSE(bad.station.view || bad.station.split || bad.station.alc || bad.station.squelch);
    EXPECT_EQ(bad.station.txid, true);
    EXPECT_EQ(bad.station.tuned_hz, 1862.5);
}

TEST(OperatorLayout, InstanceNameTellsOtherDirectoriesApart) {
    QTemporaryDir dir;
    const std::filesystem::path usual = dir.path().toStdString() + "/tarpo";
    const std::filesystem::path other = dir.path().toStdString() + "/station2";
    std::filesystem::create_directories(usual);
    std::filesystem::create_directories(other);
    EXPECT_EQ(instance_name(usual, usual), "");
    EXPECT_EQ(instance_name(usual / ".", usual), "");
    EXPECT_EQ(instance_name(other, usual), "station2");
    EXPECT_EQ(instance_name(other, ""), "station2");
}

TEST(OperatorSettingsFile, HostileWindowsFitTheScreens) {
    // Saved sizes that hung or crashed the program, and places far off every screen.
    std::vector<std::string> notes;
    for (const char* line : {"window 0 0 2147483647 2147483647", "window 0 0 -5 300",
                             "window 1 2 3", "window 1e3 0 600 400", "window x y z w"}) {
        notes.clear();
        EXPECT_FALSE(read_operator_settings(line, &notes).window.has_value()) << line;
        EXPECT_EQ(notes.size(), 1u) << line;
    }
    const std::vector<PixelRect> screens{{0, 0, 1920, 1050}, {1920, 0, 1280, 1024}};
    const PixelRect least{0, 0, 526, 355};
    for (const PixelRect& wanted : {PixelRect{0, 0, 32767, 32767}, PixelRect{0, 0, 100000, 100000},
                                    PixelRect{-900000, 900000, 700, 400},
                                    PixelRect{3000, 900, 700, 400}, PixelRect{100, 100, 10, 10}}) {
        const PixelRect r = fit_window(wanted, screens, least);
        EXPECT_GE(r.width, least.width);
        EXPECT_GE(r.height, least.height);
        bool on_one = false;
        for (const PixelRect& s : screens)
            on_one = on_one || (r.x >= s.x && r.y >= s.y && r.x + r.width <= s.x + s.width &&
                                r.y + r.height <= s.y + s.height);
        EXPECT_TRUE(on_one) << wanted.x << " " << wanted.y << " " << wanted.width;
    }
    // A window that fits stays where it was, on the second screen too.
    const PixelRect second{2000, 100, 700, 400};
    const PixelRect kept = fit_window(second, screens, least);
    EXPECT_EQ(kept.x, 2000);
    EXPECT_EQ(kept.width, 700);
    // The least size wins over a screen smaller than it.
    EXPECT_EQ(fit_window({0, 0, 800, 600}, {{0, 0, 320, 240}}, least).width, 526);
}

TEST(DisplayProblem, UnsetUnreachableAndPlatformsWithoutADisplay) {
    EXPECT_NE(display_problem(nullptr, nullptr, nullptr), "");
    EXPECT_NE(display_problem("", "", "xcb"), "");
    EXPECT_EQ(display_problem(nullptr, nullptr, "offscreen"), "");
    EXPECT_EQ(display_problem(nullptr, nullptr, "minimal"), "");
    EXPECT_EQ(display_problem(nullptr, "wayland-0", nullptr), "");
    // No X server answers on display 65432 of this machine, nor on TCP 127.0.0.1:6000+65432-ish.
    EXPECT_NE(display_problem(":65432", nullptr, nullptr).find("cannot be reached"),
              std::string::npos);
    EXPECT_NE(display_problem("unix:65432.0", nullptr, "xcb"), "");
    EXPECT_EQ(display_problem("some.host.example:0", nullptr, nullptr), "");  // not looked up
}

TEST(ProgramOptions, KnownUnknownAndMissingValue) {
    const char* good[] = {"tarpo", "--desktop", "--transmit", "a.wav", "--trace-controls"};
    const ProgramOptions o = parse_program_options(5, good);
    EXPECT_TRUE(o.error.empty());
    EXPECT_TRUE(o.desktop && o.trace_controls);
    EXPECT_EQ(o.transmit, "a.wav");
    const char* help[] = {"tarpo", "--help"};
    EXPECT_TRUE(parse_program_options(2, help).help);
    const char* bad[] = {"tarpo", "--colour", "--help"};
    const ProgramOptions b = parse_program_options(3, bad);
    EXPECT_NE(b.error.find("--colour"), std::string::npos);
    EXPECT_EQ(b.error.find('\n'), std::string::npos);  // one line
    const char* missing[] = {"tarpo", "--transmit"};
    EXPECT_FALSE(parse_program_options(2, missing).error.empty());
}

}  // namespace
}  // namespace tarpo::ui
