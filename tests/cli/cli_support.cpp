#include "cli_support.h"

#include <sndfile.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cli_test {
namespace {

struct scratch_dirs {
    std::vector<std::string> made;
    ~scratch_dirs() {
        for (const std::string &d : made) {
            std::error_code ignored;
            std::filesystem::remove_all(d, ignored);
        }
    }
};

} // namespace

std::string scratch_dir() {
    static scratch_dirs dirs;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "attackscope-cli-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dirs.made.push_back(pattern);
    return pattern;
}

process_result attackscope(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {ATTACKSCOPE_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

void write_sound(const std::string &path, const std::vector<float> &frames, int rate, int channels,
                 int format) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format ? format : SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        throw std::runtime_error(path + ": " + sf_strerror(nullptr));
    // Integer formats clip samples beyond full scale rather than wrap them.
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t count = static_cast<sf_count_t>(frames.size()) / channels;
    const sf_count_t put = sf_writef_float(f, frames.data(), count);
    sf_close(f);
    if (put != count)
        throw std::runtime_error(path + ": short write");
}

std::vector<std::string> split_csv(const std::string &line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); i++) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
                fields.back() += '"', i++;
            else if (c == '"')
                quoted = false;
            else
                fields.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::map<std::string, std::string>> csv_rows(const std::string &text) {
    const std::vector<std::string> all = lines(text);
    std::vector<std::map<std::string, std::string>> rows;
    if (all.empty())
        return rows;
    const std::vector<std::string> names = split_csv(all[0]);
    for (std::size_t i = 1; i < all.size(); i++) {
        const std::vector<std::string> fields = split_csv(all[i]);
        std::map<std::string, std::string> row;
        for (std::size_t k = 0; k < names.size() && k < fields.size(); k++)
            row[names[k]] = fields[k];
        if (fields.size() != names.size())
            row["#error"] = "field count " + std::to_string(fields.size());
        rows.push_back(row);
    }
    return rows;
}

} // namespace cli_test
