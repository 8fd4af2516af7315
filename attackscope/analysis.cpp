#include "analysis.h"

#include <cstdlib>
#include <cstring>

#include "attack_shape.h"
#include "inlet_value.h"
#include "numeric.h"
#include "pitch.h"

void analyse_event(t_attackscope *x, int n, int clipped) {
    x->x_holdoff = truncated_int(x->x_holdblocks);
    const size_t block = static_cast<size_t>(n);
    for (size_t k = 0; k < 4; k++) // oldest first: the onset block is the third quarter
        std::memcpy(x->x_capture + k * block, x->x_hist[3 - k], block * sizeof(double));
    // The transforms take four arrays of the capture's length from the object's scratch.
    const bool fits = dsp::pitch_work_size(4 * n) <= static_cast<size_t>(x->x_workcap);
    double *work = fits ? x->x_work : nullptr;
    finish_event(x, n, clipped, dsp::estimate_pitch(x->x_capture, x->x_sr, 4 * n, work));
}

void finish_event(t_attackscope *x, int n, int clipped, double f0) {
    // The estimator never returns NaN, but a NaN must not reach the integer sizes below either.
    if (!(f0 <= 1500.0)) {
        x->x_state = 0;
        return;
    }
    if (clipped) {
        post("clip"); // x_state stays 1: the next block analyses the shifted capture again
        return;
    }
    x->x_state = 0;
    const int count = 4 * n;
    const double *capture = x->x_capture;
    attack::analysis_filter(capture, x->x_capfilt, count);
    const attack::Period p = attack::period_of(x->x_sr, f0, n);

    // The envelope, then the segment and its autocorrelation, each at most two periods long:
    // within the object's scratch for every pitch the estimator reports at 44100 Hz. Only a
    // lower f0 handed in directly needs the heap.
    const size_t windows = static_cast<size_t>(p.windows);
    const size_t longest = 2 * static_cast<size_t>(p.whole);
    const size_t needed = windows + 2 * longest;
    const bool own = needed <= static_cast<size_t>(x->x_workcap);
    auto *scratch = own ? x->x_work : static_cast<double *>(std::malloc(needed * sizeof(double)));
    if (!scratch)
        return;
    double *e = scratch, *segment = scratch + windows, *r = segment + longest;

    attack::envelope(x->x_capfilt, p, e);
    const int w = attack::attack_window(e, p.windows, static_cast<double>(x->x_peakratio));
    // The peak window ends at most windows * hop <= 3.5 n samples in, or at 2 hop when no window
    // qualifies: inside the capture for any pitch the estimator reports, and kept there for any
    // lower f0 handed in.
    const int peak_end = (w + 2) * p.hop < count ? (w + 2) * p.hop : count;
    const int peak = attack::peak_index(capture, w * p.hop, peak_end);
    const int t = attack::sign_change_distance(capture, count, peak, p.whole);
    const int length = p.whole + t;
    attack::copy_segment(capture, count, peak - t - 2, length, segment);
    dsp::autocorr_direct(segment, r, length);
    const double lag = attack::refined_lag(r, length, attack::minimum_lag(r, length));
    const double ratio = attack::shape_ratio(lag, x->x_sr, f0);
    if (!own)
        std::free(scratch); // before sending: the patch's reaction runs inside outlet_float

    x->x_lastratio = attack::accepted_ratio(ratio, x->x_lastratio);
    outlet_float(x->x_ratioout, attack::output_value(x->x_lastratio, x->x_twovalued));
}
