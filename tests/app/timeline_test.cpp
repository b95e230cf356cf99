// The receiver's output keeps the input's timeline whatever it hears: steady tones on the
// carrier grid and signals far off tune make it declare more frames than 25 a second.
#include "hostile.h"

namespace {

using namespace hostile;

TEST_F(Dir, OutputIsAsLongAsTheInputWhateverTheReceiverDeclares) {
    ASSERT_EQ(run("tx --test-frames --seconds 10 " + path("sig.wav")).status, 0);
    for (const double hz : {975.0, 1520.0, 2025.0}) {
        write_bytes(dir / "in.wav", wav_bytes(48000, tone(hz, 10.0, 48000)));
        const Result r = run("rx --squelch 15 " + path("in.wav") + " " + path("out.wav"));
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(fs::file_size(path("out.wav")), fs::file_size(path("in.wav"))) << hz << r.out;
        EXPECT_NE(r.out.find("surplus dropped"), std::string::npos) << r.out;
    }
    for (const char* offset : {"37.5", "150"}) {
        ASSERT_EQ(run(std::string("channel --offset ") + offset + " " + path("sig.wav") + " " +
                      path("off.wav"))
                      .status,
                  0);
        const Result r = run("rx --squelch 15 " + path("off.wav") + " " + path("out.wav"));
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(fs::file_size(path("out.wav")), fs::file_size(path("off.wav"))) << offset;
    }
}

}  // namespace
