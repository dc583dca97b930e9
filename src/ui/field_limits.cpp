#include "ui/field_limits.h"

#include <cstring>
#include <limits>

namespace lumafex::ui {

namespace {

constexpr int32_t kMost = std::numeric_limits<int32_t>::max();

// The digits of text after optional white space and a sign, read with the
// dialog's rule; magnitude saturates just past the 32-bit range.
struct Reading {
    bool hasDigits = false;
    bool negative = false;
    int64_t magnitude = 0;
};

Reading Read(const char* text) {
    Reading r;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (*p == '+' || *p == '-') r.negative = *p++ == '-';
    constexpr int64_t kCap = int64_t{kMost} + 2;
    for (; *p >= '0' && *p <= '9'; ++p) {
        r.hasDigits = true;
        r.magnitude = r.magnitude * 10 + (*p - '0');
        if (r.magnitude > kCap) r.magnitude = kCap;
    }
    return r;
}

}  // namespace

const DialogField* FindFieldLimits(ControlId edit) {
    const DialogField* row = FindDialogField(edit);
    return row != nullptr && HasLimits(*row) && row->id == edit ? row : nullptr;
}

std::string RangeText(const DialogField& limits) {
    return "a whole number from " + std::to_string(limits.min) + " to " +
           std::to_string(limits.max);
}

std::string FieldProblem(const DialogField& limits, const char* text) {
    const Reading r = Read(text);
    if (!r.hasDigits) {
        bool blank = true;
        for (const char* p = text; *p != '\0'; ++p) blank = blank && (*p == ' ' || *p == '\t');
        if (blank) return std::string(limits.name) + " is empty: enter " + RangeText(limits) + ".";
        return std::string(limits.name) + " is not a number: enter " + RangeText(limits) + ".";
    }
    const int64_t value = r.negative ? -r.magnitude : r.magnitude;
    if (value < limits.min || value > limits.max) {
        std::string shown = r.magnitude > kMost ? (r.negative ? "a value below " : "a value above ")
                                                : std::string();
        shown += r.magnitude > kMost ? std::to_string(r.negative ? limits.min : limits.max)
                                     : std::to_string(value);
        return std::string(limits.name) + " must be " + RangeText(limits) + "; " + shown +
               " is outside that range.";
    }
    return {};
}

}  // namespace lumafex::ui
