// The mixed-radix transform, in stages.
//
// fft_transform(N) takes the plan of N (fft_plan.cpp: radices 10, 8, 5, 4, 3 and 2 from a table,
// largest first, then any other prime factors; the stages run in the reverse order, so a radix
// above 10 is always stage 1). Then
//   1. the reordering copies the input into the output arrays in mixed-radix digit-reversed
//      order, and
//   2. one decimation-in-time stage per radix works in place over the output arrays.
//
// The words used for a stage i of radix R:
//   span S     the product of the radices of the stages before i: the distance between the R
//              values of one butterfly, and the number of data positions d = 0 .. S-1;
//   rest M     N / (S * R): the number of groups, S * R values apart, that share the rotations
//              of a position;
//   rotation   the factor exp(-2 pi i d b / (S R)) by which input b of a butterfly at position d
//              is multiplied before the butterfly (textbooks call it a twiddle factor), made by a
//              running rotation that turns one step per position (fft_turn).
//
// The paths, and why each exists:
//   - radices 2, 3, 4, 5, 8 and 10 have dedicated butterflies (fft_butterflies.h); any other
//     radix (an odd prime from 7 up) uses the general butterfly on the workspace's vector with a
//     table of the R-th roots of unity, as slow as it is rare;
//   - the dedicated stages run eight neighbouring positions side by side
//     (fft_lanes), compiled for each vector unit (simd_level.h): the late stages of power-of-two
//     lengths otherwise evict their own cache lines; every unit gives the same bits;
//   - when stage 1 has radix 4 or 8 and the last radix is a multiple of eight, the reordering and
//     stage 1 are one pass (stage 1 rotates nothing);
//   - lengths up to 8192 keep their rotations from call to call in the caller's workspace (the
//     rotation cache): the capture's length changes only with the block size.
// Every result is bit-exact with the plain transform in tests/dsp/fft_reference.cpp, which
// follows the same operations in the same order.
#include "dsp/fft.h"

#include <cmath>
#include <cstdint>

#include "dsp/fft_butterflies.h"
#include "dsp/fft_plan.h"

