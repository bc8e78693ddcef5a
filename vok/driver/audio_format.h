// The driver's record of its input, filled by the input and read by the
// driver.
#ifndef VOK_DRIVER_AUDIO_FORMAT_H
#define VOK_DRIVER_AUDIO_FORMAT_H

#include <cstdint>

#include <vok/eng_types.h>

namespace Zuvanti {

struct AudioFormat {
    SampleType sample_type = 0; // 1 to 4
    uint32_t sample_rate = 0;   // Hz
    uint32_t channels = 0;      // 1 or 2
    uint32_t block_bytes = 0;   // bytes asked for per read; 0 asks for the whole data stretch
};

} // namespace Zuvanti

#endif
