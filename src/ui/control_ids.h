// Identifiers of the settings dialog's controls and menu items, as the
// dialog template "DIALOGBOXMAIN" and its menu number them. The controller
// addresses every control through these numbers, so each toolkit binding
// maps them to its own widgets.
#pragma once

namespace lumafex::ui {

using ControlId = int;

// Buttons.
inline constexpr ControlId kOkButton = 1;
inline constexpr ControlId kCancelButton = 2;

// "Color Filters": edit boxes and their labels.
inline constexpr ControlId kRedPercentEdit = 1000;
inline constexpr ControlId kRedPercentLabel = 1069;
inline constexpr ControlId kGreenPercentEdit = 1001;
inline constexpr ControlId kGreenPercentLabel = 1071;
inline constexpr ControlId kBluePercentEdit = 1004;
inline constexpr ControlId kBluePercentLabel = 1070;
inline constexpr ControlId kBrightPercentEdit = 1006;
inline constexpr ControlId kBrightPercentLabel = 1072;
inline constexpr ControlId kGammaPercentEdit = 1026;
inline constexpr ControlId kGammaPercentLabel = 1073;
inline constexpr ControlId kContrastPercentEdit = 1027;
inline constexpr ControlId kContrastPercentLabel = 1074;

// "Digital Filters".
inline constexpr ControlId kBlurCheck = 1019;
inline constexpr ControlId kBlurPercentEdit = 1021;
inline constexpr ControlId kSofterCheck = 1067;  // three-state
inline constexpr ControlId kDOFBlurCheck = 1028;
inline constexpr ControlId kDOFBlurPercentEdit = 1029;
inline constexpr ControlId kFocalPointEdit = 1030;  // "F"
inline constexpr ControlId kFocalPointLabel = 1075;
inline constexpr ControlId kEnhanceCheck = 1018;
inline constexpr ControlId kEnhancePercentEdit = 1007;
inline constexpr ControlId kAntialiasCheck = 1017;
inline constexpr ControlId kAntialiasPercentEdit = 1005;
inline constexpr ControlId kAntialiasThresholdEdit = 1020;  // "T"
inline constexpr ControlId kAntialiasThresholdLabel = 1076;
inline constexpr ControlId kNoiseCheck = 1033;
inline constexpr ControlId kNoisePercentEdit = 1034;
inline constexpr ControlId kPosterizeCheck = 1064;
inline constexpr ControlId kPosterizePercentEdit = 1032;
inline constexpr ControlId kNtscLimitCheck = 1012;
inline constexpr ControlId kBlackAndWhiteCheck = 1015;
inline constexpr ControlId kNegativeCheck = 1022;
inline constexpr ControlId kFlipFrameCheck = 1016;  // three-state
inline constexpr ControlId kFlipHorzRadio = 1024;
inline constexpr ControlId kFlipVertRadio = 1025;
// "Antialias Passes ": present but never shown.
inline constexpr ControlId kPassesEdit = 1031;
inline constexpr ControlId kPassesLabel = 1077;

// "Key Filters".
inline constexpr ControlId kBlackCheck = 1014;
inline constexpr ControlId kWhiteCheck = 1013;
inline constexpr ControlId kNegativeAlphaCheck = 1011;
inline constexpr ControlId kRangeAlphaCheck = 1061;
inline constexpr ControlId kKeyPrepCheck = 1023;  // three-state
inline constexpr ControlId kKeyPrepBlackRadio = 1059;  // "B"
inline constexpr ControlId kKeyPrepWhiteRadio = 1060;  // "W"

// "Filters Should Affect".
inline constexpr ControlId kFullFrameRadio = 1010;
inline constexpr ControlId kBackgroundOnlyRadio = 1009;
inline constexpr ControlId kObjectsOnlyRadio = 1008;
inline constexpr ControlId kShadowsOnlyRadio = 1063;
inline constexpr ControlId kColourRangeRadio = 1056;  // "High/Low Color Ra&nge"

// Menu items of "&File", and the "About" popup's item, which shows the
// name, version and licence.
inline constexpr ControlId kMenuOpen = 40001;
inline constexpr ControlId kMenuSaveAs = 40002;
inline constexpr ControlId kMenuUseNulls = 40025;
inline constexpr ControlId kMenuOk = 40004;
inline constexpr ControlId kMenuCancel = 40005;
inline constexpr ControlId kMenuAbout = 40010;

}  // namespace lumafex::ui
