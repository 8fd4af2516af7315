// Every value attackscope prints is what attackscope~ sends in the real pd on the same file:
// pd plays the file with tabplay~ into the object in a subpatch with [block~ N]; the energies
// and ratios it sends are written into tables, keyed by block, and saved as 32-bit float WAVs,
// so they are compared bit for bit; "clip" and the blocks that sent no energy come from pd's
// console. Blocks pd plays after the end of the file (tabplay~ then sends zeros) are not
// compared: the program analyses the file's whole blocks only.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli_support.h"
#include "signals.h"

namespace {

using cli_test::csv_rows;

constexpr int table_blocks = 65536;

// Plucks low and high (one above the pitch limit), a loud pluck clipped to full scale, a steady
// tone, silence, and single non-finite and subnormal samples in the quiet between notes. Its
// length is no whole number of blocks.
std::vector<float> recording() {
    std::vector<float> a(6 * signals::rate + 777, 0.0f);
    signals::add_pluck(a, 3000, 196.0, 0.6, 0.5, 1);
    signals::add_pluck(a, 40000, 329.63, 0.5, 0.3, 2);
    signals::add_pluck(a, 75000, 110.0, 0.6, 0.7, 3);
    signals::add_pluck(a, 110000, 1318.5, 0.4, 0.4, 4);
    std::vector<float> loud(a.size(), 0.0f);
    signals::add_pluck(loud, 150000, 246.94, 0.5, 2.5, 5);
    signals::clip(loud);
    for (size_t i = 0; i < a.size(); i++)
        a[i] += loud[i];
    signals::add_tone(a, 185000, 440.0, 0.4, 0.3, 6, 0.2);
    signals::add_pluck(a, 230000, 392.0, 0.3, 0.5, 6);
    // Between 0.6 and 0.8 s, 2.9 and 3.3 s: the quiet after notes.
    a[30000] = std::numeric_limits<float>::quiet_NaN();
    a[31500] = std::numeric_limits<float>::infinity();
    for (int i = 0; i < 50; i++)
        a[static_cast<size_t>(130000 + i)] =
            std::numeric_limits<float>::denorm_min() * static_cast<float>(i + 1);
    a[140000] = -std::numeric_limits<float>::infinity();
    return a;
}

struct inlets {
    float onset = 10, peak = 8, floor = 0, holdoff = 5, filter = 1, two_valued = 0;
};

std::string number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    return text;
}

