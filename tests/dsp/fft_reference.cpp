#include "fft_reference.h"

#include <cmath>

namespace fft_reference {
namespace {

constexpr int maxPrimeFactor = 1024;
constexpr int maxPrimeFactorDiv2 = (maxPrimeFactor + 1) / 2;

constexpr double r3_cos_m1 = -1.5;
constexpr double r3_sin = 0.86602540378444;
constexpr double r5_cos_mean_m1 = -1.25;
constexpr double r5_cos_half_dif = 0.55901699437495;
constexpr double r5_sin_neg = -0.95105651629515;
constexpr double r5_sin_sum_neg = -1.5388417685876;
constexpr double r5_sin_dif = 0.36327126400268;
constexpr double r8_root_half = 0.70710678118655;

double fft_work_re[maxPrimeFactor], fft_work_im[maxPrimeFactor];
double fft_root_re[maxPrimeFactor], fft_root_im[maxPrimeFactor];
double fft_rot_re[maxPrimeFactor], fft_rot_im[maxPrimeFactor];
double fft_sum_re[maxPrimeFactorDiv2], fft_dif_im[maxPrimeFactorDiv2];
double fft_dif_re[maxPrimeFactorDiv2], fft_sum_im[maxPrimeFactorDiv2];
double pi;

int fft_radix[20], fft_span[20], fft_rest[20];
int stage_count;

void fft_split_length(int N) {
    int found[20];
    int count = 0;
    if (N == 1) {
        found[count++] = 1;
    } else {
        const int table[6] = {10, 8, 5, 4, 3, 2};
        int m = N;
        int j = 0;
        while (m > 1 && j < 6) {
            if (m % table[j] == 0) {
                found[count++] = table[j];
                m = m / table[j];
            } else {
                j = j + 1;
            }
        }
        if (count > 0 && found[count - 1] == 2) {
            int i = count - 2;
            while (i >= 0 && found[i] != 8)
                i = i - 1;
            if (i >= 0) {
                found[count - 1] = 4;
                found[i] = 4;
            }
        }
        if (m > 1) {
            int k = 2;
            while (k < std::sqrt(m) + 1) {
                while (m % k == 0) {
                    found[count++] = k;
                    m = m / k;
                }
                k = k + 1;
            }
            if (m > 1)
                found[count++] = m;
        }
    }
    stage_count = count;
    for (int i = 1; i <= count; i++)
        fft_radix[i] = found[count - i];
}

bool fft_plan_stages(int N) {
    fft_split_length(N);
    if (fft_radix[1] > maxPrimeFactor)
        return false;
    fft_rest[0] = N;
    fft_span[1] = 1;
    fft_rest[1] = N / fft_radix[1];
    for (int i = 2; i <= stage_count; i++) {
        fft_span[i] = fft_span[i - 1] * fft_radix[i - 1];
        fft_rest[i] = fft_rest[i - 1] / fft_radix[i];
    }
    return true;
}

void fft_reorder_input(int N, const double *in_re, const double *in_im, double *out_re,
                       double *out_im) {
    int digit[21] = {0};
    int q = 0;
    for (int p = 0; p <= N - 2; p++) {
        out_re[p] = in_re[q];
        out_im[p] = in_im[q];
        q = q + fft_rest[1];
        digit[1] = digit[1] + 1;
        int j = 1;
        while (digit[j] >= fft_radix[j]) {
            digit[j] = 0;
            q = q + fft_rest[j + 1] - fft_rest[j - 1];
            j = j + 1;
            digit[j] = digit[j] + 1;
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

void fft_butterfly4(double *zr, double *zi) {
    double t1r = zr[0] + zr[2];
    double t1i = zi[0] + zi[2];
    double t2r = zr[1] + zr[3];
    double t2i = zi[1] + zi[3];
    double m2r = zr[0] - zr[2];
    double m2i = zi[0] - zi[2];
    double m3r = zi[1] - zi[3];
    double m3i = zr[3] - zr[1];
    zr[0] = t1r + t2r;
    zi[0] = t1i + t2i;
    zr[2] = t1r - t2r;
    zi[2] = t1i - t2i;
    zr[1] = m2r + m3r;
    zi[1] = m2i + m3i;
    zr[3] = m2r - m3r;
    zi[3] = m2i - m3i;
}

void fft_butterfly5(double *zr, double *zi) {
    double t1r = zr[1] + zr[4];
    double t1i = zi[1] + zi[4];
    double t2r = zr[2] + zr[3];
    double t2i = zi[2] + zi[3];
    double t3r = zr[1] - zr[4];
    double t3i = zi[1] - zi[4];
    double t4r = zr[3] - zr[2];
    double t4i = zi[3] - zi[2];
    double t5r = t1r + t2r;
    double t5i = t1i + t2i;
    zr[0] = zr[0] + t5r;
    zi[0] = zi[0] + t5i;
    double m1r = r5_cos_mean_m1 * t5r;
    double m1i = r5_cos_mean_m1 * t5i;
    double m2r = r5_cos_half_dif * (t1r - t2r);
    double m2i = r5_cos_half_dif * (t1i - t2i);
    double m3r = -r5_sin_neg * (t3i + t4i);
    double m3i = r5_sin_neg * (t3r + t4r);
    double m4r = -r5_sin_sum_neg * t4i;
    double m4i = r5_sin_sum_neg * t4r;
    double m5r = -r5_sin_dif * t3i;
    double m5i = r5_sin_dif * t3r;
    double s3r = m3r - m4r;
    double s3i = m3i - m4i;
    double s5r = m3r + m5r;
    double s5i = m3i + m5i;
    double s1r = zr[0] + m1r;
    double s1i = zi[0] + m1i;
    double s2r = s1r + m2r;
    double s2i = s1i + m2i;
    double s4r = s1r - m2r;
    double s4i = s1i - m2i;
    zr[1] = s2r + s3r;
    zi[1] = s2i + s3i;
    zr[2] = s4r + s5r;
    zi[2] = s4i + s5i;
    zr[3] = s4r - s5r;
    zi[3] = s4i - s5i;
    zr[4] = s2r - s3r;
    zi[4] = s2i - s3i;
}

void fft_butterfly8() {
    double ar[4], ai[4], br[4], bi[4];
    ar[0] = fft_work_re[0];
    ai[0] = fft_work_im[0];
    ar[1] = fft_work_re[2];
    ai[1] = fft_work_im[2];
    ar[2] = fft_work_re[4];
    ai[2] = fft_work_im[4];
    ar[3] = fft_work_re[6];
    ai[3] = fft_work_im[6];
    br[0] = fft_work_re[1];
    bi[0] = fft_work_im[1];
    br[1] = fft_work_re[3];
    bi[1] = fft_work_im[3];
    br[2] = fft_work_re[5];
    bi[2] = fft_work_im[5];
    br[3] = fft_work_re[7];
    bi[3] = fft_work_im[7];
    fft_butterfly4(ar, ai);
    fft_butterfly4(br, bi);
    double gr = r8_root_half * (br[1] + bi[1]);
    double gi = r8_root_half * (bi[1] - br[1]);
    br[1] = gr;
    bi[1] = gi;
    gr = bi[2];
    gi = -br[2];
    br[2] = gr;
    bi[2] = gi;
    gr = r8_root_half * (bi[3] - br[3]);
    gi = -r8_root_half * (br[3] + bi[3]);
    br[3] = gr;
    bi[3] = gi;
    for (int k = 0; k < 4; k++) {
        fft_work_re[k] = ar[k] + br[k];
        fft_work_im[k] = ai[k] + bi[k];
        fft_work_re[k + 4] = ar[k] - br[k];
        fft_work_im[k + 4] = ai[k] - bi[k];
    }
}

void fft_butterfly10() {
    const int P[5] = {0, 6, 2, 8, 4};
    const int Q[5] = {5, 1, 7, 3, 9};
    double ar[5], ai[5], br[5], bi[5];
    ar[0] = fft_work_re[0];
    ai[0] = fft_work_im[0];
    ar[1] = fft_work_re[2];
    ai[1] = fft_work_im[2];
    ar[2] = fft_work_re[4];
    ai[2] = fft_work_im[4];
    ar[3] = fft_work_re[6];
    ai[3] = fft_work_im[6];
    ar[4] = fft_work_re[8];
    ai[4] = fft_work_im[8];
    br[0] = fft_work_re[5];
    bi[0] = fft_work_im[5];
    br[1] = fft_work_re[7];
    bi[1] = fft_work_im[7];
    br[2] = fft_work_re[9];
    bi[2] = fft_work_im[9];
    br[3] = fft_work_re[1];
    bi[3] = fft_work_im[1];
    br[4] = fft_work_re[3];
    bi[4] = fft_work_im[3];
    fft_butterfly5(ar, ai);
    fft_butterfly5(br, bi);
    for (int k = 0; k < 5; k++) {
        fft_work_re[P[k]] = ar[k] + br[k];
        fft_work_im[P[k]] = ai[k] + bi[k];
        fft_work_re[Q[k]] = ar[k] - br[k];
        fft_work_im[Q[k]] = ai[k] - bi[k];
    }
}

void fft_butterfly_general(int R) {
    const int h = (R + 1) / 2;
    for (int j = 1; j <= h - 1; j++) {
        fft_sum_re[j] = fft_work_re[j] + fft_work_re[R - j];
        fft_dif_im[j] = fft_work_im[j] - fft_work_im[R - j];
        fft_dif_re[j] = fft_work_re[j] - fft_work_re[R - j];
        fft_sum_im[j] = fft_work_im[j] + fft_work_im[R - j];
    }
    for (int j = 1; j <= h - 1; j++) {
        fft_work_re[j] = fft_work_re[0];
        fft_work_im[j] = fft_work_im[0];
        fft_work_re[R - j] = fft_work_re[0];
        fft_work_im[R - j] = fft_work_im[0];
        int k = j;
        for (int i = 1; i <= h - 1; i++) {
            const double u = fft_root_re[k];
            const double v = fft_root_im[k];
            fft_work_re[R - j] += u * fft_sum_re[i] + v * fft_dif_im[i];
            fft_work_im[R - j] += u * fft_sum_im[i] - v * fft_dif_re[i];
            fft_work_re[j] += u * fft_sum_re[i] - v * fft_dif_im[i];
            fft_work_im[j] += u * fft_sum_im[i] + v * fft_dif_re[i];
            k = k + j;
            if (k >= R)
                k = k - R;
        }
    }
    for (int j = 1; j <= h - 1; j++) {
        fft_work_re[0] = fft_work_re[0] + fft_sum_re[j];
        fft_work_im[0] = fft_work_im[0] + fft_sum_im[j];
    }
}

void fft_run_stage(int S, int R, int M, double *yr, double *yi) {
    fft_make_roots(R);
    const double omega = 2 * pi / (S * R);
    const double cr = std::cos(omega);
    const double ci = -std::sin(omega);
    double tr = 1;
    double ti = 0;
    for (int d = 0; d <= S - 1; d++) {
        if (S > 1) {
            fft_rot_re[0] = 1;
            fft_rot_im[0] = 0;
            fft_rot_re[1] = tr;
            fft_rot_im[1] = ti;
            for (int b = 2; b <= R - 1; b++) {
                fft_rot_re[b] = tr * fft_rot_re[b - 1] - ti * fft_rot_im[b - 1];
                fft_rot_im[b] = ti * fft_rot_re[b - 1] + tr * fft_rot_im[b - 1];
            }
            const double nr = tr * cr - ti * ci;
            const double ni = ti * cr + tr * ci;
            tr = nr;
            ti = ni;
        }
        for (int g = 0; g <= M - 1; g++) {
            const int a = d + g * S * R;
            for (int b = 0; b <= R - 1; b++) {
                fft_work_re[b] = yr[a + b * S];
                fft_work_im[b] = yi[a + b * S];
            }
            if (S > 1 && d > 0) {
                for (int b = 1; b <= R - 1; b++) {
                    const double ur = fft_work_re[b];
                    const double ui = fft_work_im[b];
                    fft_work_re[b] = fft_rot_re[b] * ur - fft_rot_im[b] * ui;
                    fft_work_im[b] = fft_rot_im[b] * ur + fft_rot_re[b] * ui;
                }
            }
            if (R == 2) {
                const double z0r = fft_work_re[0];
                const double z0i = fft_work_im[0];
                const double z1r = fft_work_re[1];
                const double z1i = fft_work_im[1];
                fft_work_re[0] = z0r + z1r;
                fft_work_im[0] = z0i + z1i;
                fft_work_re[1] = z0r - z1r;
                fft_work_im[1] = z0i - z1i;
            } else if (R == 3) {
                const double t1r = fft_work_re[1] + fft_work_re[2];
                const double t1i = fft_work_im[1] + fft_work_im[2];
                fft_work_re[0] = fft_work_re[0] + t1r;
                fft_work_im[0] = fft_work_im[0] + t1i;
                const double m1r = r3_cos_m1 * t1r;
                const double m1i = r3_cos_m1 * t1i;
                const double m2r = r3_sin * (fft_work_im[1] - fft_work_im[2]);
                const double m2i = r3_sin * (fft_work_re[2] - fft_work_re[1]);
                const double s1r = fft_work_re[0] + m1r;
                const double s1i = fft_work_im[0] + m1i;
                fft_work_re[1] = s1r + m2r;
                fft_work_im[1] = s1i + m2i;
                fft_work_re[2] = s1r - m2r;
                fft_work_im[2] = s1i - m2i;
            } else if (R == 4) {
                fft_butterfly4(fft_work_re, fft_work_im);
            } else if (R == 5) {
                fft_butterfly5(fft_work_re, fft_work_im);
            } else if (R == 8) {
                fft_butterfly8();
            } else if (R == 10) {
                fft_butterfly10();
            } else {
                fft_butterfly_general(R);
            }
            for (int b = 0; b <= R - 1; b++) {
                yr[a + b * S] = fft_work_re[b];
                yi[a + b * S] = fft_work_im[b];
            }
        }
    }
}

} // namespace

bool fft_transform(int N, const double *in_re, const double *in_im, double *out_re,
                   double *out_im) {
    if (N < 1)
        return true;
    pi = 4 * std::atan(1.0);
    if (!fft_plan_stages(N))
        return false;
    fft_reorder_input(N, in_re, in_im, out_re, out_im);
    for (int i = 1; i <= stage_count; i++)
        fft_run_stage(fft_span[i], fft_radix[i], fft_rest[i], out_re, out_im);
    return true;
}

} // namespace fft_reference