namespace dsp {
namespace {

using namespace fft_parts;

constexpr int max_dedicated_radix = fft_workspace::max_dedicated_radix;
constexpr int rotation_chunk = fft_workspace::rotation_chunk;

// Computed once, in a thread-safe way, and only read after.
double fft_pi() {
    static const double pi = 4 * std::atan(1.0);
    return pi;
}

// Output position p, written in the stages' mixed radix (digit j has weight span[j]), reads input
// q = sum of digit_j * rest[j]. Digit 1 is contiguous in p and the last digit contiguous in q, so
// the copy goes by tiles of those two digits, the digits between them counted like an odometer;
// a plain walk over p would read the input with strides of N / radix[1].
void fft_reorder_input(int N, const fft_stages &st, const double *in_re, const double *in_im,
                       double *out_re, double *out_im) {
    const int K = st.count;
    if (K == 1) {
        for (int p = 0; p < N; p++) {
            out_re[p] = in_re[p];
            out_im[p] = in_im[p];
        }
        return;
    }
    const int first = st.radix[1], last = st.radix[K];
    const int q_first = st.rest[1], p_last = st.span[K];
    // For power-of-two lengths a tile's rows in the input (and its columns in the output) lie a
    // power of two apart, in one cache set: a tile goes through a local copy, one array at a time,
    // so that each of its lines is touched once.
    double buffer[10 * 10];
    const auto copy_tile = [&](int p_base, int q_base, const double *in, double *out) {
        if (first > 10 || last > 10) {
            for (int a = 0; a < first; a++) {
                for (int b = 0; b < last; b++)
                    out[p_base + a + b * p_last] = in[q_base + a * q_first + b];
            }
            return;
        }
        for (int a = 0; a < first; a++) {
            for (int b = 0; b < last; b++)
                buffer[a * last + b] = in[q_base + a * q_first + b];
        }
        for (int b = 0; b < last; b++) {
            for (int a = 0; a < first; a++)
                out[p_base + a + b * p_last] = buffer[a * last + b];
        }
    };
    int digit[stage_table_size] = {};
    int p_base = 0, q_base = 0;
    for (int tile = N / (first * last); tile > 0; tile--) {
        copy_tile(p_base, q_base, in_re, out_re);
        copy_tile(p_base, q_base, in_im, out_im);
        for (int j = 2; j < K; j++) {
            p_base += st.span[j];
            q_base += st.rest[j];
            if (++digit[j] < st.radix[j])
                break;
            digit[j] = 0;
            p_base -= st.span[j] * st.radix[j];
            q_base -= st.rest[j] * st.radix[j];
        }
    }
}

void fft_make_roots(fft_workspace &ws, int R) {
    double *fft_root_re = ws.root_re, *fft_root_im = ws.root_im;
    const double w = 2 * fft_pi() / R;
    fft_root_re[0] = 1;
    fft_root_im[0] = 0;
    fft_root_re[1] = std::cos(w);
    fft_root_im[1] = -std::sin(w);
    for (int k = 2; k < R; k++) {
        fft_root_re[k] = fft_root_re[1] * fft_root_re[k - 1] - fft_root_im[1] * fft_root_im[k - 1];
        fft_root_im[k] = fft_root_im[1] * fft_root_re[k - 1] + fft_root_re[1] * fft_root_im[k - 1];
    }
}

// Odd prime radix on the work vector: outputs j and R - j share the sums and differences of
// inputs j and R - j. R = 1 (N = 1) does nothing.
void fft_butterfly_general(fft_workspace &ws, int R) {
    const int h = (R + 1) / 2;
    double *z_re = ws.work_re, *z_im = ws.work_im;
    double *fft_sum_re = ws.sum_re, *fft_sum_im = ws.sum_im;
    double *fft_dif_re = ws.dif_re, *fft_dif_im = ws.dif_im;
    const double *fft_root_re = ws.root_re, *fft_root_im = ws.root_im;
    for (int j = 1; j < h; j++) {
        fft_sum_re[j] = z_re[j] + z_re[R - j];
        fft_dif_im[j] = z_im[j] - z_im[R - j];
        fft_dif_re[j] = z_re[j] - z_re[R - j];
        fft_sum_im[j] = z_im[j] + z_im[R - j];
    }
    for (int j = 1; j < h; j++) {
        double lo_re = z_re[0], lo_im = z_im[0], hi_re = z_re[0], hi_im = z_im[0];
        int k = j; // i * j mod R
        for (int i = 1; i < h; i++) {
            const double u = fft_root_re[k], v = fft_root_im[k];
            hi_re += u * fft_sum_re[i] + v * fft_dif_im[i];
            hi_im += u * fft_sum_im[i] - v * fft_dif_re[i];
            lo_re += u * fft_sum_re[i] - v * fft_dif_im[i];
            lo_im += u * fft_sum_im[i] + v * fft_dif_re[i];
            k += j;
            if (k >= R)
                k -= R;
        }
        z_re[j] = lo_re;
        z_im[j] = lo_im;
        z_re[R - j] = hi_re;
        z_im[R - j] = hi_im;
    }
    for (int j = 1; j < h; j++) {
        z_re[0] += fft_sum_re[j];
        z_im[0] += fft_sum_im[j];
    }
}

// The stage's running rotation t starts at (1, 0) and is multiplied by the step rotation once
// per data position; position d rotates input b of every group by t^b, built by repeated
// multiplication, and position 0 rotates nothing.
struct fft_turn {
    double step_re, step_im;
    double t_re = 1, t_im = 0;

