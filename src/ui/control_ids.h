// Identifiers of the settings dialog's controls and menu items, as the
// dialog template "DIALOGBOXMAIN" and its menu number them: typed names for
// the numbers of ui/control_numbers.h, which the template includes too. The
// controller addresses every control through these numbers, so each toolkit
// binding maps them to its own widgets.
#pragma once

#include "ui/control_numbers.h"

namespace lumafex::ui {

using ControlId = int;

// Buttons: the standard OK and Cancel numbers.
inline constexpr ControlId kOkButton = 1;
inline constexpr ControlId kCancelButton = 2;

// "Color Filters": edit boxes and their labels.
inline constexpr ControlId kRedPercentEdit = LFX_RED_PERCENT_EDIT;
inline constexpr ControlId kRedPercentLabel = LFX_RED_PERCENT_LABEL;
inline constexpr ControlId kGreenPercentEdit = LFX_GREEN_PERCENT_EDIT;
inline constexpr ControlId kGreenPercentLabel = LFX_GREEN_PERCENT_LABEL;
inline constexpr ControlId kBluePercentEdit = LFX_BLUE_PERCENT_EDIT;
inline constexpr ControlId kBluePercentLabel = LFX_BLUE_PERCENT_LABEL;
inline constexpr ControlId kBrightPercentEdit = LFX_BRIGHT_PERCENT_EDIT;
inline constexpr ControlId kBrightPercentLabel = LFX_BRIGHT_PERCENT_LABEL;
inline constexpr ControlId kGammaPercentEdit = LFX_GAMMA_PERCENT_EDIT;
inline constexpr ControlId kGammaPercentLabel = LFX_GAMMA_PERCENT_LABEL;
inline constexpr ControlId kContrastPercentEdit = LFX_CONTRAST_PERCENT_EDIT;
inline constexpr ControlId kContrastPercentLabel = LFX_CONTRAST_PERCENT_LABEL;

// "Digital Filters".
inline constexpr ControlId kBlurCheck = LFX_BLUR_CHECK;
inline constexpr ControlId kBlurPercentEdit = LFX_BLUR_PERCENT_EDIT;
inline constexpr ControlId kSofterCheck = LFX_SOFTER_CHECK;  // three-state
inline constexpr ControlId kDOFBlurCheck = LFX_DOF_BLUR_CHECK;
inline constexpr ControlId kDOFBlurPercentEdit = LFX_DOF_BLUR_PERCENT_EDIT;
inline constexpr ControlId kFocalPointEdit = LFX_FOCAL_POINT_EDIT;  // "F"
inline constexpr ControlId kFocalPointLabel = LFX_FOCAL_POINT_LABEL;
inline constexpr ControlId kEnhanceCheck = LFX_ENHANCE_CHECK;
inline constexpr ControlId kEnhancePercentEdit = LFX_ENHANCE_PERCENT_EDIT;
inline constexpr ControlId kAntialiasCheck = LFX_ANTIALIAS_CHECK;
inline constexpr ControlId kAntialiasPercentEdit = LFX_ANTIALIAS_PERCENT_EDIT;
inline constexpr ControlId kAntialiasThresholdEdit = LFX_ANTIALIAS_THRESHOLD_EDIT;  // "T"
inline constexpr ControlId kAntialiasThresholdLabel = LFX_ANTIALIAS_THRESHOLD_LABEL;
inline constexpr ControlId kNoiseCheck = LFX_NOISE_CHECK;
inline constexpr ControlId kNoisePercentEdit = LFX_NOISE_PERCENT_EDIT;
inline constexpr ControlId kPosterizeCheck = LFX_POSTERIZE_CHECK;
inline constexpr ControlId kPosterizePercentEdit = LFX_POSTERIZE_PERCENT_EDIT;
inline constexpr ControlId kNtscLimitCheck = LFX_NTSC_LIMIT_CHECK;
inline constexpr ControlId kBlackAndWhiteCheck = LFX_BLACK_AND_WHITE_CHECK;
inline constexpr ControlId kNegativeCheck = LFX_NEGATIVE_CHECK;
inline constexpr ControlId kFlipFrameCheck = LFX_FLIP_FRAME_CHECK;  // three-state
inline constexpr ControlId kFlipHorzRadio = LFX_FLIP_HORZ_RADIO;
inline constexpr ControlId kFlipVertRadio = LFX_FLIP_VERT_RADIO;
// "Antialias Passes ": present but never shown.
inline constexpr ControlId kPassesEdit = LFX_PASSES_EDIT;
inline constexpr ControlId kPassesLabel = LFX_PASSES_LABEL;

// "Key Filters".
inline constexpr ControlId kBlackCheck = LFX_BLACK_CHECK;
inline constexpr ControlId kWhiteCheck = LFX_WHITE_CHECK;
inline constexpr ControlId kNegativeAlphaCheck = LFX_NEGATIVE_ALPHA_CHECK;
inline constexpr ControlId kRangeAlphaCheck = LFX_RANGE_ALPHA_CHECK;
inline constexpr ControlId kKeyPrepCheck = LFX_KEY_PREP_CHECK;  // three-state
inline constexpr ControlId kKeyPrepBlackRadio = LFX_KEY_PREP_BLACK_RADIO;  // "B"
inline constexpr ControlId kKeyPrepWhiteRadio = LFX_KEY_PREP_WHITE_RADIO;  // "W"

// "Filters Should Affect".
inline constexpr ControlId kFullFrameRadio = LFX_FULL_FRAME_RADIO;
inline constexpr ControlId kBackgroundOnlyRadio = LFX_BACKGROUND_ONLY_RADIO;
inline constexpr ControlId kObjectsOnlyRadio = LFX_OBJECTS_ONLY_RADIO;
inline constexpr ControlId kShadowsOnlyRadio = LFX_SHADOWS_ONLY_RADIO;
inline constexpr ControlId kColourRangeRadio = LFX_COLOUR_RANGE_RADIO;  // "High/Low Color Ra&nge"

// Menu items of "&File", and the "About" popup's item, which shows the
// name, version and licence.
inline constexpr ControlId kMenuOpen = LFX_MENU_OPEN;
inline constexpr ControlId kMenuSaveAs = LFX_MENU_SAVE_AS;
inline constexpr ControlId kMenuUseNulls = LFX_MENU_USE_NULLS;
inline constexpr ControlId kMenuOk = LFX_MENU_OK;
inline constexpr ControlId kMenuCancel = LFX_MENU_CANCEL;
inline constexpr ControlId kMenuAbout = LFX_MENU_ABOUT;

}  // namespace lumafex::ui
