// Which null-object channels override a stored setting while "Use Nulls" is
// on, for listings: a user reading a scene's settings should know that an
// object named "3Blur%" replaces BlurFlag and BlurPercent for the frame.
#pragma once

namespace lumafex::tool {

// The channel names (comma separated) that drive the named stored field,
// or an empty text.
const char* NullsDriving(const char* field);

}  // namespace lumafex::tool
