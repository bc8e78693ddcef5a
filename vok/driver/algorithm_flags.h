// The flag word that the front end builds from the command line and hands
// whole to the driver and to the output stage: exactly one algorithm bit,
// and the continuous-mode bit when the whole input is to be processed.
#ifndef VOK_DRIVER_ALGORITHM_FLAGS_H
#define VOK_DRIVER_ALGORITHM_FLAGS_H

#include <cstdint>

namespace Zuvanti {

using AlgorithmFlags = uint32_t;

constexpr AlgorithmFlags FileFixed = 0x01;  // engine algorithm 1
constexpr AlgorithmFlags FileFloat = 0x02;  // engine algorithm 2
constexpr AlgorithmFlags Stream1 = 0x04;    // engine algorithm 3
constexpr AlgorithmFlags Stream4 = 0x08;    // engine algorithm 4
constexpr AlgorithmFlags Continuous = 0x10; // read by the extraction loop only

} // namespace Zuvanti

#endif
