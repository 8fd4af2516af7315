// The rows as text: CSV with a header line, or one JSON object a line. Every float the object
// sends is printed with %.9g and every double with %.17g, so each reads back to the same bits.
#pragma once

#include <string>
#include <vector>

#include "analyse_file.h"
#include "options.h"

// The CSV header line (with its newline); empty for JSON lines.
std::string format_header(const run_options &options);

// The rows of one file, each ending in a newline.
std::string format_rows(const std::string &file, const std::vector<event_row> &rows,
                        const run_options &options);

// A CSV field: as it is, or quoted (quotes doubled) when it holds a comma, a quote or a line
// break.
std::string csv_field(const std::string &text);
