#include "engine/engine.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "dsp/fft.h"
#include "dsp/numeric.h"
#include "dsp/pitch.h"
#include "engine/analysis.h"
#include "engine/gate.h"
#include "position/pluck_position.h"

namespace {

// Five block arrays and two capture arrays of four blocks each.
constexpr std::size_t storage_blocks = 5 + 2 * 4;
// The analysis scratch: four arrays of a whole capture for the pitch transforms, with room to
// space them out (one block more); the measurement afterwards needs less than a capture (an
// envelope and two arrays of two periods).
constexpr std::size_t work_blocks = 4 * 4 + 1;
static_assert(dsp::pitch_work_size(4 * attackscope_blockcap) <= work_blocks * attackscope_blockcap);
constexpr std::size_t storage_doubles = (storage_blocks + work_blocks) * attackscope_blockcap;

// One allocation for the engine's life, so that resets neither leak nor allocate after the
// first. It is cleared at every reset: each chain build starts from silence, and the clearing
// touches every page now rather than in the first blocks.
bool lay_out_arrays(attackscope_engine &e) {
    if (!e.x_storage) {
        e.x_storage = static_cast<double *>(std::malloc(storage_doubles * sizeof(double)));
        if (!e.x_storage)
            return false;
    }
    std::memset(e.x_storage, 0, storage_doubles * sizeof(double));
    const std::size_t cap = static_cast<std::size_t>(e.x_blockcap);
    // Laid out afresh each time: the preparation pass passes the history buffers around.
    double *s = e.x_storage;
    for (double *&h : e.x_hist) {
        h = s;
        s += cap;
    }
    e.x_filtered = s;
    s += cap;
    e.x_capture = s;
    s += 4 * cap;
    e.x_capfilt = s;
    s += 4 * cap;
    e.x_work = s;
    e.x_workcap = static_cast<int32_t>(work_blocks * cap);
    return true;
}

// The first analysis would otherwise pay, inside its block, for what only a first call costs:
// the transform's rotations for the capture length, and the code of the transform and the
// autocorrelation. Running them once on the silent capture (only scratch is written) does that
// here. The rotations live in this engine's workspace: no other object can evict them.
void warm_up(attackscope_engine &e, int n) {
    if (n < 1 || n > e.x_blockcap)
        return;
    (void)dsp::estimate_pitch(e.x_capture, e.x_sr, 4 * n, e.x_work, *e.x_fft);
    dsp::autocorr_direct(e.x_capture, e.x_work, 64);
}

} // namespace

void engine_init(attackscope_engine &e) {
    e.x_blockcap = attackscope_blockcap;
}

std::size_t engine_storage_bytes() {
    return storage_doubles * sizeof(double);
}

bool engine_reset(attackscope_engine &e, int n) {
    e.x_blockcap = attackscope_blockcap;
    e.x_sr = attackscope_analysis_rate;
    const float floor = e.x_params.x_floor;
    e.x_params = attackscope_defaults;
    e.x_params.x_floor = floor;
    e.x_state = 0;
    e.x_holdoff = 0;
    e.x_ringpos = 0;
    e.x_energy[0] = e.x_energy[1] = e.x_energy[2] = 0.0;
    e.x_lastratio = 0.0;
    if (!e.x_fft)
        e.x_fft = new (std::nothrow) dsp::fft_workspace();
    if (!e.x_fft || !lay_out_arrays(e))
        return false;
    warm_up(e, n);
    return true;
}

void engine_release(attackscope_engine &e) {
    std::free(e.x_storage);
    e.x_storage = nullptr;
    for (double *&h : e.x_hist)
        h = nullptr;
    e.x_filtered = e.x_capture = e.x_capfilt = e.x_work = nullptr;
    e.x_workcap = 0;
    delete e.x_fft;
    e.x_fft = nullptr;
    delete e.x_tracker;
    e.x_tracker = nullptr;
}

bool engine_enable_position(attackscope_engine &e, double pickup) {
    if (!e.x_tracker)
        e.x_tracker = new (std::nothrow) dsp::pluck_tracker();
    if (e.x_tracker)
        e.x_tracker->set_pickup(pickup_position_valid(pickup) ? pickup : 0.0);
    return e.x_tracker != nullptr;
}

bool engine_position_busy(const attackscope_engine &e) {
    return e.x_tracker != nullptr && e.x_tracker->busy();
}

bool engine_reset_position(attackscope_engine &e, double host_sr) {
    if (!e.x_tracker)
        return true;
    try {
        // Sized for the largest block: the block size may change at the next chain build.
        e.x_tracker->prepare(host_sr, attackscope_blockcap);
    } catch (const std::bad_alloc &) {
        delete e.x_tracker;
        e.x_tracker = nullptr;
        return false;
    }
    return true;
}

bool engine_ready(const attackscope_engine &e, int n) {
    return e.x_storage != nullptr && n >= 1 && n <= e.x_blockcap;
}

block_start engine_begin_block(attackscope_engine &e, const float *in, int n) {
    if (e.x_holdoff > 0)
        e.x_holdoff--;
    // Chosen before anything is sent: a new selection counts from the next block.
    const dsp::biquad &c = gate_filter_set(e.x_params.x_filtersel);
    const prepared_block b = prepare_block(e, in, n, c);
    if (e.x_tracker)
        e.x_tracker->push(in, n);
    return {e.x_state != 0, b.clipped, b.energy};
}

float energy_value(double energy) {
    return static_cast<float>(energy * 100.0);
}

bool engine_decide(attackscope_engine &e, double energy) {
    return gate_decide(e, energy);
}

event_outcome engine_analyse(attackscope_engine &e, int n, int clipped) {
    return analyse_event(e, n, clipped);
}

bool engine_position(attackscope_engine &e, int n, bool analysis_block, dsp::pluck_estimate &out) {
    return e.x_tracker != nullptr && e.x_tracker->advance(n, !analysis_block, out);
}

void engine_run_block(attackscope_engine &e, const float *in, int n, engine_sink &sink) {
    if (!engine_ready(e, n))
        return;
    const block_start b = engine_begin_block(e, in, n);
    if (!b.analysis) {
        // Sent before the decision reads the floor and the factor: a patch that reacts to the
        // energy by changing them still counts for this block.
        sink.energy(energy_value(b.energy));
        if (engine_decide(e, b.energy))
            sink.onset();
    } else {
        sink.event(engine_analyse(e, n, b.clipped));
    }
    // Last: a patch reacting to the designed outlets has seen them first.
    if (dsp::pluck_estimate p{}; engine_position(e, n, b.analysis, p))
        sink.note(p);
}
