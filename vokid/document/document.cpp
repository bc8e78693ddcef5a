#include "vokid/document/document.h"

#include "vokid/document/block_decoder.h"

namespace vokid {

size_t Document::blockCount() const
{
    return words.size() / kBlockWords;
}

double Document::frameSeconds() const
{
    // Three-second blocks hop 64 samples of the 5512.5 Hz signal, six-second ones 128.
    return (blockLength == 6 ? 128.0 : 64.0) / 5512.5;
}

} // namespace vokid
