// The six values a patch sets through the object's float inlets, apart from the engine's state,
// with the one set of defaults every front end uses (the object at each chain build, the
// program's options, the Python module's arguments).
#pragma once

#include <type_traits>

// Inlets count from 0 at the signal inlet. Pd's float inlets store straight into these fields,
// so they are read as the blocks need them and never validated; counts, factors and the
// selector are taken by their integer parts.
struct attackscope_params {
    float x_onsetratio; // inlet 1: energy-rise factor of an onset
    float x_peakratio;  // inlet 2: envelope-rise factor of the attack search
    float x_floor;      // inlet 3: energy floor, in the units of the energy sent
    float x_holdblocks; // inlet 4: hold-off length in blocks
    float x_filtersel;  // inlet 5: gate pre-filter set 0, 1 or 2
    float x_twovalued;  // inlet 6: exactly 1 selects the two-valued ratio output
};
static_assert(std::is_standard_layout_v<attackscope_params> &&
              std::is_trivially_default_constructible_v<attackscope_params>);

// Every chain build sets all but the floor back to these; the floor keeps what the patch sent
// (0 in a new object).
inline constexpr attackscope_params attackscope_defaults{10.0f, 8.0f, 0.0f, 5.0f, 1.0f, 0.0f};
