#include "host/scene_items.h"

namespace lumafex {

bool HostSceneObjects::CanWalk() const {
    return items_ != nullptr && items_->firstItem != nullptr && items_->nextItem != nullptr &&
           items_->itemName != nullptr && items_->itemVector != nullptr;
}

void* HostSceneObjects::FirstObject() const {
    return CanWalk() ? items_->firstItem(host::kItemObject, nullptr) : nullptr;
}

void* HostSceneObjects::NextObject(void* object) const { return items_->nextItem(object); }

const char* HostSceneObjects::Name(void* object) const { return items_->itemName(object); }

void HostSceneObjects::Position(void* object, double time, double position[3]) const {
    items_->itemVector(object, host::kParamPosition, time, position);
}

void HostSceneObjects::CameraPosition(double time, double position[3]) const {
    position[0] = position[1] = position[2] = 0.0;
    if (items_ == nullptr || items_->firstItem == nullptr || items_->itemVector == nullptr) return;
    void* camera = items_->firstItem(host::kItemCamera, nullptr);
    // A scene without a camera is measured from the origin.
    if (camera == nullptr) return;
    items_->itemVector(camera, host::kParamPosition, time, position);
}

}  // namespace lumafex
