// The program through its command line: the rows' format, bad input, channels, resampling and
// the order of rows with several jobs.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "cli_support.h"
#include "plucked_string.h"
#include "signals.h"

namespace {

using cli_test::attackscope;
using cli_test::csv_rows;

const char *const header = "file,onset_block,onset_s,onset_energy,f0,outcome,sent,ratio";

// Five plucks (one too high to measure) in 4 s of audio.
std::vector<float> plucks() {
    std::vector<float> a(4 * signals::rate, 0.0f);
    const double freqs[] = {196.0, 293.66, 110.0, 440.0, 246.94};
    for (int i = 0; i < 5; i++)
        signals::add_pluck(a, 5000 + i * 33000, freqs[i], 0.6, 0.5, static_cast<uint32_t>(i + 1));
    return a;
}

class Cli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new std::string(cli_test::scratch_dir());
        cli_test::write_sound(*dir_ + "/plucks.wav", plucks(), signals::rate);
    }
    static std::string path(const std::string &name) { return *dir_ + "/" + name; }
    static std::string *dir_;
};
std::string *Cli::dir_;

TEST_F(Cli, CsvRowsHaveTheColumnsAndReadBackToTheSentFloats) {
    const auto r = attackscope({"--energies", path("plucks.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(cli_test::lines(r.out).at(0), header);
    int ratios = 0, energies = 0, dropped = 0;
    for (const auto &row : csv_rows(r.out)) {
        ASSERT_EQ(row.count("#error"), 0u);
        EXPECT_EQ(row.at("file"), path("plucks.wav"));
        const long block = std::stol(row.at("onset_block"));
        EXPECT_EQ(std::strtod(row.at("onset_s").c_str(), nullptr),
                  static_cast<double>(block) * 2048 / 44100.0);
        const std::string &outcome = row.at("outcome");
        if (outcome == "energy") {
            energies++;
            EXPECT_EQ(row.at("onset_energy"), "");
            EXPECT_EQ(row.at("f0"), "");
            EXPECT_EQ(row.at("ratio"), "");
            EXPECT_NE(row.at("sent"), "");
        } else if (outcome == "ratio") {
            ratios++;
            // %.9g reads back to the float sent; %.17g to the double behind it.
            const float sent = std::strtof(row.at("sent").c_str(), nullptr);
            const double ratio = std::strtod(row.at("ratio").c_str(), nullptr);
            EXPECT_EQ(sent, static_cast<float>(ratio * 240.0));
            char again[32];
            std::snprintf(again, sizeof again, "%.9g", static_cast<double>(sent));
            EXPECT_EQ(row.at("sent"), again);
            EXPECT_GT(std::strtod(row.at("f0").c_str(), nullptr), 0.0);
        } else {
            EXPECT_EQ(outcome, "dropped");
            dropped++;
            EXPECT_EQ(row.at("sent"), "");
            EXPECT_EQ(row.at("ratio"), "");
        }
    }
    // The 110 Hz pluck's capture estimates above 1500 Hz; the last note's fade starts one more.
    EXPECT_EQ(ratios, 5) << r.out;
    EXPECT_EQ(dropped, 1) << r.out;
    EXPECT_EQ(energies + ratios + dropped, 4 * signals::rate / 2048) << "every whole block";
}

TEST_F(Cli, JsonLinesCarryTheSameValuesUnderTheColumnNames) {
    const auto csv = attackscope({path("plucks.wav")});
    const auto jsonl = attackscope({"--format", "jsonl", path("plucks.wav")});
    ASSERT_EQ(jsonl.status, 0) << jsonl.err;
    const auto rows = csv_rows(csv.out);
    const auto lines = cli_test::lines(jsonl.out);
    ASSERT_EQ(lines.size(), rows.size());
    for (size_t i = 0; i < lines.size(); i++) {
        const auto j = nlohmann::ordered_json::parse(lines[i]);
        std::vector<std::string> keys;
        for (const auto &item : j.items())
            keys.push_back(item.key());
        EXPECT_EQ(keys, (std::vector<std::string>{"file", "onset_block", "onset_s", "onset_energy",
                                                  "f0", "outcome", "sent", "ratio"}));
        EXPECT_EQ(j["outcome"], rows[i].at("outcome"));
        EXPECT_EQ(j["onset_block"].get<long>(), std::stol(rows[i].at("onset_block")));
        EXPECT_EQ(static_cast<float>(j["onset_energy"].get<double>()),
                  std::strtof(rows[i].at("onset_energy").c_str(), nullptr));
        EXPECT_EQ(j["f0"].get<double>(), std::strtod(rows[i].at("f0").c_str(), nullptr));
        if (j["outcome"] == "ratio") {
            EXPECT_EQ(static_cast<float>(j["sent"].get<double>()),
                      std::strtof(rows[i].at("sent").c_str(), nullptr));
            EXPECT_EQ(j["ratio"].get<double>(), std::strtod(rows[i].at("ratio").c_str(), nullptr));
        } else {
            EXPECT_TRUE(j["sent"].is_null());
            EXPECT_TRUE(j["ratio"].is_null());
        }
    }
}

TEST_F(Cli, FileNamesWithCommasAndQuotesAreQuoted) {
    const std::string odd = path("a \"b\", c.wav");
    cli_test::write_sound(odd, plucks(), signals::rate);
    const auto r = attackscope({odd});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = cli_test::lines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("\"" + *dir_ + "/a \"\"b\"\", c.wav\",", 0), 0u) << lines[1];
    EXPECT_EQ(csv_rows(r.out).at(0).at("file"), odd);
}

TEST_F(Cli, BadCommandLinesPrintUsageAndAnalyseNothing) {
    for (const std::vector<std::string> &args : {std::vector<std::string>{"--block", "0"},
                                                 {"--block", "4096"},
                                                 {"--block", "64.5"},
                                                 {"--floor", "loud"},
                                                 {"--onset-factor", "nan"},
                                                 {"--channel", "0"},
                                                 {"--jobs", "0"},
                                                 {"--format", "xml"},
                                                 {"--no-such-option"},
                                                 {}}) {
        std::vector<std::string> full = args;
        full.push_back(path("plucks.wav"));
        if (args.empty())
            full.clear(); // no file at all
        const auto r = attackscope(full);
        std::string joined;
        for (const auto &a : args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Usage: attackscope"), std::string::npos) << r.err;
    }
    EXPECT_EQ(attackscope({"--help"}).status, 0);
}

TEST_F(Cli, AnUnreadableFileIsNamedAndTheOthersStillAnalysed) {
    std::ofstream(path("noise.wav")) << "this is no sound file";
    const auto r =
        attackscope({"--jobs", "2", path("missing.wav"), path("plucks.wav"), path("noise.wav")});
    EXPECT_EQ(r.status, 1);
    const auto err = cli_test::lines(r.err);
    ASSERT_EQ(err.size(), 2u) << r.err;
    EXPECT_EQ(err[0].rfind("attackscope: " + path("missing.wav") + ": ", 0), 0u) << err[0];
    EXPECT_NE(err[0].find("No such file"), std::string::npos) << err[0];
    EXPECT_EQ(err[1].rfind("attackscope: " + path("noise.wav") + ": ", 0), 0u) << err[1];
    EXPECT_EQ(csv_rows(r.out).size(), 6u);
}

// The library reports a failed open in one variable for the process: threads opening files at
// once must still each name their own file's reason.
TEST_F(Cli, UnreadableFilesOnThreadsEachGiveTheirOwnReason) {
    std::vector<std::string> args = {"--jobs", "4"};
    for (int i = 0; i < 12; i++) {
        if (i % 2 == 0)
            std::ofstream(path("bad" + std::to_string(i) + ".wav")) << "no sound file";
        args.push_back(path((i % 2 == 0 ? "bad" : "missing") + std::to_string(i) + ".wav"));
    }
    const auto r = attackscope(args);
    EXPECT_EQ(r.status, 1);
    const auto err = cli_test::lines(r.err);
    ASSERT_EQ(err.size(), 12u) << r.err;
    for (size_t i = 0; i < err.size(); i++)
        EXPECT_EQ(err[i].find("No such file") != std::string::npos, i % 2 == 1) << err[i];
}

TEST_F(Cli, EmptyAndShortFilesGiveNoRowsAndNoError) {
    cli_test::write_sound(path("empty.wav"), {}, signals::rate);
    std::vector<float> burst(3000, 0.0f);
    signals::add_pluck(burst, 0, 220.0, 0.05, 0.8, 9);
    cli_test::write_sound(path("short.wav"), burst, signals::rate);
    const auto r = attackscope({path("empty.wav"), path("short.wav")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, std::string(header) + "\n");
}

TEST_F(Cli, NonFiniteSamplesAndEnergiesArePrintedAndLeaveTheEventsAlone) {
    // After the last note: a NaN sample, and a finite one whose energy overflows single
    // precision.
    std::vector<float> a = plucks();
    a[80 * 2048 + 100] = std::numeric_limits<float>::quiet_NaN();
    a[83 * 2048 + 100] = 3e38f;
    cli_test::write_sound(path("nan.wav"), a, signals::rate);
    const auto r = attackscope({"--energies", path("nan.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto clean = csv_rows(attackscope({"--energies", path("plucks.wav")}).out);
    const auto rows = csv_rows(r.out);
    // Rows before the NaN are the clean file's; the energy rows of the two blocks say what
    // overflowed. (The huge sample's block is an onset: its energy is finite in double.)
    size_t i = 0;
    for (; i < rows.size() && std::stol(rows[i].at("onset_block")) < 80; i++) {
        auto row = rows[i], expected = clean.at(i);
        row.erase("file"), expected.erase("file");
        EXPECT_EQ(row, expected) << i;
    }
    int seen = 0;
    for (; i < rows.size(); i++) {
        const long block = std::stol(rows[i].at("onset_block"));
        if (rows[i].at("outcome") != "energy" || (block != 80 && block != 83))
            continue;
        seen++;
        if (block == 80)
            EXPECT_NE(rows[i].at("sent").find("nan"), std::string::npos) << rows[i].at("sent");
        else
            EXPECT_EQ(rows[i].at("sent"), "inf");
    }
    EXPECT_EQ(seen, 2);
    // JSON has no NaN or infinity: they are null there.
    const auto j =
        cli_test::lines(attackscope({"--energies", "--format", "jsonl", path("nan.wav")}).out);
    for (const std::string &line : j) {
        const auto row = nlohmann::json::parse(line);
        if (row["outcome"] == "energy" && (row["onset_block"] == 80 || row["onset_block"] == 83)) {
            EXPECT_TRUE(row["sent"].is_null()) << line;
        }
    }
}

TEST_F(Cli, AChannelOrTheMeanOfAllIsAnalysed) {
    const std::vector<float> mono = plucks();
    std::vector<float> stereo(2 * mono.size());
    for (size_t i = 0; i < mono.size(); i++) {
        stereo[2 * i] = mono[i];
        stereo[2 * i + 1] = 0.0f;
    }
    cli_test::write_sound(path("stereo.wav"), stereo, signals::rate, 2);
    const auto left = attackscope({"--energies", "--channel", "1", path("stereo.wav")});
    const auto same = attackscope({"--energies", path("plucks.wav")});
    ASSERT_EQ(left.status, 0) << left.err;
    EXPECT_EQ(left.out.substr(left.out.find('\n')), [&] {
        std::string s = same.out.substr(same.out.find('\n'));
        for (size_t at; (at = s.find("plucks.wav")) != std::string::npos;)
            s.replace(at, 10, "stereo.wav");
        return s;
    }());
    // The mean is half the left channel: a quarter of the energy in every gate block.
    const auto mean = csv_rows(attackscope({"--energies", path("stereo.wav")}).out);
    const auto full = csv_rows(left.out);
    ASSERT_FALSE(mean.empty());
    ASSERT_EQ(mean.at(2).at("outcome"), "energy");
    EXPECT_FLOAT_EQ(std::strtof(mean.at(2).at("sent").c_str(), nullptr) * 4,
                    std::strtof(full.at(2).at("sent").c_str(), nullptr));
    const auto right = attackscope({"--channel", "3", path("stereo.wav")});
    EXPECT_EQ(right.status, 1);
    EXPECT_NE(right.err.find("has 2 channels, no channel 3"), std::string::npos) << right.err;
}

TEST_F(Cli, AFileAt48kHzGivesTheSameEventsWithinABlock) {
    // The same notes rendered at 48 kHz: the pitch of each pluck at the file's rate.
    std::vector<float> a48(4 * 48000, 0.0f);
    const double freqs[] = {196.0, 293.66, 110.0, 440.0, 246.94};
    for (int i = 0; i < 5; i++) {
        std::vector<float> note(a48.size(), 0.0f);
        // At 44100 Hz a pluck of f * 44100 / 48000 lasts as long as one of f would at 48 kHz.
        signals::add_pluck(note, 0, freqs[i] * 44100.0 / 48000.0, 0.6 * 48000 / 44100.0, 0.5,
                           static_cast<uint32_t>(i + 1));
        const size_t start = static_cast<size_t>((5000 + i * 33000) * 48000.0 / 44100.0);
        for (size_t k = 0; start + k < a48.size(); k++)
            a48[start + k] += note[k];
    }
    cli_test::write_sound(path("plucks48.wav"), a48, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    // A floor keeps out the marginal onset of the last note's fade-out.
    const auto r48 = attackscope({"--floor", "5", path("plucks48.wav")});
    ASSERT_EQ(r48.status, 0) << r48.err;
    EXPECT_NE(r48.err.find("48000 Hz, resampled to 44100 Hz"), std::string::npos) << r48.err;
    const auto at44 = csv_rows(attackscope({"--floor", "5", path("plucks.wav")}).out);
    ASSERT_EQ(at44.size(), 5u);
    const auto at48 = csv_rows(r48.out);
    ASSERT_EQ(at48.size(), at44.size()) << r48.out;
    for (size_t i = 0; i < at44.size(); i++) {
        EXPECT_EQ(at48[i].at("outcome"), at44[i].at("outcome"));
        EXPECT_LE(
            std::abs(std::stol(at48[i].at("onset_block")) - std::stol(at44[i].at("onset_block"))),
            1);
        // The shape ratio itself is not compared: the band-limiting of a resampler rings around
        // an attack out of digital silence, which moves the sign change the measurement starts
        // from.
        if (at44[i].at("outcome") == "ratio") {
            EXPECT_NEAR(std::strtod(at48[i].at("f0").c_str(), nullptr),
                        std::strtod(at44[i].at("f0").c_str(), nullptr),
                        0.03 * std::strtod(at44[i].at("f0").c_str(), nullptr));
        }
    }
    // Without resampling the blocks are the file's, and the times are at its rate.
    const auto raw = attackscope({"--no-resample", path("plucks48.wav")});
    EXPECT_EQ(raw.err, "");
    const auto first = csv_rows(raw.out).at(0);
    EXPECT_EQ(std::strtod(first.at("onset_s").c_str(), nullptr),
              static_cast<double>(std::stol(first.at("onset_block"))) * 2048 / 48000.0);
}

TEST_F(Cli, RowsComeInTheOrderOfTheArgumentsWhateverTheJobs) {
    // A long file first, so that the short ones finish before it.
    std::vector<float> longer;
    for (int i = 0; i < 8; i++) {
        const auto p = plucks();
        longer.insert(longer.end(), p.begin(), p.end());
    }
    cli_test::write_sound(path("long.wav"), longer, signals::rate);
    std::vector<std::string> files = {path("long.wav")};
    for (int i = 0; i < 6; i++) {
        files.push_back(path("copy" + std::to_string(i) + ".wav"));
        cli_test::write_sound(files.back(), plucks(), signals::rate);
    }
    const auto one = attackscope([&] {
        std::vector<std::string> a = {"--jobs", "1", "--energies"};
        a.insert(a.end(), files.begin(), files.end());
        return a;
    }());
    ASSERT_EQ(one.status, 0) << one.err;
    for (const char *jobs : {"2", "3", "16"}) {
        std::vector<std::string> a = {"--jobs", jobs, "--energies"};
        a.insert(a.end(), files.begin(), files.end());
        const auto many = attackscope(a);
        EXPECT_EQ(many.status, 0) << many.err;
        EXPECT_EQ(many.out, one.out) << "--jobs " << jobs;
        EXPECT_EQ(many.err, "") << "no progress line on a pipe";
    }
    size_t last = 0;
    for (const auto &f : files) {
        const size_t at = one.out.find("\n" + f + ",");
        ASSERT_NE(at, std::string::npos);
        EXPECT_GE(at, last);
        last = at;
    }
}

// JSON lines as CSV rows read: every field as text, null as empty.
std::vector<std::map<std::string, std::string>> json_rows(const std::string &text) {
    std::vector<std::map<std::string, std::string>> rows;
    for (const auto &line : cli_test::lines(text)) {
        std::map<std::string, std::string> row;
        const auto parsed = nlohmann::json::parse(line);
        for (const auto &[key, value] : parsed.items()) {
            if (value.is_null())
                row[key] = "";
            else if (value.is_string())
                row[key] = value.get<std::string>();
            else
                row[key] = value.dump();
        }
        rows.push_back(row);
    }
    return rows;
}

TEST_F(Cli, PositionGivesOneNoteRowPerNoteInTimeOrder) {
    // Three plucked strings, the last so close to the end that its estimate needs the silence
    // played after the file.
    const double betas[] = {0.18, 0.3, 0.42};
    std::vector<float> audio;
    std::vector<double> starts;
    for (int i = 0; i < 3; i++) {
        signals::string_pluck p;
        p.f0 = 110.0 * (i + 1);
        p.position = betas[i];
        p.seconds = i < 2 ? 0.6 : 0.12;
        const auto note = signals::render_string(p, 4410);
        starts.push_back(static_cast<double>(audio.size() + 4410) / signals::rate);
        audio.insert(audio.end(), note.samples.begin(), note.samples.end());
    }
    cli_test::write_sound(path("strings.wav"), audio, signals::rate);
    for (const char *format : {"csv", "jsonl"}) {
        const auto r = attackscope({"--position", "--format", format, path("strings.wav")});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::map<std::string, std::string>> rows;
        if (std::string(format) == "csv") {
            EXPECT_EQ(cli_test::lines(r.out).at(0),
                      std::string(header) + ",position,position_f0,confidence,other_comb");
            rows = csv_rows(r.out);
        } else {
            rows = json_rows(r.out);
        }
        std::vector<double> positions, onsets;
        double last_onset = -1.0;
        for (const auto &row : rows) {
            const double onset = std::stod(row.at("onset_s"));
            EXPECT_GE(onset, last_onset) << format;
            last_onset = onset;
            if (row.at("outcome") != "note") {
                EXPECT_TRUE(row.at("position").empty()) << format;
                continue;
            }
            positions.push_back(std::stod(row.at("position")));
            onsets.push_back(onset);
            EXPECT_EQ(std::stoll(row.at("onset_block")),
                      static_cast<long long>(onset * signals::rate) / 2048);
            EXPECT_GT(std::stod(row.at("confidence")), 0.3);
            EXPECT_FALSE(row.at("other_comb").empty());
        }
        ASSERT_EQ(positions.size(), 3u) << r.out;
        for (size_t i = 0; i < 3; i++) {
            EXPECT_NEAR(positions[i], betas[i], 0.03) << i;
            EXPECT_NEAR(onsets[i], starts[i], 0.05) << i; // the release, not a block's start
        }
    }
    // The designed rows are the same as without the flag, in the same order.
    const auto plain = attackscope({path("strings.wav")});
    const auto with = attackscope({"--position", path("strings.wav")});
    std::vector<std::string> designed;
    for (const auto &line : cli_test::lines(with.out))
        if (line.find(",note,") == std::string::npos)
            designed.push_back(line);
    const auto without = cli_test::lines(plain.out);
    ASSERT_EQ(designed.size(), without.size());
    for (size_t i = 1; i < designed.size(); i++)
        EXPECT_EQ(designed[i], without[i] + ",,,,") << i;
}

TEST_F(Cli, PickupMustBeAPositionGivenWithPosition) {
    cli_test::write_sound(path("quiet.wav"), std::vector<float>(8192, 0.0f), signals::rate);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"--position", "--pickup", "0", path("quiet.wav")},
          {"--position", "--pickup", "0.6", path("quiet.wav")},
          {"--position", "--pickup", "nan", path("quiet.wav")},
          {"--pickup", "0.1", path("quiet.wav")}}) {
        const auto r = attackscope(args);
        EXPECT_EQ(r.status, 2) << args[1] << " " << args[2];
        EXPECT_NE(r.err.find("--pickup"), std::string::npos) << r.err;
    }
    EXPECT_EQ(attackscope({"--position", "--pickup", "0.5", path("quiet.wav")}).status, 0);
}

} // namespace
