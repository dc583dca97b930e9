// The scene's items through the host's "LW Item Info" table, as the frame
// and the settings dialog read them.
#pragma once

#include "abi/host_interface.h"
#include "pipeline/scene_objects.h"

namespace lumafex {

class HostSceneObjects final : public SceneObjects {
public:
    // items may be null, or lack operations: the objects cannot be walked
    // then, and the camera stands at the origin.
    explicit HostSceneObjects(const ItemInfo* items) : items_(items) {}

    void* FirstObject() const override;
    void* NextObject(void* object) const override;
    const char* Name(void* object) const override;
    void Position(void* object, double time, double position[3]) const override;
    void CameraPosition(double time, double position[3]) const override;

private:
    bool CanWalk() const;
    const ItemInfo* items_;
};

}  // namespace lumafex
