// A frame's colour as the module needs it and its result written back where
// it belongs: the input's colour layer chosen by name, unpremultiplied when
// the file's convention is premultiplied, converted from its colour space
// into the working space and quantised to bytes; the output converted back,
// premultiplied again where its format expects it, at the bit depth asked,
// with the input's metadata and the settings that made it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image_files/images.h"

namespace lumafex::tool {

// What a colour input carried that its output keeps (the file's metadata);
// its contents belong to the image library.
struct ImageMetadata;

// A colour input's own values, kept when its file holds more than bytes
// (half, float, 16-bit) so that an output of the same kind can give back
// what the module did not change: RGBA per pixel, 4 values each, as the
// colour was before it became bytes. The values as stored are those of the
// file's parts, which the input keeps.
struct ColourValues {
    std::vector<float> working;  // unpremultiplied in the working space, unclamped
};

struct ColourInput {
    ColourImage image;                              // bytes in the working space, alpha unassociated
    std::string channels;                           // which channels were used
    std::string colourSpace;                        // the input's colour space
    bool premultiplied = false;                     // the file stored premultiplied colour
    std::shared_ptr<const ImageMetadata> metadata;  // null without an image library
    std::shared_ptr<const ColourValues> values;     // null for 8-bit inputs
};

struct ColourRequest {
    std::string colourSpace;         // empty: from the metadata, else by type
    std::vector<std::string> layer;  // empty: the default rules
    std::string workingSpace = "sRGB";
};

struct OutputRequest {
    std::string workingSpace = "sRGB";
    std::string colourSpace;  // empty: float outputs in the input's space, others in the working space
    int bits = 0;             // 0: the format's default
    std::string compression;  // empty: the input's (EXR), else the format's default
    int pngCompression = -1;  // PNG outputs' zlib level, 0 to 9; -1: the image library's default
    std::vector<std::string> settingsLines;  // recorded in the output's metadata
};

// The colour space names the colour configuration knows (and its roles),
// and a name resolved to the configuration's own spelling; an unknown name,
// or a gamma outside 0.1 to 10 or not a plain decimal, is an
// std::runtime_error that names what and lists the known ones, and so is a
// configuration named by $OCIO that cannot be read.
std::vector<std::string> KnownColourSpaces();

// Names the colour configuration (an OpenColorIO file) instead of $OCIO;
// origin says how it was named ("--colorconfig", "the scene's colorConfig").
// Takes effect only before colour is first converted or named; the file is
// also put in OCIO for the libraries and programs this one starts.
void ChooseColourConfiguration(const std::string& file, const std::string& origin);
// How the chosen configuration was named; empty while none was chosen.
std::string ChosenColourConfigurationOrigin();
// Chooses a scene's colorConfig file (made absolute), unless it names none
// or a configuration was chosen already (--colorconfig wins over it).
void ChooseSceneColourConfiguration(const std::string& file);
// The configuration in use, for -v and the outputs' metadata: its file and
// how it was named, or the built-in one.
std::string ColourConfigurationInUse();
std::string ResolveColourSpace(const std::string& name, const std::string& what);

ColourInput ReadFrameColour(const std::string& path, const ColourRequest& request);
// The bytes a colour input holds beside its colour: every part of its file
// as stored, kept for the output (0 when only the colour was read).
uint64_t StoredPartsBytes(const ColourInput& input);
DepthImage ReadFrameDepth(const std::string& path, const std::string& channel);

// Names the compression outputs are written with (lumafex render
// --compression) instead of their input's (EXR) or their format's default:
// none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa or dwab (EXR; zip, dwaa
// and dwab take a level, "dwaa:45"), lzw or packbits (TIFF). Call it before
// the first frame; an unknown name is an std::runtime_error that names the
// known ones.
void ChooseOutputCompression(const std::string& name);

// Throws an ImageError unless path's format can be written at the bits
// asked; run before the first frame so a long render does not fail at its end.
void CheckOutputFormat(const std::string& path, int bits);

void WriteFrameOutput(const std::string& path, const ColourImage& result, const ColourInput& source,
                      const OutputRequest& request);

// The program's name and version, as outputs record it.
const char* ProgramVersion();

}  // namespace lumafex::tool
