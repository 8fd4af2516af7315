// The transform's butterflies with their own code: the R-point DFTs of radices 2, 3, 4, 5, 8 and
// 10, written once for a double and for fft_lanes (eight data positions side by side). Used only
// by fft.cpp.
#pragma once

namespace dsp::fft_parts {

// Constants at the 14 significant digits of the plain transform in tests/dsp/fft_reference.cpp,
// with which every result is bit-exact (not the full-precision values of their definitions).
inline constexpr double r3_cos_m1 = -1.5;
inline constexpr double r3_sin = 0.86602540378444;
inline constexpr double r5_cos_mean_m1 = -1.25;
inline constexpr double r5_cos_half_dif = 0.55901699437495;
inline constexpr double r5_sin_neg = -0.95105651629515;
inline constexpr double r5_sin_sum_neg = -1.5388417685876;
inline constexpr double r5_sin_dif = 0.36327126400268;
inline constexpr double r8_root_half = 0.70710678118655;

// Several neighbouring data positions of one stage, side by side. Each operation applies element
// by element, so every position gets exactly the operations it would get alone.
inline constexpr int lane_count = 8;
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

// The butterflies replace re/im[0..R-1] by their R-point forward DFT, in place. T is a
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

} // namespace dsp::fft_parts
