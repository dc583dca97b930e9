// User-visible messages of the module: modal message boxes with a fixed text
// and caption. On Windows a box with no owner window; elsewhere a line on
// standard error. Tests (and hosts that show messages themselves) can
// install a sink that receives every message instead.
#pragma once

namespace lumafex::platform {

// The one text every part of the module gives when memory cannot be had,
// and the caption its message box carries.
inline constexpr const char* kOutOfMemoryText = "Out Of Memory";
inline constexpr const char* kOutOfMemoryCaption = "ERROR";

using MessageSink = void (*)(void* context, const char* text, const char* caption);

// Shows the message, or hands it to the installed sink.
void ShowMessage(const char* text, const char* caption);

// Installs a sink (null restores the default); returns the previous one.
struct MessageSinkBinding {
    MessageSink sink;
    void* context;
};
MessageSinkBinding SetMessageSink(MessageSinkBinding binding);

// A toolkit's way of showing a message: true when it showed it, false to
// fall back to the system's (a dialog toolkit without an application
// running, say). Installed by the settings dialog's binding; the test sink
// above still comes first.
using MessagePresenter = bool (*)(const char* text, const char* caption);
void SetMessagePresenter(MessagePresenter presenter);

}  // namespace lumafex::platform