// The main patch: on load it reads the recording, starts DSP, sends the inlets' values (after
// the DSP start, as the object's reset restores defaults), then plays; 300 ms after the end it
// saves the tables and quits. The subpatch counts its blocks with bang~ (which fires after the
// block), writes each energy and ratio at its block's index, prints "ratio: k" when block k
// sent a ratio and "quiet: k" when it sent no energy.
std::string patch(int block, const inlets &p) {
    std::string s = "#N canvas 0 0 800 600 12;\n";
    s += "#X obj 10 10 loadbang;\n";                               // 0
    s += "#X obj 10 40 t b b b;\n";                                // 1
    s += "#X msg 200 70 read -resize recording.wav rec;\n";        // 2
    s += "#X obj 200 100 soundfiler;\n";                           // 3
    s += "#X msg 100 130 \\; pd dsp 1 \\; p1 " + number(p.onset) + // 4
         " \\; p2 " + number(p.peak) + " \\; p3 " + number(p.floor) + " \\; p4 " +
         number(p.holdoff) + " \\; p5 " + number(p.filter) + " \\; p6 " + number(p.two_valued) +
         ";\n";
    s += "#X msg 10 160 \\; play bang;\n";                                     // 5
    s += "#X obj 500 10 table rec;\n";                                         // 6
    s += "#X obj 500 40 table energy " + std::to_string(table_blocks) + ";\n"; // 7
    s += "#X obj 500 70 table sent " + std::to_string(table_blocks) + ";\n";   // 8
    s += "#X obj 10 300 r finished;\n";                                        // 9
    s += "#X obj 10 330 delay 300;\n";                                         // 10
    s +=
        "#X msg 100 390 write -bytes 4 energy.wav energy \\, write -bytes 4 sent.wav sent;\n"; // 11
    s += "#X obj 100 420 soundfiler;\n";                                                       // 12
    s += "#X obj 10 360 t b b;\n";                                                             // 13
    s += "#X msg 10 450 \\; pd quit;\n";                                                       // 14
    s += "#N canvas 0 0 700 500 probe 0;\n";
    s += "#X obj 10 10 block~ " + std::to_string(block) + ";\n"; // 0
    s += "#X obj 10 40 r play;\n";                               // 1
    s += "#X obj 10 70 tabplay~ rec;\n";                         // 2
    s += "#X obj 10 130 attackscope~;\n";                        // 3
    for (int i = 1; i <= 6; i++)                                 // 4..9
        s += "#X obj " + std::to_string(60 + 60 * i) + " 100 r p" + std::to_string(i) + ";\n";
    s += "#X obj 150 70 s finished;\n";       // 10
    s += "#X obj 300 170 t f b;\n";           // 11
    s += "#X obj 330 200 f;\n";               // 12
    s += "#X obj 300 230 tabwrite energy;\n"; // 13
    s += "#X obj 150 170 t f b;\n";           // 14
    s += "#X obj 180 200 f;\n";               // 15
    s += "#X obj 150 230 tabwrite sent;\n";   // 16
    s += "#X obj 200 260 print ratio;\n";     // 17
    s += "#X obj 450 10 bang~;\n";            // 18
    s += "#X obj 450 40 t b b;\n";            // 19
    s += "#X obj 450 100 f;\n";               // 20
    s += "#X obj 490 130 + 1;\n";             // 21
    s += "#X obj 550 70 f;\n";                // 22
    s += "#X msg 400 200 1;\n";               // 23
    s += "#X obj 550 100 sel 0;\n";           // 24
    s += "#X obj 550 130 f;\n";               // 25
    s += "#X obj 550 160 print quiet;\n";     // 26
    s += "#X msg 450 70 0;\n";                // 27
    s += "#X connect 1 0 2 0;\n#X connect 2 0 3 0;\n#X connect 2 1 10 0;\n";
    for (int i = 1; i <= 6; i++)
        s += "#X connect " + std::to_string(3 + i) + " 0 3 " + std::to_string(i) + ";\n";
    s += "#X connect 3 2 11 0;\n#X connect 11 1 12 0;\n#X connect 12 0 13 1;\n"
         "#X connect 11 1 23 0;\n#X connect 23 0 22 1;\n#X connect 11 0 13 0;\n";
    s += "#X connect 3 1 14 0;\n#X connect 14 1 15 0;\n#X connect 15 0 16 1;\n"
         "#X connect 15 0 17 0;\n#X connect 14 0 16 0;\n";
    s += "#X connect 18 0 19 0;\n#X connect 19 1 22 0;\n#X connect 22 0 24 0;\n"
         "#X connect 24 0 25 0;\n#X connect 25 0 26 0;\n#X connect 19 0 27 0;\n"
         "#X connect 27 0 22 1;\n#X connect 19 0 20 0;\n#X connect 20 0 21 0;\n"
         "#X connect 21 0 20 1;\n#X connect 21 0 12 1;\n#X connect 21 0 15 1;\n"
         "#X connect 21 0 25 1;\n";
    s += "#X restore 10 200 pd probe;\n";
    s += "#X connect 0 0 1 0;\n#X connect 1 2 2 0;\n#X connect 2 0 3 0;\n#X connect 1 1 4 0;\n"
         "#X connect 1 0 5 0;\n#X connect 9 0 10 0;\n#X connect 10 0 13 0;\n"
         "#X connect 13 1 11 0;\n#X connect 11 0 12 0;\n#X connect 13 0 14 0;\n";
    return s;
}

std::vector<float> read_table(const std::string &path) {
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<float> v(static_cast<size_t>(info.frames));
    sf_readf_float(f, v.data(), info.frames);
    sf_close(f);
    return v;
}

// What pd's object did in each block.
struct pd_blocks {
    std::vector<float> energy, sent;
    std::set<int> quiet, ratio, clip; // blocks without energy, with a ratio, that posted clip
    std::string console;
};

// A plug-in built with AddressSanitizer needs its runtime loaded first into the uninstrumented pd.
std::vector<std::string> pd_environment() {
    if (std::string(PD_PRELOAD).empty())
        return {};
    return {"LD_PRELOAD=" PD_PRELOAD, "ASAN_OPTIONS=detect_leaks=0"};
}

pd_blocks run_pd(const std::string &dir, int block, const inlets &p) {
    std::ofstream(dir + "/probe.pd") << patch(block, p);
    const cli_test::process_result r =
        cli_test::run({PD_BIN, "-nrt", "-nogui", "-noaudio", "-batch", "-stderr", "-path",
                       PLUGIN_DIR, "-open", "probe.pd"},
                      dir, pd_environment());
    pd_blocks b;
    b.console = r.out + r.err;
    EXPECT_EQ(r.status, 0) << b.console;
    EXPECT_EQ(b.console.find("couldn't create"), std::string::npos) << b.console;
    EXPECT_EQ(b.console.find("error"), std::string::npos) << b.console;
    bool clipped = false;
    for (const std::string &line : cli_test::lines(b.console)) {
        if (line == "clip") {
            clipped = true;
        } else if (line.rfind("quiet: ", 0) == 0) {
            const int k = std::stoi(line.substr(7));
            b.quiet.insert(k);
            if (clipped)
                b.clip.insert(k);
            clipped = false;
        } else if (line.rfind("ratio: ", 0) == 0) {
            b.ratio.insert(std::stoi(line.substr(7)));
        }
    }
    b.energy = read_table(dir + "/energy.wav");
    b.sent = read_table(dir + "/sent.wav");
    EXPECT_EQ(b.energy.size(), static_cast<size_t>(table_blocks));
    EXPECT_EQ(b.sent.size(), static_cast<size_t>(table_blocks));
    return b;
}

