#include "fft.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace dsp {
namespace {

// Stage tables are indexed by stage 1..K; entry 0 of fft_rest holds N.
constexpr int stage_table_size = fft_max_stages + 1;
constexpr int pair_table_size = (maxPrimeFactor + 1) / 2;

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

// Output position p, written in the stages' mixed radix (digit 1 least significant), reads input
// q = sum of digit_j * rest[j]: one counter per digit, carried like an odometer.
void fft_reorder_input(int N, const fft_stages &st, const double *in_re, const double *in_im,
                       double *out_re, double *out_im) {
    int digit[stage_table_size + 1] = {};
    int q = 0;
    for (int p = 0; p < N - 1; p++) {
        out_re[p] = in_re[q];
        out_im[p] = in_im[q];
        q += st.rest[1];
        digit[1]++;
        // p + 1 <= N - 1 has every digit below its radix at the top, so j stays <= count - 1.
        for (int j = 1; digit[j] >= st.radix[j]; j++) {
            digit[j] = 0;
            q += st.rest[j + 1] - st.rest[j - 1];
            digit[j + 1]++;
        }
    }
    out_re[N - 1] = in_re[N - 1];
    out_im[N - 1] = in_im[N - 1];
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

// Radix 2 and 3 are written out here as the other fixed butterflies are: each replaces
// re/im[0..R-1] by its R-point forward DFT, in place.
inline void fft_butterfly2(double *re, double *im) {
    const double z0_re = re[0], z0_im = im[0];
    re[0] = z0_re + re[1];
    im[0] = z0_im + im[1];
    re[1] = z0_re - re[1];
    im[1] = z0_im - im[1];
}

inline void fft_butterfly3(double *re, double *im) {
    const double t1_re = re[1] + re[2], t1_im = im[1] + im[2];
    re[0] = re[0] + t1_re;
    im[0] = im[0] + t1_im;
    const double m1_re = r3_cos_m1 * t1_re, m1_im = r3_cos_m1 * t1_im;
    const double m2_re = r3_sin * (im[1] - im[2]);
    const double m2_im = r3_sin * (re[2] - re[1]);
    const double s1_re = re[0] + m1_re, s1_im = im[0] + m1_im;
    re[1] = s1_re + m2_re;
    im[1] = s1_im + m2_im;
    re[2] = s1_re - m2_re;
    im[2] = s1_im - m2_im;
}

inline void fft_butterfly4(double *re, double *im) {
    const double t1_re = re[0] + re[2], t1_im = im[0] + im[2];
    const double t2_re = re[1] + re[3], t2_im = im[1] + im[3];
    const double m2_re = re[0] - re[2], m2_im = im[0] - im[2];
    const double m3_re = im[1] - im[3], m3_im = re[3] - re[1];
    re[0] = t1_re + t2_re;
    im[0] = t1_im + t2_im;
    re[2] = t1_re - t2_re;
    im[2] = t1_im - t2_im;
    re[1] = m2_re + m3_re;
    im[1] = m2_im + m3_im;
    re[3] = m2_re - m3_re;
    im[3] = m2_im - m3_im;
}

inline void fft_butterfly5(double *re, double *im) {
    const double t1_re = re[1] + re[4], t1_im = im[1] + im[4];
    const double t2_re = re[2] + re[3], t2_im = im[2] + im[3];
    const double t3_re = re[1] - re[4], t3_im = im[1] - im[4];
    const double t4_re = re[3] - re[2], t4_im = im[3] - im[2];
    const double t5_re = t1_re + t2_re, t5_im = t1_im + t2_im;
    re[0] = re[0] + t5_re;
    im[0] = im[0] + t5_im;
    const double m1_re = r5_cos_mean_m1 * t5_re, m1_im = r5_cos_mean_m1 * t5_im;
    const double m2_re = r5_cos_half_dif * (t1_re - t2_re);
    const double m2_im = r5_cos_half_dif * (t1_im - t2_im);
    const double m3_re = -r5_sin_neg * (t3_im + t4_im), m3_im = r5_sin_neg * (t3_re + t4_re);
    const double m4_re = -r5_sin_sum_neg * t4_im, m4_im = r5_sin_sum_neg * t4_re;
    const double m5_re = -r5_sin_dif * t3_im, m5_im = r5_sin_dif * t3_re;
    const double s3_re = m3_re - m4_re, s3_im = m3_im - m4_im;
    const double s5_re = m3_re + m5_re, s5_im = m3_im + m5_im;
    const double s1_re = re[0] + m1_re, s1_im = im[0] + m1_im;
    const double s2_re = s1_re + m2_re, s2_im = s1_im + m2_im;
    const double s4_re = s1_re - m2_re, s4_im = s1_im - m2_im;
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
inline void fft_butterfly8(double *re, double *im) {
    double a_re[4], a_im[4], b_re[4], b_im[4];
    for (int k = 0; k < 4; k++) {
        a_re[k] = re[2 * k];
        a_im[k] = im[2 * k];
        b_re[k] = re[2 * k + 1];
        b_im[k] = im[2 * k + 1];
    }
    fft_butterfly4(a_re, a_im);
    fft_butterfly4(b_re, b_im);
    double b_re_k = b_re[1], b_im_k = b_im[1];
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
inline void fft_butterfly10(double *re, double *im) {
    static constexpr int a_from[5] = {0, 2, 4, 6, 8};
    static constexpr int b_from[5] = {5, 7, 9, 1, 3};
    static constexpr int sum_to[5] = {0, 6, 2, 8, 4};
    static constexpr int dif_to[5] = {5, 1, 7, 3, 9};
    double a_re[5], a_im[5], b_re[5], b_im[5];
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

// A stage of a radix with a dedicated butterfly: the R values of a group stay in locals.
template <int R, void (*Butterfly)(double *, double *)>
void fft_run_fixed_stage(int S, int M, fft_turn turn, double *y_re, double *y_im) {
    const int stride = S * R;
    double z_re[std::size_t{R}], z_im[std::size_t{R}];
    for (int g = 0; g < M; g++) {
        double *x_re = y_re + g * stride, *x_im = y_im + g * stride;
        for (int b = 0; b < R; b++) {
            z_re[b] = x_re[b * S];
            z_im[b] = x_im[b * S];
        }
        Butterfly(z_re, z_im);
        for (int b = 0; b < R; b++) {
            x_re[b * S] = z_re[b];
            x_im[b * S] = z_im[b];
        }
    }
    if (S == 1)
        return;
    turn.advance();
    double rot_re[std::size_t{R}], rot_im[std::size_t{R}];
    for (int d = 1; d < S; d++) {
        turn.powers(R, rot_re, rot_im);
        turn.advance();
        for (int g = 0; g < M; g++) {
            double *x_re = y_re + d + g * stride, *x_im = y_im + d + g * stride;
            z_re[0] = x_re[0];
            z_im[0] = x_im[0];
            for (int b = 1; b < R; b++) {
                const double re = x_re[b * S], im = x_im[b * S];
                z_re[b] = rot_re[b] * re - rot_im[b] * im;
                z_im[b] = rot_im[b] * re + rot_re[b] * im;
            }
            Butterfly(z_re, z_im);
            for (int b = 0; b < R; b++) {
                x_re[b * S] = z_re[b];
                x_im[b * S] = z_im[b];
            }
        }
    }
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
void fft_run_stage(int S, int R, int M, double *y_re, double *y_im) {
    const double omega = 2 * pi / (S * R);
    const fft_turn turn{std::cos(omega), -std::sin(omega)};
    switch (R) {
    case 2:
        return fft_run_fixed_stage<2, fft_butterfly2>(S, M, turn, y_re, y_im);
    case 3:
        return fft_run_fixed_stage<3, fft_butterfly3>(S, M, turn, y_re, y_im);
    case 4:
        return fft_run_fixed_stage<4, fft_butterfly4>(S, M, turn, y_re, y_im);
    case 5:
        return fft_run_fixed_stage<5, fft_butterfly5>(S, M, turn, y_re, y_im);
    case 8:
        return fft_run_fixed_stage<8, fft_butterfly8>(S, M, turn, y_re, y_im);
    case 10:
        return fft_run_fixed_stage<10, fft_butterfly10>(S, M, turn, y_re, y_im);
    default:
        return fft_run_general_stage(S, R, M, turn, y_re, y_im);
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

void fft_transform(int N, const double *in_re, const double *in_im, double *out_re,
                   double *out_im) {
    if (N < 1)
        return;
    pi = 4 * std::atan(1.0);
    fft_stages st;
    fft_plan_stages(N, st);
    fft_reorder_input(N, st, in_re, in_im, out_re, out_im);
    for (int i = 1; i <= st.count; i++)
        fft_run_stage(st.span[i], st.radix[i], st.rest[i], out_re, out_im);
}

} // namespace dsp
