// How many threads the image libraries decode and encode with.
#pragma once

namespace lumafex::tool {

// Sets the image libraries' own thread pools (OpenImageIO's, and
// OpenEXR's for the parts of a file it decodes and encodes at once) to
// threads, so a render under taskset or a scheduler's allocation uses the
// processors it was given; nothing without an image library.
void SetCodecThreads(int threads);

}  // namespace lumafex::tool
