// The host side of one scene: the globals the module looks up, an item list
// over the scene's cameras and objects, and a frame access over the planes
// of the frame being processed. The module's entries carry no context, so
// one Host at a time is the active one.
#pragma once

#include <string>
#include <vector>

#include "abi/host_interface.h"
#include "image_files/images.h"
#include "rendering/module_loader.h"
#include "scenes/scene.h"

namespace lumafex::tool {

class Host {
public:
    // Activates the module's image filter handler for the scene and creates
    // an instance; throws std::runtime_error with a clear message on failure.
    Host(const LoadedModule& module, const Scene& scene);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Hands the stored settings lines to the module's load slot.
    void Load(const std::vector<std::string>& lines);
    // The module's save slot's lines.
    std::vector<std::string> Save();

    // The posterize strength, which the stored lines leave out: the
    // module's instance is its settings record, read and set directly.
    int32_t PosterizePercent() const;
    void SetPosterizePercent(int32_t percent);

    // Runs the module's settings dialog (its interface server) over the
    // instance's settings; returns the activation result (0 when the dialog
    // ran, whether it ended with OK or Cancel).
    int RunSettingsDialog(const LoadedModule& module);
    // How the last settings dialog ended: 1 OK, 0 Cancel (or its window
    // closed), -1 when the module did not say.
    int DialogOutcome() const;
    // Tells the settings dialog's preview why no frame is offered.
    void SayNoPreview(const std::string& why);

    // Offers a frame to the settings dialog's preview (the module reads it
    // when the dialog opens; the images must outlive the dialog). Without
    // one the preview shows the latest frame the module processed.
    void OfferPreviewFrame(ColourImage& colour, GreyImage* shadow, const DepthImage* depth,
                           double time);

    // Processes one frame in place: colour (with alpha), an optional shadow
    // and depth. Returns false when the module wrote no pixel (it refused
    // the frame); otherwise output holds what it wrote. A frame whose width
    // the module does not take is handed over padded and comes back cropped
    // (frame_padding.h): output, colour and shadow keep the frame's width.
    [[nodiscard]] bool Process(ColourImage& colour, GreyImage* shadow, const DepthImage* depth, double time,
                               ColourImage& output);

private:
    // Process without padding: the module gets the frame as it is.
    [[nodiscard]] bool ProcessAsGiven(ColourImage& colour, GreyImage* shadow, const DepthImage* depth,
                                      double time, ColourImage& output);

    HandlerTable table_{};
    void* instance_ = nullptr;
};

}  // namespace lumafex::tool