// Bits, with every NaN of one sign alike (the program prints "nan" or "-nan").
uint32_t bits(float v) {
    if (std::isnan(v))
        return std::signbit(v) ? 0xffc00000u : 0x7fc00000u;
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

float parse_float(const std::string &text) {
    return std::strtof(text.c_str(), nullptr);
}

void expect_same_as_pd(const std::string &wav, int block, const inlets &p, size_t samples) {
    const std::string dir = wav.substr(0, wav.rfind('/'));
    const pd_blocks pd = run_pd(dir, block, p);
    ASSERT_FALSE(pd.energy.empty());
    std::vector<std::string> args = {"--energies",          "--block",
                                     std::to_string(block), "--onset-factor",
                                     number(p.onset),       "--peak-factor",
                                     number(p.peak),        "--floor",
                                     number(p.floor),       "--holdoff",
                                     number(p.holdoff),     "--filter",
                                     number(p.filter),      wav};
    if (p.two_valued == 1)
        args.push_back("--two-valued");
    const cli_test::process_result r = cli_test::attackscope(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = csv_rows(r.out);
    const int blocks = static_cast<int>(samples / static_cast<size_t>(block));

    // The program's rows, block by block: an energy row is its own block; the rows of one event
    // are the analysis blocks after its onset, one each.
    std::map<int, std::map<std::string, std::string>> by_block;
    std::map<int, int> analyses_of;
    for (const auto &row : rows) {
        ASSERT_EQ(row.count("#error"), 0u) << row.at("#error");
        const int onset = std::stoi(row.at("onset_block"));
        const int at = row.at("outcome") == "energy" ? onset : onset + 1 + analyses_of[onset]++;
        ASSERT_EQ(by_block.count(at), 0u) << "two rows for block " << at;
        by_block[at] = row;
        if (row.at("outcome") != "energy") {
            EXPECT_EQ(bits(parse_float(row.at("onset_energy"))),
                      bits(pd.energy.at(static_cast<size_t>(onset))))
                << "onset energy of the event at block " << onset;
        }
    }
    ASSERT_EQ(by_block.size(), static_cast<size_t>(blocks)) << "one row per block of the file";
    int ratios = 0, clips = 0, dropped = 0;
    for (int k = 0; k < blocks; k++) {
        const auto &row = by_block.at(k);
        const std::string &outcome = row.at("outcome");
        const auto at = static_cast<size_t>(k);
        SCOPED_TRACE("block " + std::to_string(k) + ": " + outcome);
        EXPECT_EQ(outcome == "energy", pd.quiet.count(k) == 0);
        EXPECT_EQ(outcome == "ratio", pd.ratio.count(k) == 1);
        EXPECT_EQ(outcome == "clip", pd.clip.count(k) == 1);
        if (outcome == "energy") {
            EXPECT_EQ(bits(parse_float(row.at("sent"))), bits(pd.energy[at]))
                << row.at("sent") << " against " << pd.energy[at];
        } else if (outcome == "ratio") {
            EXPECT_EQ(bits(parse_float(row.at("sent"))), bits(pd.sent[at]));
            ratios++;
        } else {
            EXPECT_TRUE(outcome == "clip" || outcome == "dropped") << outcome;
            clips += outcome == "clip";
            dropped += outcome == "dropped";
        }
    }
    // The recording exercises every path where the block size allows a measurement.
    if (block >= 373) {
        EXPECT_GE(ratios, 4);
        EXPECT_GE(clips, 1);
        EXPECT_GE(dropped, 1);
    }
}

class PdExactness : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new std::string(cli_test::scratch_dir());
        samples_ = recording();
        cli_test::write_sound(*dir_ + "/recording.wav", samples_, signals::rate);
    }
    static std::string *dir_;
    static std::vector<float> samples_;
};
std::string *PdExactness::dir_;
std::vector<float> PdExactness::samples_;

TEST_F(PdExactness, Blocks2048) {
    expect_same_as_pd(*dir_ + "/recording.wav", 2048, {}, samples_.size());
}

TEST_F(PdExactness, Blocks64) {
    expect_same_as_pd(*dir_ + "/recording.wav", 64, {}, samples_.size());
}

TEST_F(PdExactness, Blocks512WithEveryInletSet) {
    inlets p;
    p.onset = 4.5f, p.peak = 6.3f, p.floor = 2.5f, p.holdoff = 2, p.filter = 2;
    p.two_valued = 1;
    expect_same_as_pd(*dir_ + "/recording.wav", 512, p, samples_.size());
}

// Pd reads a 16-bit file with soundfiler as the program does with libsndfile.
TEST(PdExactness16Bit, Blocks2048) {
    const std::string dir = cli_test::scratch_dir();
    std::vector<float> samples = recording();
    for (float &v : samples) {
        if (!std::isfinite(v))
            v = 0;
    }
    cli_test::write_sound(dir + "/recording.wav", samples, signals::rate, 1,
                          SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    expect_same_as_pd(dir + "/recording.wav", 2048, {}, samples.size());
}

} // namespace
