// Sizes as du -h and du --si print them, for pelmora-cli count --human-readable and --si.
#pragma once

#include <string>

namespace pelmora::cli {

// `bytes` in powers of `base` (1024, or 1000 for --si), rounded up as du rounds: below `base`
// the number itself ("0", "1023"); else one decimal while below 10 ("1.0K", "9.8K"), a whole
// number from 10 on ("10K", "977K"), the next unit once rounding reaches `base` ("1.0M" for
// 1,048,575). Units K (k with base 1000), M, G, T, P, E, Z, Y, R, Q.
std::string humanSize(unsigned __int128 bytes, unsigned base);

}  // namespace pelmora::cli
