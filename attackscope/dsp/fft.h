// Mixed-radix complex FFT for any length whose prime factors are at most 1024.
#pragma once
