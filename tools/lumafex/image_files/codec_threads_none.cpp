#include "image_files/codec_threads.h"

namespace lumafex::tool {

// The PAM/PGM/PFM readers and writers run on the calling thread.
void SetCodecThreads(int) {}

}  // namespace lumafex::tool
