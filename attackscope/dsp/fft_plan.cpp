#include "dsp/fft_plan.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace dsp {

namespace fft_parts {

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

} // namespace fft_parts

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

bool fft_length_supported(int N) {
    int radices[fft_max_stages];
    // Stage 1 holds the largest radix whenever one above 10 is present.
    return fft_split_length(N, radices) > 0 && radices[0] <= maxPrimeFactor;
}

} // namespace dsp
