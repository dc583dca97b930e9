#include <OpenImageIO/imageio.h>

#include "image_files/codec_threads.h"

namespace lumafex::tool {

void SetCodecThreads(int threads) {
    OIIO::attribute("threads", threads);
    OIIO::attribute("exr_threads", threads);
}

}  // namespace lumafex::tool
