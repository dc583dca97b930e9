#include "ui/dialog_fields.h"

namespace lumafex::ui {

const DialogField* FindDialogField(ControlId id) {
    if (id == 0) return nullptr;
    for (const DialogField& row : kDialogFields) {
        if (row.id == id || row.label == id) return &row;
    }
    return nullptr;
}

}  // namespace lumafex::ui
