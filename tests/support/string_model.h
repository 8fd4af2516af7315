// Ground truth for the pluck-position estimate on strings that behave like real ones: a
// finite-difference stiff string with frequency-dependent losses, plucked by a finger of finite
// width that pushes, holds and lets go, heard as the force on the bridge, through a body, or by
// a magnetic pickup, with noise and another string ringing. Deterministic from its parameters.
#pragma once

#include <cstdint>
#include <vector>

namespace signals {

enum class string_output { bridge, body, pickup };

struct string_model {
    double f0 = 110.0;          // Hz, of the continuous string (n f0 sqrt(1 + B n^2))
    double inharmonicity = 0.0; // B
    double t60_low = 4.0;       // s, at f0
    double t60_high = 0.6;      // s, at 2 kHz (the losses grow with frequency)
    double length_mm = 650.0;
    double position = 0.2;       // finger centre, fraction of the length from the bridge
    double width_mm = 8.0;       // of the finger's contact
    double push_ms = 8.0;        // the finger's travel into the string
    double contact_ms = 30.0;    // first touch to the release (push included)
    double release_ms = 0.5;     // the string slides off the finger over this long
    double finger_damping = 1.0; // 0..~3: how much the finger damps the string while it holds
    string_output output = string_output::bridge;
    double pickup = 0.1;       // pickup centre, fraction of the length from the bridge
    double aperture_mm = 10.0; // of the pickup
    double coil_hz = 4000.0;   // resonance of the pickup's coil with its load
    double coil_q = 2.5;
    double body_seed = 1;    // draws the body's resonances (90..500 Hz)
    double lowpass_hz = 0.0; // first-order low-pass of the output; 0 for none
    double seconds = 0.6;    // after the release
    int rate = 44100;
};

struct modelled_note {
    std::vector<double> samples; // unscaled
    int release = 0;             // index of the release's midpoint
    int touch = 0;               // index of the first touch
    double f0 = 0.0;             // of the discrete string: its series fitted to n f0 sqrt(1+Bn^2)
    double inharmonicity = 0.0;  // of the discrete string, fitted likewise
};

// Renders the string from rest: `lead` samples of silence, then the touch, the release and
// `seconds` of free vibration.
modelled_note render_model(const string_model &m, int lead);

// A stream of notes and their truths, mixed and scaled: what the evaluation plays.
struct stream_note {
    double position = 0.0, pickup = 0.0, f0 = 0.0, inharmonicity = 0.0;
    int release = 0, touch = 0;
};
struct modelled_stream {
    std::vector<float> samples;
    std::vector<stream_note> notes;
};

// Adds note (scaled so that its largest |sample| is `peak`) at offset `at` into the stream.
void add_note(modelled_stream &s, const string_model &m, const modelled_note &note, int at,
              double peak);
// White noise of RMS `dbfs` over the whole stream (uniform, seeded).
void add_white_noise(modelled_stream &s, double dbfs, uint32_t seed);

} // namespace signals
