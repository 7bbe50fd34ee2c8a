#pragma once
// The main window's control ids, by name. Every control of the window's layout
// carries its id as object name ("id1069"), and the features' binders, the
// tooltips and the tests find controls by these ids, so the numbers stay as
// they are; code names them here and nowhere else.
//
// Per-channel and per-column controls are runs of consecutive ids: use the
// functions below (channel 0..3, column VREF 0, MTH 1, CLK 2).

namespace zelbo::ctl {

// ---- POWER ------------------------------------------------------------------
inline constexpr int kSwitchLabel = 1109; // "Switch:"
inline constexpr int kPower = 1025;       // the power button (ON / OFF)
inline constexpr int kModeLabel = 1074;   // "Mode:"
inline constexpr int kModeName = 1028;    // the drive mode's name
inline constexpr int kModeChange = 1043;  // "Change"

// ---- REFERENCES -------------------------------------------------------------
inline constexpr int kVrefSlider = 1005;
inline constexpr int kMthSlider = 1006;
inline constexpr int kClkSlider = 1007;
inline constexpr int kVrefEdit = 1069;
inline constexpr int kMthEdit = 1068;
inline constexpr int kClkEdit = 1070;
inline constexpr int kIo = 1071;          // Io, read-only
inline constexpr int kRnfEdit = 1097;
inline constexpr int kRnfRate = 1096;     // the exchange rate's text, read-only
inline constexpr int kRnfRateSpin = 1090;
inline constexpr int kDutySlider = 1008;  // hidden; Clk-In mode sets the duty in its field
inline constexpr int kPsSlider = 1009;    // the PS indicator, hidden (0 Low, 1 High)

// ---- SWEEP: MAX, MIN, STEP of each column, and the run row --------------------
inline constexpr int kVrefMax = 1159;
inline constexpr int kVrefMin = 1160;
inline constexpr int kVrefStep = 1161;
inline constexpr int kMthMax = 1162;
inline constexpr int kMthMin = 1163;
inline constexpr int kMthStep = 1164;
inline constexpr int kClkMax = 1165;
inline constexpr int kClkMin = 1166;
inline constexpr int kClkStep = 1167;
inline constexpr int kSweepDown = 1143;   // "<"
inline constexpr int kSweepStart = 1104;  // "Start", the second run toggle
inline constexpr int kSweepUp = 1144;     // ">"

// ---- CLK --------------------------------------------------------------------
inline constexpr int kClkGroup = 1126;
inline constexpr int kContinuous = 1127;
inline constexpr int kManual = 1128;
inline constexpr int kStepsLabel = 1129;
inline constexpr int kStepsEdit = 1130;
inline constexpr int kStopLabel = 1131;
inline constexpr int kStopLevel = 1132;   // "H" / "L"
inline constexpr int kClkStart = 1045;    // "Start", the step clock's toggle
inline constexpr int kDutyEdit = 1152;
inline constexpr int kDutySet = 1046;

// ---- CHANNELS (first of four) -----------------------------------------------
inline constexpr int kChannelToggle = 1014;
inline constexpr int kChannelPopup = 1018; // ">"
inline constexpr int kChannelSource = 1168;
inline constexpr int kChannelOutput = 1172;
inline constexpr int kValuePerDiv = 1080;  // VALUE/DIV text
inline constexpr int kValuePerDivSpin = 1085;

// ---- TIME BASE ----------------------------------------------------------------
inline constexpr int kSecPerDiv = 1084;
inline constexpr int kSecPerDivSpin = 1089;
inline constexpr int kSamplingRate = 1013; // index slider, 0..15
inline constexpr int kAutoRate = 1190;     // "Auto"

// ---- TRIGGER ----------------------------------------------------------------
inline constexpr int kTriggerOn = 1024;
inline constexpr int kTriggerSlope = 1027;
inline constexpr int kTriggerChannel = 1105; // first of four radios
inline constexpr int kVoltageLevelSlider = 1072;
inline constexpr int kVoltageLevelEdit = 1073;
inline constexpr int kCurrentLevelSlider = 1092;
inline constexpr int kCurrentLevelEdit = 1091;
inline constexpr int kTriggerMode = 1240;
inline constexpr int kTriggerState = 1241;
inline constexpr int kHoldoff = 1242;

// ---- ACQUISITION --------------------------------------------------------------
inline constexpr int kRun = 1026;
inline constexpr int kCalibrate = 1156;
inline constexpr int kSavePicture = 1023;

// ---- chart, pins, thermometer ---------------------------------------------------
inline constexpr int kChart = 1042;          // placeholder until the oscilloscope's chart takes its cell
inline constexpr int kPinTable = 1051;
inline constexpr int kPsLow = 1176;          // the PS indicator's radio pair, hidden
inline constexpr int kPsHigh = 1177;
inline constexpr int kThermometerGroup = 1234;
inline constexpr int kThermometer = 1032;    // the gauge

// ---- the progress window ------------------------------------------------------
inline constexpr int kProgressBar = 1189;
inline constexpr int kProgressText = 1206;

// ---- runs -----------------------------------------------------------------------
constexpr int channelToggle(int ch) { return kChannelToggle + ch; }
constexpr int channelPopup(int ch) { return kChannelPopup + ch; }
constexpr int channelSource(int ch) { return kChannelSource + ch; }
constexpr int channelOutput(int ch) { return kChannelOutput + ch; }
constexpr int valuePerDiv(int ch) { return kValuePerDiv + ch; }
constexpr int valuePerDivSpin(int ch) { return kValuePerDivSpin + ch; }
constexpr int triggerChannel(int ch) { return kTriggerChannel + ch; }

// Limit rows of the SWEEP table.
enum class LimitRow { Max = 0, Min = 1, Step = 2 };
constexpr int sweepLimit(int column, LimitRow row) { return kVrefMax + column * 3 + static_cast<int>(row); }

static_assert(sweepLimit(2, LimitRow::Step) == kClkStep);
static_assert(sweepLimit(1, LimitRow::Min) == kMthMin);

// The object name a control carries ("id1069").
inline constexpr const char* kObjectNamePrefix = "id";

} // namespace zelbo::ctl
