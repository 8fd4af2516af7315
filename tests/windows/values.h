// The values program: loads the built plug-ins into the in-process host, runs them over
// recordings and prints every value they send, with its float bits, so that the outputs of two
// builds can be compared byte for byte.
#pragma once

// On Windows the program lives in the host's pd.dll, as Pd for Windows keeps everything in pd.dll
// and its pd.exe only starts it; elsewhere it is linked into the executable.
#if defined(_WIN32) && defined(VALUES_IN_THIS_DLL)
#define VALUES_API __declspec(dllexport)
#elif defined(_WIN32)
#define VALUES_API __declspec(dllimport)
#else
#define VALUES_API
#endif

//   values PLUGIN_DIR SUFFIX [RECORDING...]
// PLUGIN_DIR holds attackscope~SUFFIX and beatspanSUFFIX. Prints beatspan's results, then each
// recording through [attackscope~], [attackscope~ -position] and [attackscope~ -position -pickup
// 0.2] at blocks of 64, 512 and 2048.
// Returns 0, or 1 when a plug-in or a recording cannot be loaded.
extern "C" VALUES_API int values_main(int argc, char **argv);