    void advance() {
        const double next_re = t_re * step_re - t_im * step_im;
        t_im = t_im * step_re + t_re * step_im;
        t_re = next_re;
    }
    void powers(int R, double *rot_re, double *rot_im) const {
        rot_re[1] = t_re;
        rot_im[1] = t_im;
        for (int b = 2; b < R; b++) {
            rot_re[b] = t_re * rot_re[b - 1] - t_im * rot_im[b - 1];
            rot_im[b] = t_im * rot_re[b - 1] + t_re * rot_im[b - 1];
        }
    }
};

// One data position of a dedicated-radix stage, all groups; rot == nullptr rotates nothing.
// x points at position d of group 0; groups are stride apart, a group's values S apart.
template <int R>
void fft_fixed_position(const double *rot_re, const double *rot_im, int S, int M, int stride,
                        double *x_re, double *x_im) {
    double z_re[std::size_t{R}], z_im[std::size_t{R}];
    for (int g = 0; g < M; g++) {
        double *g_re = x_re + g * stride, *g_im = x_im + g * stride;
        z_re[0] = g_re[0];
        z_im[0] = g_im[0];
        for (int b = 1; b < R; b++) {
            const double re = g_re[b * S], im = g_im[b * S];
            if (rot_re != nullptr) {
                z_re[b] = rot_re[b] * re - rot_im[b] * im;
                z_im[b] = rot_im[b] * re + rot_re[b] * im;
            } else {
                z_re[b] = re;
                z_im[b] = im;
            }
        }
        fft_butterfly<R>(z_re, z_im);
        for (int b = 0; b < R; b++) {
            g_re[b * S] = z_re[b];
            g_im[b * S] = z_im[b];
        }
    }
}

// lane_count neighbouring positions at once. A butterfly's values lie S apart, and with the wide
// power-of-two strides of late stages they all fall into one cache set and evict each other
// before the next position could reuse their lines; neighbours taken together share each load.
// With keep_first, lane 0 is position 0, which is never rotated: its values pass unchanged (a
// rotation by (1, 0) could still turn -0 into +0 or an infinity into NaN).
template <int R, bool keep_first>
void fft_fixed_lanes(const fft_lanes *rot_re, const fft_lanes *rot_im, int S, int M, int stride,
                     double *x_re, double *x_im) {
    fft_lanes z_re[std::size_t{R}], z_im[std::size_t{R}];
    for (int g = 0; g < M; g++) {
        double *g_re = x_re + g * stride, *g_im = x_im + g * stride;
        for (int l = 0; l < lane_count; l++) {
            z_re[0].v[l] = g_re[l];
            z_im[0].v[l] = g_im[l];
        }
        for (int b = 1; b < R; b++) {
            fft_lanes re, im;
            for (int l = 0; l < lane_count; l++) {
                re.v[l] = g_re[b * S + l];
                im.v[l] = g_im[b * S + l];
            }
            z_re[b] = rot_re[b] * re - rot_im[b] * im;
            z_im[b] = rot_im[b] * re + rot_re[b] * im;
            if constexpr (keep_first) {
                z_re[b].v[0] = re.v[0];
                z_im[b].v[0] = im.v[0];
            }
        }
        fft_butterfly<R>(z_re, z_im);
        for (int b = 0; b < R; b++) {
            for (int l = 0; l < lane_count; l++) {
                g_re[b * S + l] = z_re[b].v[l];
                g_im[b * S + l] = z_im[b].v[l];
            }
        }
    }
}

// Positions d0 .. d1 - 1 of a stage of a radix with a dedicated butterfly. The rotation of input
// b at position d is (rot_re, rot_im)[(b - 1) * rot_stride + d - d0]: one row per input, so the
// rotations of neighbouring positions lie side by side. Position 0 rotates nothing.
template <int R>
void fft_fixed_positions(int S, int M, const double *rot_re, const double *rot_im, int rot_stride,
                         int d0, int d1, double *y_re, double *y_im) {
    const int stride = S * R;
    int d = d0;
    fft_lanes lanes_re[std::size_t{R}] = {}, lanes_im[std::size_t{R}] = {};
    for (; d + lane_count <= d1; d += lane_count) {
        for (int b = 1; b < R; b++) {
            const int at = (b - 1) * rot_stride + d - d0;
            for (int l = 0; l < lane_count; l++) {
                lanes_re[b].v[l] = rot_re[at + l];
                lanes_im[b].v[l] = rot_im[at + l];
            }
        }
        if (d == 0)
            fft_fixed_lanes<R, true>(lanes_re, lanes_im, S, M, stride, y_re, y_im);
        else
            fft_fixed_lanes<R, false>(lanes_re, lanes_im, S, M, stride, y_re + d, y_im + d);
    }
    double one_re[std::size_t{R}], one_im[std::size_t{R}];
    for (; d < d1; d++) {
        if (d == 0) {
            fft_fixed_position<R>(nullptr, nullptr, S, M, stride, y_re, y_im);
            continue;
        }
        for (int b = 1; b < R; b++) {
            one_re[b] = rot_re[(b - 1) * rot_stride + d - d0];
            one_im[b] = rot_im[(b - 1) * rot_stride + d - d0];
        }
        fft_fixed_position<R>(one_re, one_im, S, M, stride, y_re + d, y_im + d);
    }
}

// The positions of a stage in the form fft_fixed_positions reads them, d0 .. d0 + count - 1,
// continuing the stage's running rotation.
void fft_fill_rotations(int R, fft_turn &turn, int count, int rot_stride, double *rot_re,
                        double *rot_im) {
    double powers_re[max_dedicated_radix], powers_im[max_dedicated_radix];
    for (int i = 0; i < count; i++) {
        turn.powers(R, powers_re, powers_im);
        turn.advance();
        for (int b = 1; b < R; b++) {
            rot_re[(b - 1) * rot_stride + i] = powers_re[b];
            rot_im[(b - 1) * rot_stride + i] = powers_im[b];
        }
    }
}

// The reordering and stage 1 in one pass, when stage 1 has a dedicated radix and the last stage's
// radix is a multiple of the lane count. Stage 1 rotates nothing (S = 1), so its butterflies can
// take their values straight from the input. Groups that differ only in the last digit read
// neighbouring inputs (that digit has weight 1 in the input index), so they go side by side.
// Their outputs lie span[K] apart, usually in one cache set: each lane's outputs for every value
// of digit 2 are gathered first, so that they go out as one contiguous run.
template <int R>
void fft_reorder_first_stage(int N, const fft_stages &st, const double *in_re, const double *in_im,
                             double *out_re, double *out_im) {
    const int K = st.count, last = st.radix[K];
    const int inner = K >= 3 ? st.radix[2] : 1; // values of digit 2 gathered per run
    const int q_first = st.rest[1], q_inner = st.rest[2], p_last = st.span[K];
    const int run = R * inner;
    double run_re[lane_count][std::size_t{R * 10}], run_im[lane_count][std::size_t{R * 10}];
    int digit[stage_table_size] = {};
    int p_base = 0, q_base = 0;
    fft_lanes z_re[std::size_t{R}], z_im[std::size_t{R}];
    for (int tile = N / (run * last); tile > 0; tile--) {
        for (int l0 = 0; l0 < last; l0 += lane_count) {
            for (int c = 0; c < inner; c++) {
                const int q = q_base + c * q_inner + l0;
                for (int b = 0; b < R; b++) {
                    for (int l = 0; l < lane_count; l++) {
                        z_re[b].v[l] = in_re[q + b * q_first + l];
                        z_im[b].v[l] = in_im[q + b * q_first + l];
                    }
                }
                fft_butterfly<R>(z_re, z_im);
                for (int b = 0; b < R; b++) {
                    for (int l = 0; l < lane_count; l++) {
                        run_re[l][c * R + b] = z_re[b].v[l];
                        run_im[l][c * R + b] = z_im[b].v[l];
                    }
                }
            }
            for (int l = 0; l < lane_count; l++) {
                double *o_re = out_re + p_base + (l0 + l) * p_last;
                double *o_im = out_im + p_base + (l0 + l) * p_last;
                // By whole butterflies: a copy of run-time length would become a library call.
                for (int i = 0; i < run; i += R) {
                    for (int b = 0; b < R; b++) {
                        o_re[i + b] = run_re[l][i + b];
                        o_im[i + b] = run_im[l][i + b];
                    }
                }
            }
        }
        for (int j = 3; j < K; j++) {
            p_base += st.span[j];
            q_base += st.rest[j];
            if (++digit[j] < st.radix[j])
                break;
            digit[j] = 0;
            p_base -= st.span[j] * st.radix[j];
            q_base -= st.rest[j] * st.radix[j];
        }
    }
}

using fft_fixed_unit =
    simd_builds<void(int, int, const double *, const double *, int, int, int, double *, double *)>;
using fft_fixed_kernel = fft_fixed_unit::pointer;

template <int R> fft_fixed_kernel fft_fixed_for(simd_level level) {
    return fft_fixed_unit::for_level<fft_fixed_positions<R>>(level);
}

fft_fixed_kernel fft_fixed_kernel_for(int R, simd_level level) {
    switch (R) {
    case 2:
        return fft_fixed_for<2>(level);
    case 3:
        return fft_fixed_for<3>(level);
    case 4:
        return fft_fixed_for<4>(level);
    case 5:
        return fft_fixed_for<5>(level);
    case 8:
        return fft_fixed_for<8>(level);
    case 10:
        return fft_fixed_for<10>(level);
    default:
        return nullptr;
    }
}

using fft_first_unit =
    simd_builds<void(int, const fft_stages &, const double *, const double *, double *, double *)>;
using fft_first_kernel = fft_first_unit::pointer;

template <int R> fft_first_kernel fft_first_for(simd_level level) {
    return fft_first_unit::for_level<fft_reorder_first_stage<R>>(level);
}

// The fused first pass for this plan, or null when the plan does not allow it.
fft_first_kernel fft_first_kernel_for(const fft_stages &st, simd_level level) {
    if (st.count < 2 || st.radix[st.count] % lane_count != 0)
        return nullptr;
    switch (st.radix[1]) {
    case 4:
        return fft_first_for<4>(level);
    case 8:
        return fft_first_for<8>(level);
    default:
        return nullptr;
    }
}

// Rotations of every dedicated stage of one length, kept from call to call: the transform of a
// capture runs twice per event, and the capture length changes only with the block size. They
// are made by exactly the running rotation and powers a stage would compute, in the same order.
fft_turn fft_stage_turn(int S, int R) {
    const double omega = 2 * fft_pi() / (S * R);
    return fft_turn{std::cos(omega), -std::sin(omega)};
}

// Fills the cache for N, if N fits; the rows of a stage of S positions and radix R take
// S * (R - 1) entries, N - 1 over all stages.
bool fft_cache_rotations(fft_workspace &ws, int N, const fft_stages &st) {
    if (N > fft_rotation_cache_max)
        return false;
    if (ws.cached_length == N)
        return true;
    int used = 0;
    for (int i = 1; i <= st.count; i++) {
        const int S = st.span[i], R = st.radix[i];
        ws.cached_offset[i] = used;
        if (R <= max_dedicated_radix) {
            fft_turn turn = fft_stage_turn(S, R);
            fft_fill_rotations(R, turn, S, S, ws.cached_re + used, ws.cached_im + used);
        }
        used += S * (R - 1);
    }
    ws.cached_length = N;
    return true;
}

// A stage of any other radix (an odd prime from 7 up, or 1), through the workspace's vector.
void fft_run_general_stage(fft_workspace &ws, int S, int R, int M, fft_turn turn, double *y_re,
                           double *y_im) {
    double *fft_work_re = ws.work_re, *fft_work_im = ws.work_im;
    double *fft_rot_re = ws.rot_re, *fft_rot_im = ws.rot_im;
    // Only this butterfly reads the root table, so only its stages build it.
    fft_make_roots(ws, R);
    const int stride = S * R;
    for (int d = 0; d < S; d++) {
        if (S > 1) {
            turn.powers(R, fft_rot_re, fft_rot_im);
            turn.advance();
        }
        for (int g = 0; g < M; g++) {
            double *x_re = y_re + d + g * stride, *x_im = y_im + d + g * stride;
            fft_work_re[0] = x_re[0];
            fft_work_im[0] = x_im[0];
            for (int b = 1; b < R; b++) {
                const double re = x_re[b * S], im = x_im[b * S];
                if (d > 0) {
                    fft_work_re[b] = fft_rot_re[b] * re - fft_rot_im[b] * im;
                    fft_work_im[b] = fft_rot_im[b] * re + fft_rot_re[b] * im;
                } else {
                    fft_work_re[b] = re;
                    fft_work_im[b] = im;
                }
            }
            fft_butterfly_general(ws, R);
            for (int b = 0; b < R; b++) {
                x_re[b * S] = fft_work_re[b];
                x_im[b * S] = fft_work_im[b];
            }
        }
    }
}

// S: product of the earlier stages' radices; R: this stage's radix; M: groups (N / (S * R)).
// cached: this stage's rotations, or null to make them here.
void fft_run_stage(simd_level level, fft_workspace &ws, int S, int R, int M,
                   const double *cached_re, const double *cached_im, double *y_re, double *y_im) {
    const fft_fixed_kernel kernel = fft_fixed_kernel_for(R, level);
    if (kernel == nullptr)
        return fft_run_general_stage(ws, S, R, M, fft_stage_turn(S, R), y_re, y_im);
    // Without cached rotations they are made a bounded chunk of positions at a time.
    double *chunk_rot_re = ws.chunk_re, *chunk_rot_im = ws.chunk_im;
    if (cached_re != nullptr)
        return kernel(S, M, cached_re, cached_im, S, 0, S, y_re, y_im);
    fft_turn turn = fft_stage_turn(S, R);
    for (int d0 = 0; d0 < S; d0 += rotation_chunk) {
        const int count = S - d0 < rotation_chunk ? S - d0 : rotation_chunk;
        fft_fill_rotations(R, turn, count, rotation_chunk, chunk_rot_re, chunk_rot_im);
        kernel(S, M, chunk_rot_re, chunk_rot_im, rotation_chunk, d0, d0 + count, y_re, y_im);
    }
}

} // namespace

void fft_transform_on(simd_level level, fft_workspace &ws, int N, const double *in_re,
                      const double *in_im, double *out_re, double *out_im) {
    if (N < 1)
        return;
    fft_stages st;
    fft_plan_stages(N, st);
    const bool cached = fft_cache_rotations(ws, N, st);
    int first_stage = 1;
    if (const fft_first_kernel first = fft_first_kernel_for(st, level)) {
        first(N, st, in_re, in_im, out_re, out_im);
        first_stage = 2;
    } else {
        fft_reorder_input(N, st, in_re, in_im, out_re, out_im);
    }
    for (int i = first_stage; i <= st.count; i++) {
        const int at = cached ? ws.cached_offset[i] : 0;
        fft_run_stage(level, ws, st.span[i], st.radix[i], st.rest[i],
                      cached ? ws.cached_re + at : nullptr, cached ? ws.cached_im + at : nullptr,
                      out_re, out_im);
    }
}

void fft_transform(fft_workspace &ws, int N, const double *in_re, const double *in_im,
                   double *out_re, double *out_im) {
    fft_transform_on(simd_level_available(), ws, N, in_re, in_im, out_re, out_im);
}

fft_arrays fft_arrays_in(double *block, int N) {
    const auto misalign = reinterpret_cast<std::uintptr_t>(block) % 64;
    double *a = block + (misalign == 0 ? 0 : (64 - misalign) / sizeof(double));
    const int step = (N + 7) / 8 * 8 + fft_arrays_gap;
    return {a, a + step, a + 2 * step, a + 3 * step};
}

} // namespace dsp
