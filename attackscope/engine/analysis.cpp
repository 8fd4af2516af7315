#include "engine/analysis.h"

#include <cstring>

#include "dsp/numeric.h"
#include "dsp/pitch.h"
#include "engine/attack_shape.h"
#include "engine/inlet_value.h"

event_outcome analyse_event(attackscope_engine &e, int n, int clipped) {
    e.x_holdoff = truncated_int(e.x_params.x_holdblocks);
    const size_t block = static_cast<size_t>(n);
    for (size_t k = 0; k < 4; k++) // oldest first: the onset block is the third quarter
        std::memcpy(e.x_capture + k * block, e.x_hist[3 - k], block * sizeof(double));
    // The reset sized the scratch for the transforms of a whole capture of the largest block.
    return finish_event(e, n, clipped,
                        dsp::estimate_pitch(e.x_capture, e.x_sr, 4 * n, e.x_work, *e.x_fft));
}

event_outcome finish_event(attackscope_engine &e, int n, int clipped, double f0) {
    event_outcome out{event_outcome::kind::none, f0, e.x_lastratio, 0.0f};
    // The measurement's upper limit: above 1500 Hz (periods under 30 samples at 44100 Hz) the
    // event is dropped. The estimator never returns NaN, but a NaN must not reach the integer
    // sizes below either.
    if (!(f0 <= 1500.0)) {
        e.x_state = 0;
        out.what = event_outcome::kind::dropped;
        return out;
    }
    if (clipped) {
        out.what = event_outcome::kind::clip; // x_state stays 1: the next block tries again
        return out;
    }
    e.x_state = 0;
    const int count = 4 * n;
    const double *capture = e.x_capture;
    const attack::Period p = attack::period_of(e.x_sr, f0, n);

    // The envelope, then the segment and its autocorrelation, each at most two periods long.
    const size_t windows = static_cast<size_t>(p.windows);
    const size_t longest = 2 * static_cast<size_t>(p.whole);
    if (windows + 2 * longest > static_cast<size_t>(e.x_workcap))
        return out;
    double *const envelope = e.x_work, *const segment = envelope + windows;
    double *const r = segment + longest;

    attack::analysis_filter(capture, e.x_capfilt, count);
    attack::envelope(e.x_capfilt, p, envelope);
    const int w =
        attack::attack_window(envelope, p.windows, static_cast<double>(e.x_params.x_peakratio));
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
    const double ratio = attack::shape_ratio(lag, e.x_sr, f0);

    e.x_lastratio = attack::accepted_ratio(ratio, e.x_lastratio);
    out.what = event_outcome::kind::ratio;
    out.ratio = e.x_lastratio;
    out.sent = attack::output_value(e.x_lastratio, e.x_params.x_twovalued);
    return out;
}
