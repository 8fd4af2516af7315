#include "fft.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace dsp {
namespace {

// Stage tables are indexed by stage 1..K; entry 0 of fft_rest holds N.
constexpr int stage_table_size = fft_max_stages + 1;
constexpr int pair_table_size = (maxPrimeFactor + 1) / 2;
constexpr int maxDedicatedRadix = 10;

// Butterfly constants, kept at the 14 significant digits the results are defined with.
constexpr double r3_cos_m1 = -1.5;
constexpr double r3_sin = 0.86602540378444;
constexpr double r5_cos_mean_m1 = -1.25;
constexpr double r5_cos_half_dif = 0.55901699437495;
constexpr double r5_sin_neg = -0.95105651629515;
constexpr double r5_sin_sum_neg = -1.5388417685876;
constexpr double r5_sin_dif = 0.36327126400268;
constexpr double r8_root_half = 0.70710678118655;

// Work storage shared by every call: nothing here carries from one call to the next.
double fft_work_re[maxPrimeFactor], fft_work_im[maxPrimeFactor];
double fft_root_re[maxPrimeFactor], fft_root_im[maxPrimeFactor];
double fft_rot_re[maxPrimeFactor], fft_rot_im[maxPrimeFactor];
double fft_sum_re[pair_table_size], fft_dif_im[pair_table_size];
double fft_dif_re[pair_table_size], fft_sum_im[pair_table_size];
double pi;

struct fft_stages {
    int count;
    int radix[stage_table_size];
    int span[stage_table_size];
    int rest[stage_table_size];
};

void fft_plan_stages(int N, fft_stages &st) {
    st.count = fft_split_length(N, st.radix + 1);
    if (st.radix[1] > maxPrimeFactor) {
        std::printf("\nPrime factor of FFT length too large : %6d", st.radix[1]);
        std::printf("\nPlease modify the value of maxPrimeFactor in the FFT module");
        std::exit(1);
    }
    st.rest[0] = N;
    st.span[1] = 1;
    st.rest[1] = N / st.radix[1];
    for (int i = 2; i <= st.count; i++) {
        st.span[i] = st.span[i - 1] * st.radix[i - 1];
        st.rest[i] = st.rest[i - 1] / st.radix[i];
    }
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

void fft_make_roots(int R) {
    const double w = 2 * pi / R;
    fft_root_re[0] = 1;
    fft_root_im[0] = 0;
    fft_root_re[1] = std::cos(w);
    fft_root_im[1] = -std::sin(w);
    for (int k = 2; k < R; k++) {
        fft_root_re[k] = fft_root_re[1] * fft_root_re[k - 1] - fft_root_im[1] * fft_root_im[k - 1];
        fft_root_im[k] = fft_root_im[1] * fft_root_re[k - 1] + fft_root_re[1] * fft_root_im[k - 1];
    }
}

// Several neighbouring data positions of one stage, side by side. Each operation applies element
// by element, so every position gets exactly the operations it would get alone.
constexpr int lane_count = 8;
struct fft_lanes {
    double v[lane_count];
};
inline fft_lanes operator+(const fft_lanes &a, const fft_lanes &b) {
    fft_lanes r;
    for (int l = 0; l < lane_count; l++)
        r.v[l] = a.v[l] + b.v[l];
    return r;
}
inline fft_lanes operator-(const fft_lanes &a, const fft_lanes &b) {
    fft_lanes r;
    for (int l = 0; l < lane_count; l++)
        r.v[l] = a.v[l] - b.v[l];
    return r;
}
inline fft_lanes operator*(const fft_lanes &a, const fft_lanes &b) {
    fft_lanes r;
    for (int l = 0; l < lane_count; l++)
        r.v[l] = a.v[l] * b.v[l];
    return r;
}
inline fft_lanes operator*(double c, const fft_lanes &b) {
    fft_lanes r;
    for (int l = 0; l < lane_count; l++)
        r.v[l] = c * b.v[l];
    return r;
}
inline fft_lanes operator-(const fft_lanes &a) {
    fft_lanes r;
    for (int l = 0; l < lane_count; l++)
        r.v[l] = -a.v[l];
    return r;
}

// The dedicated butterflies replace re/im[0..R-1] by their R-point forward DFT, in place. T is a
// double, or fft_lanes: the same operations on several data positions side by side.
template <class T> inline void fft_butterfly2(T *re, T *im) {
    const T z0_re = re[0], z0_im = im[0];
    re[0] = z0_re + re[1];
    im[0] = z0_im + im[1];
    re[1] = z0_re - re[1];
    im[1] = z0_im - im[1];
}

template <class T> inline void fft_butterfly3(T *re, T *im) {
    const T t1_re = re[1] + re[2], t1_im = im[1] + im[2];
    re[0] = re[0] + t1_re;
    im[0] = im[0] + t1_im;
    const T m1_re = r3_cos_m1 * t1_re, m1_im = r3_cos_m1 * t1_im;
    const T m2_re = r3_sin * (im[1] - im[2]);
    const T m2_im = r3_sin * (re[2] - re[1]);
    const T s1_re = re[0] + m1_re, s1_im = im[0] + m1_im;
    re[1] = s1_re + m2_re;
    im[1] = s1_im + m2_im;
    re[2] = s1_re - m2_re;
    im[2] = s1_im - m2_im;
}

template <class T> inline void fft_butterfly4(T *re, T *im) {
    const T t1_re = re[0] + re[2], t1_im = im[0] + im[2];
    const T t2_re = re[1] + re[3], t2_im = im[1] + im[3];
    const T m2_re = re[0] - re[2], m2_im = im[0] - im[2];
    const T m3_re = im[1] - im[3], m3_im = re[3] - re[1];
    re[0] = t1_re + t2_re;
    im[0] = t1_im + t2_im;
    re[2] = t1_re - t2_re;
    im[2] = t1_im - t2_im;
    re[1] = m2_re + m3_re;
    im[1] = m2_im + m3_im;
    re[3] = m2_re - m3_re;
    im[3] = m2_im - m3_im;
}

template <class T> inline void fft_butterfly5(T *re, T *im) {
    const T t1_re = re[1] + re[4], t1_im = im[1] + im[4];
    const T t2_re = re[2] + re[3], t2_im = im[2] + im[3];
    const T t3_re = re[1] - re[4], t3_im = im[1] - im[4];
    const T t4_re = re[3] - re[2], t4_im = im[3] - im[2];
    const T t5_re = t1_re + t2_re, t5_im = t1_im + t2_im;
    re[0] = re[0] + t5_re;
    im[0] = im[0] + t5_im;
    const T m1_re = r5_cos_mean_m1 * t5_re, m1_im = r5_cos_mean_m1 * t5_im;
    const T m2_re = r5_cos_half_dif * (t1_re - t2_re);
    const T m2_im = r5_cos_half_dif * (t1_im - t2_im);
    const T m3_re = -r5_sin_neg * (t3_im + t4_im), m3_im = r5_sin_neg * (t3_re + t4_re);
    const T m4_re = -r5_sin_sum_neg * t4_im, m4_im = r5_sin_sum_neg * t4_re;
    const T m5_re = -r5_sin_dif * t3_im, m5_im = r5_sin_dif * t3_re;
    const T s3_re = m3_re - m4_re, s3_im = m3_im - m4_im;
    const T s5_re = m3_re + m5_re, s5_im = m3_im + m5_im;
    const T s1_re = re[0] + m1_re, s1_im = im[0] + m1_im;
    const T s2_re = s1_re + m2_re, s2_im = s1_im + m2_im;
    const T s4_re = s1_re - m2_re, s4_im = s1_im - m2_im;
    re[1] = s2_re + s3_re;
    im[1] = s2_im + s3_im;
    re[2] = s4_re + s5_re;
    im[2] = s4_im + s5_im;
    re[3] = s4_re - s5_re;
    im[3] = s4_im - s5_im;
    re[4] = s2_re - s3_re;
    im[4] = s2_im - s3_im;
}

// Two radix-4 halves; the odd half is rotated by multiples of 45 degrees before they are joined.
template <class T> inline void fft_butterfly8(T *re, T *im) {
    T a_re[4], a_im[4], b_re[4], b_im[4];
    for (int k = 0; k < 4; k++) {
        a_re[k] = re[2 * k];
        a_im[k] = im[2 * k];
        b_re[k] = re[2 * k + 1];
        b_im[k] = im[2 * k + 1];
    }
    fft_butterfly4(a_re, a_im);
    fft_butterfly4(b_re, b_im);
    T b_re_k = b_re[1], b_im_k = b_im[1];
    b_re[1] = r8_root_half * (b_re_k + b_im_k);
    b_im[1] = r8_root_half * (b_im_k - b_re_k);
    b_re_k = b_re[2];
    b_im_k = b_im[2];
    b_re[2] = b_im_k;
    b_im[2] = -b_re_k;
    b_re_k = b_re[3];
    b_im_k = b_im[3];
    b_re[3] = r8_root_half * (b_im_k - b_re_k);
    b_im[3] = -r8_root_half * (b_re_k + b_im_k);
    for (int k = 0; k < 4; k++) {
        re[k] = a_re[k] + b_re[k];
        im[k] = a_im[k] + b_im[k];
        re[k + 4] = a_re[k] - b_re[k];
        im[k + 4] = a_im[k] - b_im[k];
    }
}

// Prime-factor (Good-Thomas) mapping: 10 = 2 * 5 with coprime factors needs no rotation.
template <class T> inline void fft_butterfly10(T *re, T *im) {
    static constexpr int a_from[5] = {0, 2, 4, 6, 8};
    static constexpr int b_from[5] = {5, 7, 9, 1, 3};
    static constexpr int sum_to[5] = {0, 6, 2, 8, 4};
    static constexpr int dif_to[5] = {5, 1, 7, 3, 9};
    T a_re[5], a_im[5], b_re[5], b_im[5];
    for (int k = 0; k < 5; k++) {
        a_re[k] = re[a_from[k]];
        a_im[k] = im[a_from[k]];
        b_re[k] = re[b_from[k]];
        b_im[k] = im[b_from[k]];
    }
    fft_butterfly5(a_re, a_im);
    fft_butterfly5(b_re, b_im);
    for (int k = 0; k < 5; k++) {
        re[sum_to[k]] = a_re[k] + b_re[k];
        im[sum_to[k]] = a_im[k] + b_im[k];
        re[dif_to[k]] = a_re[k] - b_re[k];
        im[dif_to[k]] = a_im[k] - b_im[k];
    }
}

// Odd prime radix on the work vector: outputs j and R - j share the sums and differences of
// inputs j and R - j. R = 1 (N = 1) does nothing.
void fft_butterfly_general(int R) {
    const int h = (R + 1) / 2;
    double *z_re = fft_work_re, *z_im = fft_work_im;
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

template <int R, class T> inline void fft_butterfly(T *re, T *im) {
    if constexpr (R == 2)
        fft_butterfly2(re, im);
    else if constexpr (R == 3)
        fft_butterfly3(re, im);
    else if constexpr (R == 4)
        fft_butterfly4(re, im);
    else if constexpr (R == 5)
        fft_butterfly5(re, im);
    else if constexpr (R == 8)
        fft_butterfly8(re, im);
    else
        fft_butterfly10(re, im);
}

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
    double powers_re[maxDedicatedRadix], powers_im[maxDedicatedRadix];
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

// A kernel built for each vector unit: the same operations element by element, only the register
// width changes. flatten inlines the kernel and everything it calls into each build.
template <class Signature> struct fft_on_unit;
template <class... Args> struct fft_on_unit<void(Args...)> {
    using pointer = void (*)(Args...);

    template <pointer kernel> [[gnu::flatten]] static void baseline(Args... args) {
        kernel(args...);
    }
#if defined(__x86_64__)
    template <pointer kernel> [[gnu::flatten, gnu::target("avx2")]] static void avx2(Args... args) {
        kernel(args...);
    }
    template <pointer kernel>
    [[gnu::flatten, gnu::target("avx512f")]] static void avx512(Args... args) {
        kernel(args...);
    }
#endif

    template <pointer kernel> static pointer build_for(simd_level level) {
        switch (level) {
#if defined(__x86_64__)
        case simd_level::avx512:
            return avx512<kernel>;
        case simd_level::avx2:
            return avx2<kernel>;
#else
        default:
#endif
        case simd_level::baseline:
            break;
        }
        return baseline<kernel>;
    }
};

using fft_fixed_unit =
    fft_on_unit<void(int, int, const double *, const double *, int, int, int, double *, double *)>;
using fft_fixed_kernel = fft_fixed_unit::pointer;

template <int R> fft_fixed_kernel fft_fixed_for(simd_level level) {
    return fft_fixed_unit::build_for<fft_fixed_positions<R>>(level);
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
    fft_on_unit<void(int, const fft_stages &, const double *, const double *, double *, double *)>;
using fft_first_kernel = fft_first_unit::pointer;

template <int R> fft_first_kernel fft_first_for(simd_level level) {
    return fft_first_unit::build_for<fft_reorder_first_stage<R>>(level);
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
constexpr int rotation_cache_max = 8192;
struct fft_rotation_cache {
    int N = 0;
    int offset[stage_table_size];
    double re[rotation_cache_max], im[rotation_cache_max];
};
fft_rotation_cache rotation_cache;

// Longer transforms make their rotations a bounded chunk of positions at a time.
constexpr int rotation_chunk = 256;
double chunk_rot_re[(maxDedicatedRadix - 1) * rotation_chunk];
double chunk_rot_im[(maxDedicatedRadix - 1) * rotation_chunk];

fft_turn fft_stage_turn(int S, int R) {
    const double omega = 2 * pi / (S * R);
    return fft_turn{std::cos(omega), -std::sin(omega)};
}

// Fills the cache for N, if N fits; the rows of a stage of S positions and radix R take
// S * (R - 1) entries, N - 1 over all stages.
bool fft_cache_rotations(int N, const fft_stages &st) {
    if (N > rotation_cache_max)
        return false;
    if (rotation_cache.N == N)
        return true;
    int used = 0;
    for (int i = 1; i <= st.count; i++) {
        const int S = st.span[i], R = st.radix[i];
        rotation_cache.offset[i] = used;
        if (R <= maxDedicatedRadix) {
            fft_turn turn = fft_stage_turn(S, R);
            fft_fill_rotations(R, turn, S, S, rotation_cache.re + used, rotation_cache.im + used);
        }
        used += S * (R - 1);
    }
    rotation_cache.N = N;
    return true;
}

// A stage of any other radix (an odd prime from 7 up, or 1), through the static work vector.
void fft_run_general_stage(int S, int R, int M, fft_turn turn, double *y_re, double *y_im) {
    // Only this butterfly reads the root table, so only its stages build it.
    fft_make_roots(R);
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
            fft_butterfly_general(R);
            for (int b = 0; b < R; b++) {
                x_re[b * S] = fft_work_re[b];
                x_im[b * S] = fft_work_im[b];
            }
        }
    }
}

// S: product of the earlier stages' radices; R: this stage's radix; M: groups (N / (S * R)).
// cached: this stage's rotations, or null to make them here.
void fft_run_stage(simd_level level, int S, int R, int M, const double *cached_re,
                   const double *cached_im, double *y_re, double *y_im) {
    const fft_fixed_kernel kernel = fft_fixed_kernel_for(R, level);
    if (kernel == nullptr)
        return fft_run_general_stage(S, R, M, fft_stage_turn(S, R), y_re, y_im);
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

int fft_split_length(int N, int *radices) {
    if (N == 1) {
        radices[0] = 1;
        return 1;
    }
    static constexpr int table[] = {10, 8, 5, 4, 3, 2};
    int count = 0;
    int m = N;
    for (int entry = 0; m > 1 && entry < 6;) {
        if (m % table[entry] == 0) {
            radices[count++] = table[entry];
            m /= table[entry];
        } else {
            entry++;
        }
    }
    // A trailing 2 after an 8 becomes 4 * 4: one stage fewer for lengths such as 16 and 8192.
    if (count > 0 && radices[count - 1] == 2) {
        for (int j = count - 2; j >= 0; j--) {
            if (radices[j] == 8) {
                radices[j] = 4;
                radices[count - 1] = 4;
                break;
            }
        }
    }
    for (int k = 2; k < std::sqrt(m) + 1; k++) {
        while (m % k == 0) {
            radices[count++] = k;
            m /= k;
        }
    }
    if (m > 1)
        radices[count++] = m;
    // The last radix found runs first, so a radix above 10 is always stage 1.
    for (int i = 0, j = count - 1; i < j; i++, j--) {
        const int swap = radices[i];
        radices[i] = radices[j];
        radices[j] = swap;
    }
    return count;
}

void fft_transform_on(simd_level level, int N, const double *in_re, const double *in_im,
                      double *out_re, double *out_im) {
    if (N < 1)
        return;
    pi = 4 * std::atan(1.0);
    fft_stages st;
    fft_plan_stages(N, st);
    const bool cached = fft_cache_rotations(N, st);
    int first_stage = 1;
    if (const fft_first_kernel first = fft_first_kernel_for(st, level)) {
        first(N, st, in_re, in_im, out_re, out_im);
        first_stage = 2;
    } else {
        fft_reorder_input(N, st, in_re, in_im, out_re, out_im);
    }
    for (int i = first_stage; i <= st.count; i++) {
        const int at = cached ? rotation_cache.offset[i] : 0;
        fft_run_stage(level, st.span[i], st.radix[i], st.rest[i],
                      cached ? rotation_cache.re + at : nullptr,
                      cached ? rotation_cache.im + at : nullptr, out_re, out_im);
    }
}

void fft_transform(int N, const double *in_re, const double *in_im, double *out_re,
                   double *out_im) {
    fft_transform_on(simd_level_available(), N, in_re, in_im, out_re, out_im);
}

fft_arrays fft_arrays_in(double *block, int N) {
    const auto misalign = reinterpret_cast<std::uintptr_t>(block) % 64;
    double *a = block + (misalign == 0 ? 0 : (64 - misalign) / sizeof(double));
    const int step = (N + 7) / 8 * 8 + fft_arrays_gap;
    return {a, a + step, a + 2 * step, a + 3 * step};
}

bool fft_length_supported(int N) {
    int radices[fft_max_stages];
    // Stage 1 holds the largest radix whenever one above 10 is present.
    return fft_split_length(N, radices) > 0 && radices[0] <= maxPrimeFactor;
}

} // namespace dsp
