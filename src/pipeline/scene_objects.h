// The scene's items as the frame and the dialog read them: the named
// objects in the host's order, and the camera. The host adapter answers
// from the host's item table; a frame without one sees an empty scene.
#pragma once

namespace lumafex {

class SceneObjects {
public:
    virtual ~SceneObjects() = default;
    // The first object and the one after object; null at the end. A scene
    // whose objects cannot be walked has none.
    virtual void* FirstObject() const = 0;
    virtual void* NextObject(void* object) const = 0;
    // The object's name, or null when it has none.
    virtual const char* Name(void* object) const = 0;
    // The object's position at time.
    virtual void Position(void* object, double time, double position[3]) const = 0;
    // The camera's position at time; the origin when the scene has none.
    virtual void CameraPosition(double time, double position[3]) const = 0;
};

// A scene without items: no objects, the camera at the origin.
class EmptyScene final : public SceneObjects {
public:
    void* FirstObject() const override { return nullptr; }
    void* NextObject(void*) const override { return nullptr; }
    const char* Name(void*) const override { return nullptr; }
    void Position(void*, double, double position[3]) const override {
        position[0] = position[1] = position[2] = 0.0;
    }
    void CameraPosition(double time, double position[3]) const override {
        Position(nullptr, time, position);
    }
};

}  // namespace lumafex
