// The analyser without Pd: the state of one attackscope~ and what one block does with it. The Pd
// object, the sound-file analyser and the Python module all run it through engine_run_block,
// which reports what happened to a sink; the engine itself never sends, posts or allocates
// during a block.
//
// Each engine owns everything it writes (arrays, the transform's workspace and rotations, the
// position estimate), so engines in different threads, or at different block sizes, never
// disturb each other. One engine is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/params.h"
#include "position/pluck_estimate.h"

namespace dsp {
class pluck_tracker;
struct fft_workspace;
} // namespace dsp

// Largest block the engine accepts, in samples: the capacity of every block array.
inline constexpr int attackscope_blockcap = 2048;
// The sample rate the designed analysis assumes, Hz, whatever the host runs at.
inline constexpr int attackscope_analysis_rate = 44100;

// Zero-filled is the created state (Pd clears its record and runs no constructor): no arrays,
// every parameter 0 until the first reset. Outside the engine only x_params is written (Pd's
// inlets store into it directly, through engine_params); the state belongs to the functions
// below, and only the engine's own unit tests look into it.
struct attackscope_engine {
    int32_t x_sr;                // sample rate the analysis assumes, Hz (44100)
    int32_t x_state;             // 0: the gate watches; 1: an event waits for analysis
    int32_t x_holdoff;           // blocks of hold-off left
    int32_t x_ringpos;           // ring slot (0..2) of the current gate block
    int32_t x_blockcap;          // capacity of each block array, samples
    attackscope_params x_params; // the inlets' values
    double x_energy[3];          // energies of the last three gate blocks
    double *x_hist[4];           // raw input of the last four blocks, [0] newest; x_blockcap each
    double *x_filtered;          // current block after the gate pre-filter; x_blockcap
    double *x_capture;           // the four history blocks joined, oldest first; 4 * x_blockcap
    double *x_capfilt;           // x_capture after the analysis filter; 4 * x_blockcap
    double x_lastratio;          // last accepted shape ratio
    double *x_storage;           // the one allocation every array points into; null until the first
                                 // reset, and after a failed allocation
    double *x_work;              // scratch of one analysis (pitch transforms, then the measurement)
    int32_t x_workcap;           // doubles at x_work
    dsp::fft_workspace *x_fft;   // the pitch transforms' workspace and rotations
    dsp::pluck_tracker *x_tracker; // the pluck-position estimate, or null when it is off
};
static_assert(std::is_standard_layout_v<attackscope_engine> &&
              std::is_trivially_default_constructible_v<attackscope_engine>);

// The created state on a zero-filled engine: no arrays yet, the capacity the first reset will
// give them.
void engine_init(attackscope_engine &e);

// Bytes the arrays and the scratch take, allocated once for the engine's life.
std::size_t engine_storage_bytes();

// The reset of every chain build (DSP start, or a rebuild while DSP runs) for blocks of n
// samples: parameters other than the floor back to their defaults, state and history cleared.
// Off the audio thread. Also does now what the first analysis would otherwise do in its block:
// the storage is touched page by page and the transform of 4n samples is run once, so that the
// engine's cached rotations and the code are in place. Returns false when the memory cannot be
// had; the engine then idles (engine_ready is false) until a later reset succeeds.
bool engine_reset(attackscope_engine &e, int n);
// Gives the storage back (and the position estimate's); the engine is then as created.
void engine_release(attackscope_engine &e);

// The inlets' values, for a front end to set (after engine_reset, which restores the defaults
// of all but the floor) or to point Pd's float inlets at.
inline attackscope_params &engine_params(attackscope_engine &e) {
    return e.x_params;
}

// Turns the pluck-position estimate on (off the audio thread, once). It never changes what the
// designed analysis does or returns: it reads the same input. pickup is a known pickup position
// (pickup_position_valid), or 0 when it is not known. Returns false when the memory cannot be had.
bool engine_enable_position(attackscope_engine &e, double pickup = 0.0);
// A pickup position the estimate takes: a fraction of the length from the nearer end, above 0
// and at most 0.5.
inline bool pickup_position_valid(double g) {
    return g > 0.0 && g <= 0.5;
}
// Whether the estimate is gathering or analysing a note.
bool engine_position_busy(const attackscope_engine &e);
// After every reset: sizes the estimate's history for the host's real sample rate (the designed
// analysis keeps assuming 44100 Hz) and starts it over. Off the audio thread. Returns false,
// and turns the estimate off, when the memory cannot be had. Does nothing while it is off.
bool engine_reset_position(attackscope_engine &e, double host_sr);
// Whether blocks of n samples can run: the arrays exist and hold n.
bool engine_ready(const attackscope_engine &e, int n);

// What an analysis block found.
struct event_outcome {
    enum class kind {
        ratio,   // a measurement: send `sent`
        dropped, // f0 above 1500 Hz: nothing is sent or posted
        clip,    // the block clipped: post "clip"; the next block analyses again
        none,    // no measurement possible (no scratch for the period): nothing is sent
    } what;
    double f0;    // the pitch estimate of the capture, Hz
    double ratio; // with kind::ratio: the accepted shape ratio (x_lastratio)
    float sent;   // with kind::ratio: the value of the shape-ratio outlet
};

// What one block reports, in the order a patch observes it. Every call happens inside
// engine_run_block, so a reaction (a floor sent in reply to an energy) counts where Pd's would.
class engine_sink {
  public:
    // A gate block's energy x 100, as the energy outlet sends it; before the onset decision,
    // which then reads the floor and the factor as they are after this call.
    virtual void energy(float sent) { (void)sent; }
    // The gate started an event in this block (after energy()).
    virtual void onset() {}
    // An analysis block's outcome: the ratio to send, "clip" to post, or a drop.
    virtual void event(const event_outcome &o) { (void)o; }
    // Last in its block, once per note, with the position estimate on.
    virtual void note(const dsp::pluck_estimate &p) { (void)p; }

  protected:
    ~engine_sink() = default;
};

// One block of in[0..n-1]: the hold-off countdown, the pre-filter selection and the preparation
// pass; then a gate block (energy, decision) or an analysis block (the event's outcome); then,
// with the estimate on, its slice of work. Does nothing unless engine_ready(e, n). On the audio
// thread: bounded work, no allocation, no lock, no I/O.
void engine_run_block(attackscope_engine &e, const float *in, int n, engine_sink &sink);

// The steps of engine_run_block, for the engine's own tests and benchmarks.
struct block_start {
    bool analysis; // an analysis block (x_state was 1), else a gate block
    int clipped;   // 1 when a sample of this block is exactly +1 or -1
    double energy; // of the filtered block
};

// Step 1 of every block on in[0..n-1]; engine_ready(e, n) must hold.
block_start engine_begin_block(attackscope_engine &e, const float *in, int n);

// The float a gate block sends for its energy: energy x 100 in single precision.
float energy_value(double energy);

// The onset decision of a gate block, after its energy was sent: stores the energy in the ring
// and starts an event (x_state = 1) when the block is an onset and no hold-off runs. Returns
// whether it started one.
bool engine_decide(attackscope_engine &e, double energy);

// The analysis block after an onset (x_state is 1), with this block's clip flag.
event_outcome engine_analyse(attackscope_engine &e, int n, int clipped);

// Last in every block, with the estimate on: a bounded slice of the estimate's work (light in an
// analysis block, which has the designed analysis to do). Returns true, once per note, when the
// note's estimate is ready in out; false while it is off.
bool engine_position(attackscope_engine &e, int n, bool analysis_block, dsp::pluck_estimate &out);
