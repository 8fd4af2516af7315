#include "output.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const char *const base_columns[] = {"file", "onset_block", "onset_s", "onset_energy",
                                    "f0",   "outcome",     "sent",    "ratio"};
const char *const position_columns[] = {"position", "position_f0", "confidence", "other_comb"};

const char *outcome_name(event_row::kind k) {
    switch (k) {
    case event_row::kind::ratio:
        return "ratio";
    case event_row::kind::dropped:
        return "dropped";
    case event_row::kind::clip:
        return "clip";
    case event_row::kind::energy:
        return "energy";
    case event_row::kind::note:
        return "note";
    case event_row::kind::none:
        break;
    }
    return "none";
}

std::string single(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    return text;
}

std::string twice(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// Which fields a row fills; the others print empty (CSV) or null (JSON).
struct filled {
    bool onset_energy, f0, sent, ratio;
};

filled fields_of(const event_row &r) {
    const bool event = r.what != event_row::kind::energy && r.what != event_row::kind::note;
    const bool measured = r.what == event_row::kind::ratio;
    return {event, event, measured || r.what == event_row::kind::energy, measured};
}

// A note row's four estimate fields, in the order of position_columns.
std::array<double, 4> note_fields(const event_row &r) {
    return {r.note.position, r.note.f0, r.note.confidence, r.note.other};
}

// JSON has no NaN or infinity: those are null. A float goes in as the double nearest to its
// %.9g text, whose shortest form the writer then prints: at most nine digits, the same float.
nlohmann::json json_single(float v) {
    if (!std::isfinite(v))
        return nullptr;
    return std::strtod(single(v).c_str(), nullptr);
}

nlohmann::json json_twice(double v) {
    if (!std::isfinite(v))
        return nullptr;
    return v;
}

std::string csv_row(const std::string &file_field, const event_row &r, const run_options &o) {
    const filled f = fields_of(r);
    std::string line = file_field;
    line += ',' + std::to_string(r.onset_block);
    line += ',' + twice(r.onset_s);
    line += ',' + (f.onset_energy ? single(r.onset_energy) : "");
    line += ',' + (f.f0 ? twice(r.f0) : "");
    line += ',';
    line += outcome_name(r.what);
    line += ',' + (f.sent ? single(r.sent) : "");
    line += ',' + (f.ratio ? twice(r.ratio) : "");
    if (o.position) {
        const bool note = r.what == event_row::kind::note;
        for (const double v : note_fields(r))
            line += ',' + (note ? twice(v) : "");
    }
    line += '\n';
    return line;
}

std::string json_row(const std::string &file, const event_row &r, const run_options &o) {
    const filled f = fields_of(r);
    nlohmann::ordered_json j;
    j["file"] = file;
    j["onset_block"] = r.onset_block;
    j["onset_s"] = json_twice(r.onset_s);
    j["onset_energy"] = f.onset_energy ? json_single(r.onset_energy) : nullptr;
    j["f0"] = f.f0 ? json_twice(r.f0) : nullptr;
    j["outcome"] = outcome_name(r.what);
    j["sent"] = f.sent ? json_single(r.sent) : nullptr;
    j["ratio"] = f.ratio ? json_twice(r.ratio) : nullptr;
    if (o.position) {
        const bool note = r.what == event_row::kind::note;
        const std::array<double, 4> v = note_fields(r);
        for (std::size_t i = 0; i < v.size(); i++)
            j[position_columns[i]] = note ? json_twice(v[i]) : nullptr;
    }
    // A file name that is not valid UTF-8 is written with U+FFFD in place of the bad bytes.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

} // namespace

std::string csv_field(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string format_header(const run_options &options) {
    if (options.format != output_format::csv)
        return {};
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a literal + std::string.
    std::string line;
    for (const char *c : base_columns)
        line.append(line.empty() ? "" : ",").append(c);
    if (options.position)
        for (const char *c : position_columns)
            line.append(",").append(c);
    return line + '\n';
}

std::string format_rows(const std::string &file, const std::vector<event_row> &rows,
                        const run_options &options) {
    std::string text;
    if (options.format == output_format::csv) {
        const std::string file_field = csv_field(file);
        for (const event_row &r : rows)
            text += csv_row(file_field, r, options);
    } else {
        for (const event_row &r : rows)
            text += json_row(file, r, options);
    }
    return text;
}
