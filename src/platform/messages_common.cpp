#include "platform/messages.h"

namespace lumafex::platform {

void ShowSystemMessage(const char* text, const char* caption);

namespace {
MessageSinkBinding g_sink{nullptr, nullptr};
MessagePresenter g_presenter = nullptr;
}  // namespace

void ShowMessage(const char* text, const char* caption) {
    if (g_sink.sink != nullptr) {
        g_sink.sink(g_sink.context, text, caption);
        return;
    }
    if (g_presenter != nullptr && g_presenter(text, caption)) return;
    ShowSystemMessage(text, caption);
}

void SetMessagePresenter(MessagePresenter presenter) { g_presenter = presenter; }

MessageSinkBinding SetMessageSink(MessageSinkBinding binding) {
    MessageSinkBinding previous = g_sink;
    g_sink = binding;
    return previous;
}

}  // namespace lumafex::platform
