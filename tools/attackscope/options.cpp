#include "options.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <iostream>
#include <thread>

#include "engine/engine.h"

namespace {

// A finite decimal, as a double first and then single precision, the way Pd stores a typed
// number; infinities and NaN are refused, as a patch cannot type them either.
void add_inlet_option(CLI::App &app, const std::string &name, float &field,
                      const std::string &what) {
    app.add_option_function<double>(
           name, [&field](const double &v) { field = static_cast<float>(v); }, what)
        ->check(CLI::Validator(
            [](const std::string &text) -> std::string {
                double v = 0;
                if (!CLI::detail::lexical_cast(text, v) || !std::isfinite(v))
                    return "not a finite number: " + text;
                return {};
            },
            "NUMBER"))
        ->option_text("X (default " + CLI::detail::to_string(field) + ")");
}

} // namespace

int parse_options(int argc, char **argv, run_options &options) {
    CLI::App app{"Finds the attacks in sound files and measures each one, as the Pd object "
                 "attackscope~ does in blocks played from the start of the file.",
                 "attackscope"};
    app.get_formatter()->column_width(34);
    app.add_option("FILE", options.files, "sound files (any format libsndfile reads)")->required();
    app.add_option("--block", options.block, "samples per block, 1 to 2048")
        ->check(CLI::Range(1, attackscope_blockcap))
        ->option_text("N (default 2048)");
    app.add_option("--channel", options.channel,
                   "analyse channel K only, counting from 1 (default: the mean of all)")
        ->check(CLI::PositiveNumber)
        ->option_text("K");
    app.add_flag_callback(
        "--no-resample", [&options] { options.resample = false; },
        "analyse a file at another rate than 44100 Hz as it stands");
    add_inlet_option(app, "--onset-factor", options.inlets.x_onsetratio,
                     "energy rise of an onset (integer part)");
    add_inlet_option(app, "--peak-factor", options.inlets.x_peakratio,
                     "envelope rise of the attack search");
    add_inlet_option(app, "--floor", options.inlets.x_floor,
                     "energy an onset must exceed, in the units of onset_energy");
    add_inlet_option(app, "--holdoff", options.inlets.x_holdblocks,
                     "hold-off in blocks after an analysed event (integer part)");
    add_inlet_option(app, "--filter", options.inlets.x_filtersel, "gate pre-filter 0, 1 or 2");
    app.add_flag_callback(
        "--two-valued", [&options] { options.inlets.x_twovalued = 1.0f; },
        "send the two-valued form of the ratio (0 or 100, times 240)");
    app.add_flag("--energies", options.energies, "add a row for every gate block's energy");
    app.add_flag("--position", options.position, "add a row per note with its pluck position");
    app.add_option("--pickup", options.pickup,
                   "a known pickup position, above 0 and at most 0.5 of the length from the "
                   "nearer end (with --position)")
        ->check(CLI::Validator(
            [](const std::string &text) -> std::string {
                double v = 0;
                if (!CLI::detail::lexical_cast(text, v) || !pickup_position_valid(v))
                    return "not a position above 0 and at most 0.5: " + text;
                return {};
            },
            "G"))
        ->option_text("G");
    app.add_option("--format", options.format, "rows as CSV, or as one JSON object a line")
        ->transform(CLI::CheckedTransformer(std::map<std::string, output_format>{
            {"csv", output_format::csv}, {"jsonl", output_format::jsonl}}))
        ->option_text("csv|jsonl (default csv)");
    options.jobs = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    app.add_option("--jobs", options.jobs, "files analysed at once (default: hardware threads)")
        ->check(CLI::PositiveNumber)
        ->option_text("N");

    try {
        app.parse(argc, argv);
        if (options.pickup > 0.0 && !options.position)
            throw CLI::ValidationError("--pickup", "is a setting of --position; give both");
    } catch (const CLI::CallForHelp &) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError &e) {
        std::cerr << "attackscope: " << e.what() << "\n\n" << app.help();
        return 2;
    }
    return -1;
}
