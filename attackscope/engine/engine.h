// The analyser without Pd: the state of one attackscope~ and what one block does with it. The Pd
// object and the sound-file analyser both run this code; it never sends, posts or allocates on
// its own during a block, it returns what happened and the caller reports it.
//
// One block, in this order (the order a patch can observe; the position estimate, when on, is
// fed the block in step 1, told of the onset in step 2 and works last, in engine_position):
//   1. engine_begin_block: hold-off countdown, pre-filter selection, the preparation pass;
//   2. a gate block (!analysis): the caller sends energy_value(energy), then engine_decide reads
//      the floor and the onset factor, so a floor the patch sends in reaction to that energy
//      already counts for this block;
//   3. an analysis block: engine_analyse measures the event and returns its outcome, with every
//      piece of scratch already given back, for the caller to post "clip" or send the ratio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace dsp {
class pluck_tracker;
struct pluck_estimate;
} // namespace dsp

// Largest block the engine accepts, in samples: the capacity of every block array.
inline constexpr int attackscope_blockcap = 2048;

// Zero-filled is the created state (Pd clears its record and runs no constructor): no arrays,
// every parameter 0 until the first reset. The parameters are written from outside (Pd's inlets
// store into them directly) and read as the blocks need them.
struct attackscope_engine {
    int32_t x_sr;       // sample rate the analysis assumes, Hz (44100)
    int32_t x_state;    // 0: the gate watches; 1: an event waits for analysis
    int32_t x_holdoff;  // blocks of hold-off left
    int32_t x_ringpos;  // ring slot (0..2) of the current gate block
    int32_t x_blockcap; // capacity of each block array, samples
    float x_twovalued;  // exactly 1 selects the two-valued ratio output
    float x_filtersel;  // gate pre-filter set, by its integer part
    double x_energy[3]; // energies of the last three gate blocks
    double *x_hist[4];  // raw input of the last four blocks, [0] newest; x_blockcap each
    double *x_filtered; // current block after the gate pre-filter; x_blockcap
    double *x_capture;  // the four history blocks joined, oldest first; 4 * x_blockcap
    double *x_capfilt;  // x_capture after the analysis filter; 4 * x_blockcap
    double x_lastratio; // last accepted shape ratio
    float x_onsetratio; // energy-rise factor of an onset, by its integer part
    float x_peakratio;  // envelope-rise factor of the attack search
    float x_floor;      // energy floor in the units of the energy sent; survives resets
    float x_holdblocks; // hold-off length in blocks, by its integer part
    double *x_storage;  // the one allocation every array points into; null until the first
                        // reset, and after a failed allocation
    double *x_work;     // scratch of one analysis (pitch transforms, then the measurement)
    int32_t x_workcap;  // doubles at x_work
    dsp::pluck_tracker *x_tracker; // the pluck-position estimate, or null when it is off
};
static_assert(std::is_standard_layout_v<attackscope_engine> &&
              std::is_trivially_default_constructible_v<attackscope_engine>);

// Bytes the arrays and the scratch take, allocated once for the engine's life.
std::size_t engine_storage_bytes();

// The reset of every chain build (DSP start, or a rebuild while DSP runs) for blocks of n
// samples: parameters other than the floor back to their defaults, state and history cleared.
// Off the audio thread. Also does now what the first analysis would otherwise do in its block:
// the storage is touched page by page and the transform of 4n samples is run once, so that its
// cached rotations, static storage and code are in place. Returns false when the memory cannot
// be had; the engine then idles (engine_ready is false) until a later reset succeeds.
bool engine_reset(attackscope_engine &e, int n);
// Gives the storage back (and the position estimate's); the engine is then as created.
void engine_release(attackscope_engine &e);

// Turns the pluck-position estimate on (off the audio thread, once). It never changes what the
// designed analysis does or returns: it reads the same input and the gate's decisions.
// Returns false when the memory cannot be had.
bool engine_enable_position(attackscope_engine &e);
// After every reset: sizes the estimate's history for the host's real sample rate (the designed
// analysis keeps assuming 44100 Hz) and starts it over. Off the audio thread. Returns false,
// and turns the estimate off, when the memory cannot be had. Does nothing while it is off.
bool engine_reset_position(attackscope_engine &e, double host_sr);
// Whether blocks of n samples can run: the arrays exist and hold n.
bool engine_ready(const attackscope_engine &e, int n);

struct block_start {
    bool analysis; // an analysis block (x_state was 1), else a gate block
    int clipped;   // 1 when a sample of this block is exactly +1 or -1
    double energy; // of the filtered block
};

// Steps 1 of every block on in[0..n-1]; engine_ready(e, n) must hold.
block_start engine_begin_block(attackscope_engine &e, const float *in, int n);

// The float a gate block sends for its energy: energy x 100 in single precision.
float energy_value(double energy);

// The onset decision of a gate block, after its energy was sent: stores the energy in the ring
// and starts an event (x_state = 1) when the block is an onset and no hold-off runs. Returns
// whether it started one.
bool engine_decide(attackscope_engine &e, double energy);

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

// The analysis block after an onset (x_state is 1), with this block's clip flag.
event_outcome engine_analyse(attackscope_engine &e, int n, int clipped);

// Last in every block, with the estimate on: a bounded slice of the estimate's work (light in an
// analysis block, which has the designed analysis to do). Returns true, once per note, when the
// note's estimate is ready in out; false while it is off.
bool engine_position(attackscope_engine &e, int n, bool analysis_block, dsp::pluck_estimate &out);
