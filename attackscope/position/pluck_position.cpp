#include "position/pluck_position.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "position/confidence.h"
#include "position/counts.h"

namespace dsp {

void pluck_tracker::prepare(double sr, int max_block) {
    sr_ = std::isfinite(sr) ? std::clamp(sr, 4000.0, 768000.0) : 44100.0;
    max_block_ = std::clamp(max_block, 1, 65536);
    detector_.prepare(sr_);
    watch_.prepare(sr_);
    ringing_.prepare(sr_);
    // Twice the watch's memory: by then it has all but forgotten the time before the rise (a
    // new string an octave below the ringing one takes it down slowly, 0.14 in the first 40 ms).
    dim_wait_ = static_cast<int>(clamped(std::round(0.06 * sr_), 1, 1 << 24));
    held_.prepare(sr_);
    // A finger may hold the string for 150 ms after its push, which can set the string ringing
    // in the modes that have a node under it: an estimate is given only when no stronger edge
    // followed within that time.
    confirm_ = static_cast<int>(clamped(std::round(0.15 * sr_), 1, 1 << 24));
    // Past the longest release (2 ms) and its first reflections, short of the confirmation.
    retry_delay_ = static_cast<int>(clamped(std::round(0.03 * sr_), 1, 1 << 24));
    release_.prepare(sr_, max_block_);
    back_.prepare(sr_, max_block_);
    period_.prepare(sr_, lowest_f0, highest_f0);
    // Retries until the last stretch searched reaches past the longest hold (the confirmation):
    // a low string held that long raises no rise at its let-go over its own push.
    most_period_retries_ = static_cast<int>(
        clamped(std::ceil(double(confirm_ - period_.longest()) / retry_delay_), 1, 16));
    spectrum_.prepare(sr_, lowest_f0, spectrum::amplitudes);
    fine_.prepare(sr_, lowest_f0, spectrum::frequencies);
    before_.prepare(sr_, lowest_f0, spectrum::earlier);
    partials_.prepare(sr_, highest_f0);
    check_.prepare(sr_, lowest_f0, highest_f0);
    // The history holds the search stretch (two blocks and its span), the window before the
    // release, the longest window after it, and what arrives while the window is copied out;
    // and, for a string held ringing, from its let-go to when its estimate is due (the
    // confirmation and a tenth of a second of analysis).
    const int fft_max = std::max(spectrum_.max_length(), fine_.max_length());
    history_.prepare(3 * int64_t{max_block_} + release_.span() + before_.max_length() + fft_max +
                     fft_max / 16 + 64 + confirm_ + clamped(std::round(0.1 * sr_), 1, 1 << 24));
    reset();
}

void pluck_tracker::reset() {
    history_.reset();
    detector_.reset();
    candidate_ = first_rise_ = earlier_rise_ = -1;
    note_start_ = set_aside_ = contact_from_ = touched_ = -1;
    restarted_ = restarting_ = placing_ = false;
    let_go_ = -1;
    cut_rise_ = cut_release_ = put_back_from_ = put_back_ = -1;
    last_f0_ = 0.0;
    watch_.stop();
    ringing_.stop();
    dim_at_ = dim_taken_ = -1;
    latest_f0_ = 0.0;
    pending_ = false;
    stage_ = stage::idle;
    release_.reset();
}

void pluck_tracker::push(const float *in, int n) {
    if (history_.empty() || !in || n <= 0)
        return;
    history_.push(in, n, [this](float v, int64_t i) {
        if (watch_.lag() > 0)
            watch_.feed(v, history_.sample(i - watch_.lag()));
        if (ringing_.lag() > 0)
            ringing_.feed(v, history_.sample(i - ringing_.lag()));
        // Huge values would leave the detector's energy infinite; they are no pluck.
        const auto found = detector_.feed(std::clamp(static_cast<double>(v), -1e6, 1e6), i);
        if (dim_at_ >= 0 && i >= dim_at_ + dim_wait_) {
            // A string ringing from before no longer fills the input: the dim rise was a new one.
            const int64_t at = dim_at_;
            dim_at_ = -1;
            if (!busy() && candidate_ < 0 &&
                ringing_.correlation() <= dim_correlation_ - ringing_fall) {
                take_rise(at, dim_sharp_);
                dim_taken_ = at;
            }
        }
        if (found == note_detector::rise::none)
            return;
        const bool sharp = detector_.sharp();
        if (found == note_detector::rise::dim) {
            // Only while no note is in hand and the latest string clearly rings on.
            if (dim_at_ < 0 && !busy() && candidate_ < 0 && ringing_.ready() &&
                ringing_.correlation() >= ringing_held) {
                dim_at_ = i;
                dim_sharp_ = sharp;
                dim_correlation_ = ringing_.correlation();
            }
            return;
        }
        // A faint rise begins a note only while none is in hand: within one it is that note's
        // own swelling or beating, and would cut it short. A note measured again was released
        // 150 ms or more before: a faint rise now is the next note's, which cuts it short (it
        // was lost when the note measured again ran into it).
        if (found == note_detector::rise::faint && ((busy() && !restarting_) || candidate_ >= 0)) {
            if (candidate_ < 0)
                set_aside(i, sharp);
            return;
        }
        // A rise in the lowest band alone, while a note that rose sharply is measured or
        // confirmed, is that note swelling (a low string's own periodic edges growing): a release
        // is at least as sharp as what came before it.
        const bool swell =
            !sharp && note_sharp_ && note_start_ >= 0 && i < note_start_ + confirm_ && busy();
        if (swell)
            set_aside(i, sharp);
        else
            take_rise(i, sharp);
    });
}

bool pluck_tracker::advance(int n, bool spare, pluck_estimate &out) {
    last_units_ = 0;
    if (n <= 0)
        return false;
    // A note whose partials are measured and only the fit is left finishes before a new note
    // past its confirmation is taken up: the fit needs no history, and its work is bounded (at
    // most about 40 ms of the budget), well within what the history keeps of the new release.
    const bool fitting =
        stage_ == stage::prepare_fit || stage_ == stage::fit || stage_ == stage::back;
    if (candidate_ >= 0 && !(fitting && first_rise_ >= confirmed_from() + confirm_)) {
        // A rise within the confirmation of the note before is its let-go; the note's contact
        // began with the earliest such rise.
        const bool let_go =
            pending_ ? first_rise_ < waiting_from_ + confirm_
                     : stage_ != stage::idle && first_rise_ < confirmed_from() + confirm_;
        remember_cut(let_go);
        if (!let_go)
            contact_from_ = -1;
        else if (contact_from_ < 0)
            contact_from_ = pending_ ? waiting_from_ : note_start_;
        // So may a faint rise set aside shortly before as the note before's swelling.
        if (set_aside_ >= 0 && set_aside_ < first_rise_ && first_rise_ - set_aside_ < confirm_ &&
            (contact_from_ < 0 || set_aside_ < contact_from_))
            contact_from_ = set_aside_;
        if (pending_ && let_go)
            pending_ = false; // that note was the finger's push
        if (restarting_ && !pending_) {
            // A new note cuts short the note measured again: its first estimate stands.
            waiting_ = fallback_;
            waiting_details_ = fallback_details_;
            waiting_from_ = fallback_.release_sample;
            pending_ = true;
        }
        // A note with a period whose analysis outlasts its confirmation (a low string at large
        // blocks) was a note: cut short by the next, it still gets its row, unmeasured (a note
        // in its fit finishes it first, above).
        const bool measuring = stage_ == stage::before || stage_ == stage::spectrum ||
                               stage_ == stage::fine || stage_ == stage::partials ||
                               stage_ == stage::watch || stage_ == stage::check;
        if (measuring && !pending_ && first_rise_ >= confirmed_from() + confirm_) {
            waiting_ = {0.0, sr_ / period_samples_, 0.0, 0.0, release_.release()};
            waiting_from_ = release_.release();
            waiting_details_ = live_details();
            pending_ = true;
        }
        release_.begin(candidate_);
        stage_ = stage::release;
        restarting_ = restarted_ = false;
        note_start_ = candidate_;
        note_sharp_ = candidate_sharp_;
        still_ = still::none;
        candidate_ = -1;
        set_aside_ = -1;
    }
    if (pending_ && history_.total() >= waiting_from_ + confirm_) {
        pending_ = false;
        if (measure_again(waiting_, waiting_details_))
            return false;
        return give(waiting_, waiting_details_, out);
    }
    if (stage_ == stage::idle)
        return false;
    const int64_t whole = int64_t{units_per_sample} * std::min(n, max_block_);
    int64_t budget = whole;
    bool concluded = false;
    pluck_estimate result{0.0, 0.0, 0.0, 0.0, -1};
    while (budget > 0 && !concluded && stage_ != stage::idle) {
        // A designed analysis block leaves the estimate only the light release search.
        if (!spare && !gathering())
            break;
        stage_step s{0, stage_state::running};
        switch (stage_) {
        case stage::idle:
            break;
        case stage::locate:
            s = held_.step(history_, budget);
            if (s.state == stage_state::done) {
                // The let-go's edge lies less than two stretches before the first that left the
                // held period; with none found, the note is measured at once.
                placing_ = held_.found() >= 0;
                release_.begin(placing_ ? held_.found() - held_.stretch() : note_start_, placing_);
                stage_ = stage::release;
            }
            break;
        case stage::release:
            s = release_.step(history_, budget, spare, n);
            if (placing_ && s.state != stage_state::running && s.state != stage_state::waiting) {
                // The steepest rise of the edge energy places it, unless that lies at the
                // stretch's start (the energy only fell within it: the finger's damping, no
                // let-go). The note is measured from where the watch found it free, as before.
                placing_ = false;
                if (s.state == stage_state::done && release_.release() > release_.start())
                    let_go_ = release_.release();
                release_.begin(note_start_);
                s.state = stage_state::running;
                break;
            }
            if (s.state == stage_state::done) {
                start_ = release_.window_start();
                period_retries_ = 0;
                period_.begin(start_);
                stage_ = stage::period;
            }
            break;
        case stage::period:
            s = period_.step(history_, budget);
            if (s.state == stage_state::failed && period_retries_ < most_period_retries_) {
                // The edge found may have been the finger's push, the string still held and let
                // go within the stretch searched: once more from a little later.
                period_retries_++;
                start_ += retry_delay_;
                period_.begin(start_);
                s.state = stage_state::running;
            }
            if (s.state == stage_state::done) {
                period_samples_ = period_.period();
                remeasured_ = 0;
                ringing_f0_ = ringing_b_ = 0.0;
                // What rang before is heard before the finger touched the string: its push and
                // hold fill the valleys between a ringing string's partials. A note measured
                // again keeps its first measurement's.
                if (!restarting_) {
                    touched_ = start_;
                    if (contact_from_ >= 0 && contact_from_ < note_start_)
                        touched_ = std::min(start_, contact_from_ -
                                                        std::max<int64_t>(0, note_start_ - start_));
                }
                int64_t end = start_;
                if (touched_ >= 0 && touched_ < end &&
                    history_.holds(touched_ - before_.max_length()))
                    end = touched_;
                before_.begin_before(end, period_samples_);
                // Only while the history still holds it (a very long search may outlast it).
                have_before_ = history_.holds(end - before_.window());
                stage_ = stage::before;
            }
            break;
        case stage::before:
            if (have_before_)
                s = before_.step(history_, budget);
            else
                s.state = stage_state::done;
            if (s.state == stage_state::done) {
                spectrum_.begin(start_, period_samples_);
                stage_ = stage::spectrum;
            }
            break;
        case stage::spectrum:
            s = spectrum_.step(history_, budget);
            if (s.state == stage_state::done) {
                fine_.begin(start_, period_samples_);
                stage_ = stage::fine;
            }
            break;
        case stage::fine:
            s = fine_.step(history_, budget);
            if (s.state == stage_state::done) {
                partials_.begin(sr_ / period_samples_, ringing_f0_, ringing_b_);
                stage_ = stage::partials;
            }
            break;
        case stage::partials:
            s = partials_.step(spectrum_, fine_, budget);
            if (s.state == stage_state::done)
                stage_ = stage::watch;
            break;
        case stage::watch:
            // Indivisible, as the fit's preparation.
            if (budget < watch_units && budget < whole) {
                s.state = stage_state::waiting;
                break;
            }
            // A note heard by a rise in the lowest band alone whose first series is the latest
            // estimate's, or a multiple of it, may be that string's own change (a hand stopping
            // it): the band's differences cancel a series near a multiple of 500 Hz, so its
            // energy can rise many times over while the string only fades. Judged before the fit.
            if (!restarting_ && remeasured_ == 0 && !note_sharp_ && last_f0_ > 0.0) {
                const double k = std::round(partials_.f0() / last_f0_);
                if (k >= 1.0 && k <= 4.0 && one_series(partials_.f0(), k * last_f0_))
                    still_ = still::energy;
            }
            // The watch decides whether to measure a note again; a note measured again instead
            // learns whether its series sounded before the first release (see below).
            s.units = restarting_ ? rang_before(partials_.f0(), fallback_.release_sample)
                                  : watch_from_here();
            // Measured again at most twice, and never from the first series again: a series
            // taken from the strongest peaks may still be a multiple of the note's.
            if (remeasured_ >= most_remeasures) {
                stage_ = stage::prepare_fit;
            } else {
                check_.begin(partials_.f0(), partials_.inharmonicity(), partials_.count(),
                             have_before_ ? &before_ : nullptr);
                stage_ = stage::check;
            }
            break;
        case stage::check:
            s = check_.step(fine_, budget);
            if (s.state == stage_state::done) {
                stage_ = stage::prepare_fit;
                const double f = check_.corrected();
                if (f > 0.0 && !(remeasured_ > 0 && one_series(f, first_f0_))) {
                    if (remeasured_ == 0)
                        first_f0_ = partials_.f0();
                    period_samples_ = sr_ / f;
                    remeasured_++;
                    if (check_.ringing_f0() > 0.0 && !one_series(f, check_.ringing_f0())) {
                        ringing_f0_ = check_.ringing_f0();
                        ringing_b_ = check_.ringing_inharmonicity();
                    }
                    spectrum_.begin(start_, period_samples_);
                    stage_ = stage::spectrum;
                }
            }
            break;
        case stage::prepare_fit: {
            // A note heard by a dim rise whose series, once checked, is the string rung before
            // is that string fading into noise. (At a multiple of it, it is a new string: an
            // octave above, say.)
            if (!restarting_ && note_start_ == dim_taken_ && latest_f0_ > 0.0 &&
                one_series(partials_.f0(), latest_f0_)) {
                s.state = stage_state::failed;
                break;
            }
            // Such a note is no note where the input's energy fell by half or more after its
            // release while the latest estimate's series sounded up to it: that string fading. A
            // new string adds its energy, under a ringing one too.
            if (still_ != still::none) {
                if (budget < watch_units && budget < whole) {
                    s.state = stage_state::waiting;
                    break;
                }
                if (still_ == still::energy) {
                    still_ = fell_after(release_.release(), s.units) ? still::period : still::none;
                } else {
                    still_ = still::none;
                    if (sounded_before(last_f0_, release_.release(), s.units))
                        s.state = stage_state::failed;
                }
                break;
            }
            // Indivisible: it runs where the rest of the budget holds it, or first in a block.
            if (budget < fit_setup_units && budget < whole) {
                s.state = stage_state::waiting;
                break;
            }
            s.units = fit_setup_units;
            double y[partial_series::max_partials], w[partial_series::max_partials],
                eps[partial_series::max_partials];
            if (!partials_.finish(y, w, eps)) {
                result = {0.0, 0.0, 0.0, 0.0, release_.release()};
                concluded = true;
                stage_ = stage::idle;
                break;
            }
            fit_.start(y, w, eps, partials_.count(), pickup_);
            stage_ = stage::fit;
            break;
        }
        case stage::back:
            s = back_.step(history_, budget, spare, n);
            if (s.state == stage_state::done || s.state == stage_state::failed) {
                if (s.state == stage_state::done && back_.release() >= 0) {
                    put_back_from_ = release_.release();
                    put_back_ = back_.release();
                }
                result = concluded_;
                concluded = true;
                stage_ = stage::idle;
                s.state = stage_state::running;
            }
            break;
        case stage::fit:
            s.units = fit_.step(budget);
            if (fit_.done()) {
                result = judge(fit_, {partials_.f0(), partials_.spread(), period_.aperiodicity(),
                                      release_.release(), history_.last_bad() < release_.start(),
                                      pickup_});
                stage_ = stage::idle;
                concluded = true;
            }
            break;
        }
        // No release edge, no clear period or an overwritten history: no note. A rise set aside
        // within it as its swelling was then a let-go after all, and is taken up.
        if (s.state == stage_state::failed) {
            stage_ = stage::idle;
            if (set_aside_ > note_start_ && candidate_ < 0 && !restarting_)
                take_rise(set_aside_, set_aside_sharp_);
            set_aside_ = -1;
        }
        if (s.state == stage_state::waiting || (!spare && !gathering()))
            budget = 0;
        budget -= std::max<int64_t>(s.units, 0);
        last_units_ += std::max<int64_t>(s.units, 0);
    }
    // Once the series is final (an edge repeats only at the string's exact period), and off
    // the analysis's time: the check's work comes on top of the budget, like an indivisible
    // step's overrun, so that the note is measured as it would be without it.
    if (concluded && !restarting_ && cut_rise_ >= 0) {
        last_units_ += place_back();
        if (stage_ == stage::back) {
            concluded_ = result;
            return false;
        }
    }
    if (!concluded) {
        if (restarting_ && stage_ == stage::idle && candidate_ < 0) {
            // Measured again, no note was found: the first estimate stands.
            restarting_ = false;
            return give(fallback_, fallback_details_, out);
        }
        return false;
    }
    pluck_details d = live_details();
    if (restarting_) {
        // A first series at a multiple of the one measured again lies within it: the note may
        // have decayed under a string still ringing whose series holds its partials. The first
        // estimate stands then, and when the second has no position. A string held near the
        // node of a higher mode rings in that mode's series until it is let go, a multiple too;
        // but the series measured again is then the string's own, which, unlike a ringing
        // string's, did not sound before the first release.
        const double ratio = result.f0 > 0.0 ? fallback_.f0 / result.f0 : 0.0;
        const bool within = ratio >= 1.5 && std::fabs(ratio / std::round(ratio) - 1.0) < 0.01;
        // Measured again because its first period never held, the same series again is the
        // string measured twice, the second time later in its decay: the first stands.
        // So too, measured again from a rise though the first had a position (it had no
        // confidence): that rise was the note's own swelling, not the finger's let-go, after
        // which another series sounds.
        const bool doubtful = from_rise_ && fallback_.position > 0.0;
        const bool same = (never_held_ || doubtful) && one_series(ratio, 1.0);
        if ((within && rang_before_) || !(result.position > 0.0) || same) {
            result = fallback_;
            d = fallback_details_;
        } else {
            // Where the let-go was not found, the release stays where it was placed; so too
            // where the first period never held (the input never stood at it, so where it left
            // it says nothing, and the first release was heard as one).
            // Measured again from a rise, the release is where the search placed it there; but
            // where the first had a position the rise may have been a swelling attack's own (a
            // sampled bass's, 60-160 ms on), and the note stays where it was heard.
            result.release_sample = from_rise_ && !doubtful        ? release_.release()
                                    : let_go_ >= 0 && !never_held_ ? let_go_
                                                                   : fallback_.release_sample;
        }
    }
    // A note measured again was confirmed at its first release.
    const int64_t from =
        restarting_ ? result.release_sample : std::max(result.release_sample, confirmed_from());
    restarting_ = false;
    if (result.release_sample >= 0 && history_.total() < from + confirm_) {
        waiting_ = result;
        waiting_from_ = from;
        waiting_details_ = d;
        pending_ = true;
        return false;
    }
    if (measure_again(result, d))
        return false;
    return give(result, d, out);
}

void pluck_tracker::remember_cut(bool let_go) {
    // A rise within the search stretch of the note in hand, whose release is not yet found, was
    // heard on the same edge: the note cut short stays the one that note cut.
    const bool same_edge =
        stage_ == stage::release && !pending_ && first_rise_ < note_start_ + release_.reach();
    if (restarting_ || !(let_go && same_edge))
        cut_rise_ = cut_release_ = -1;
    if (restarting_)
        return;
    if (earlier_rise_ >= 0) {
        // Several rises in one block: the one on an edge before the last.
        cut_rise_ = earlier_rise_;
        cut_release_ = -1;
    } else if (let_go && !same_edge) {
        if (pending_) {
            cut_rise_ = cut_release_ = waiting_.release_sample;
        } else if (stage_ != stage::locate) {
            cut_rise_ = note_start_;
            cut_release_ = stage_ != stage::release ? release_.release() : -1;
        }
    }
}

int64_t pluck_tracker::place_back() {
    int64_t units = 0;
    const double c = own_edge::correlation(history_, release_.release(), sr_, partials_.f0(),
                                           watch_units, units);
    const int64_t rise = cut_rise_, release = cut_release_;
    cut_rise_ = cut_release_ = -1; // judged once
    if (!(c >= own_edge::repeated))
        return units;
    if (release >= 0) {
        put_back_from_ = release_.release();
        put_back_ = release;
    } else if (history_.holds(rise - release_.span() - 2 * int64_t{release_.edge()})) {
        back_.begin(rise);
        stage_ = stage::back;
    }
    return units;
}

bool pluck_tracker::give(const pluck_estimate &e, const pluck_details &d, pluck_estimate &out) {
    out = e;
    // A note whose edge was its string's own, come round, was released with the note it cut.
    if (e.release_sample >= 0 && e.release_sample == put_back_from_)
        out.release_sample = put_back_;
    details_ = d;
    // Watched from here on at the note's period (a series within the tracker's range).
    latest_f0_ = e.f0;
    if (e.f0 >= 0.5 * lowest_f0 && e.f0 <= 2.0 * highest_f0)
        ringing_.begin(static_cast<int>(std::lround(sr_ / e.f0)), 0.0);
    else
        ringing_.stop();
    // A note left unmeasured may yet be measured from a later rise on its series.
    last_f0_ = e.position > 0.0 ? e.f0 : 0.0;
    return true;
}

int64_t pluck_tracker::watch_from_here() {
    // The series' period, and how well the input repeated at it where the note was measured:
    // over the first 30 ms of the analysis (or less, as far as the input reaches).
    const double f = partials_.f0();
    if (!(f > 0.0)) {
        watch_.stop();
        return 0;
    }
    const int lag = static_cast<int>(std::lround(sr_ / f));
    const int64_t to = std::min(history_.total(),
                                start_ + static_cast<int64_t>(pitch_watch::remember_seconds * sr_));
    if (!history_.holds(start_ - lag) || to <= start_) {
        watch_.begin(lag, std::numeric_limits<double>::quiet_NaN());
        return 1;
    }
    int64_t units = 0;
    watch_.begin(lag, correlation_at(start_, to, lag, units));
    return units;
}

double pluck_tracker::correlation_at(int64_t from, int64_t to, int lag, int64_t &units) const {
    // Every stride-th sample: at most watch_units of them, whatever the rate.
    const int64_t stride = std::max<int64_t>(1, (to - from + watch_units - 1) / watch_units);
    units = (to - from) / stride + 1;
    return pitch_watch::correlation_over(history_, from, to, lag, stride);
}

int64_t pluck_tracker::rang_before(double f0, int64_t release) {
    int64_t units = 0;
    rang_before_ = sounded_before(f0, release, units);
    return units;
}

bool pluck_tracker::fell_after(int64_t at, int64_t &units) const {
    const int64_t span = static_cast<int64_t>(pitch_watch::remember_seconds * sr_);
    const int64_t to = std::min(history_.total(), at + span);
    if (span < 1 || to <= at || !history_.holds(at - span))
        return false;
    // Every stride-th sample: at most watch_units of them over both stretches.
    const int64_t stride = std::max<int64_t>(1, (2 * span + watch_units - 1) / watch_units);
    double before = 0.0, after = 0.0;
    int64_t n_before = 0, n_after = 0;
    for (int64_t i = at - span; i < at; i += stride, n_before++)
        before += history_.sample(i) * history_.sample(i);
    for (int64_t i = at; i < to; i += stride, n_after++)
        after += history_.sample(i) * history_.sample(i);
    units = n_before + n_after + 1;
    return 2.0 * after * static_cast<double>(n_before) < before * static_cast<double>(n_after);
}

bool pluck_tracker::sounded_before(double f0, int64_t release, int64_t &units) const {
    units = 1;
    const int lag = f0 > 0.0 ? static_cast<int>(std::lround(sr_ / f0)) : 0;
    const int64_t from = release - static_cast<int64_t>(pitch_watch::remember_seconds * sr_);
    if (lag < 1 || !history_.holds(from - lag) || release <= from)
        return true; // no longer known
    return correlation_at(from, release, lag, units) >= pitch_watch::free_correlation;
}

bool pluck_tracker::measure_again(const pluck_estimate &e, const pluck_details &d) {
    // The input no longer repeats at the note's period: the note measured was the string held
    // by the finger, and it has been let go since, without a rise the detector heard. The note
    // is measured once more from now, and this estimate stands if nothing better comes.
    // Only while no other note has begun: its samples would be in the watch, and its analysis
    // in the way.
    if (stage_ != stage::idle || candidate_ >= 0 || restarted_)
        return false;
    // A note that gave no position, with a rise set aside after its release as its swelling:
    // that rise was the let-go, and the note is measured again from it. So is a note with no
    // confidence whose rise set aside came within a hold's time: a string pushed and held in
    // noise leaves a series at its push that is no string's, which the fit reads as some comb.
    const bool doubtful = e.position > 0.0 && e.confidence < no_confidence &&
                          set_aside_ < e.release_sample + confirm_;
    if ((!(e.position > 0.0) || doubtful) && set_aside_ > e.release_sample &&
        history_.holds(set_aside_ - release_.span())) {
        begin_again(e, d);
        from_rise_ = true;
        never_held_ = false;
        release_.begin(set_aside_);
        note_start_ = set_aside_;
        note_sharp_ = set_aside_sharp_;
        set_aside_ = -1;
        stage_ = stage::release;
        return true;
    }
    // A note read from the push or from a louder string still ringing has the wrong series and
    // no confidence: it too is measured again (the finger has let go by now). So is a note that
    // gave no position at all, wherever its period was watched: the watch starts late, often
    // after the let-go, and cannot yet tell (a string held long in noise, seen only as its push).
    const bool never_held = watch_.never_held() && e.confidence < no_confidence;
    if (!(e.position > 0.0 ? watch_.left() || never_held : watch_.lag() > 0))
        return false;
    // From where the note was measured (the string still held there) to now; the history holds
    // it unless the analysis ran long, and what arrives in the next two blocks is kept clear of.
    held_.begin(history_, start_, history_.total(), watch_.lag(), 2 * int64_t{max_block_});
    begin_again(e, d);
    from_rise_ = false;
    never_held_ = never_held;
    note_start_ = history_.total();
    note_sharp_ = true;
    stage_ = stage::locate;
    return true;
}

void pluck_tracker::begin_again(const pluck_estimate &e, const pluck_details &d) {
    restarted_ = restarting_ = true;
    rang_before_ = true;
    still_ = still::none;
    let_go_ = -1;
    fallback_ = e;
    fallback_details_ = d;
    watch_.stop();
}

} // namespace dsp
