#pragma once
// Every FPGA register the host writes or reads, by name. Host code names
// registers only through this map; the values written stay with the code that
// writes them. The simulated board keeps its own names: it is the far side of
// the wire and shares nothing with the host.

#include <cstdint>

namespace zelbo::reg {

// ---- supply, power sequencing, board start-up ------------------------------
inline constexpr std::uint8_t kSupply = 0x01;          // DUT supply: 0xE1 3.3 V, 0xE3 5.0 V, 0xE0 off
inline constexpr std::uint8_t kScopeGate = 0x02;       // 0 scope commands allowed, 1 blocked
inline constexpr std::uint8_t kPowerSequence = 0x2C;   // power-switch sequencing (2, then 0x0B)
inline constexpr std::uint8_t kModeSetup = 0x68;       // drive mode set-up, written 1
inline constexpr std::uint8_t kStartMode = 0xA1;       // link start configuration, written 2
inline constexpr std::uint8_t kStartFirst = 0xA2;      // 0xA2..0xA7: link start parameters, cleared
inline constexpr std::uint8_t kStartLast = 0xA7;
inline constexpr std::uint8_t kBoardReady = 0xB0;      // written 0 at the end of the link start
inline constexpr std::uint8_t kScopeEnable = 0xF0;     // 1 when the board takes scope commands
inline constexpr std::uint8_t kShutdownKey = 0xFF;     // the shutdown key, 0xEA 0x15 0xAE 0xFF

// ---- the pin and reference DAC ---------------------------------------------
inline constexpr std::uint8_t kDacMthLow = 0x15;       // MTH code, low byte (high byte next)
inline constexpr std::uint8_t kDacMthHigh = 0x16;
inline constexpr std::uint8_t kDacVrefLow = 0x17;      // VREF code, low byte
inline constexpr std::uint8_t kDacVrefHigh = 0x18;
inline constexpr std::uint8_t kDacStrobe = 0x1A;       // loads the channel written here (128..135)
inline constexpr std::uint8_t kDacCwCcwLow = 0x20;     // CW/CCW pin level, low byte
inline constexpr std::uint8_t kDacCwCcwHigh = 0x21;
inline constexpr std::uint8_t kDacPsLow = 0x22;        // PS pin level, low byte
inline constexpr std::uint8_t kDacPsHigh = 0x23;
inline constexpr std::uint8_t kDacEnableLow = 0x24;    // ENABLE pin level, low byte
inline constexpr std::uint8_t kDacEnableHigh = 0x25;
inline constexpr std::uint8_t kDacMode0Low = 0x26;     // MODE0 pin level, low byte
inline constexpr std::uint8_t kDacMode0High = 0x27;
inline constexpr std::uint8_t kDacMode1Low = 0x28;     // MODE1 pin level, low byte
inline constexpr std::uint8_t kDacMode1High = 0x29;
inline constexpr std::uint8_t kDacSpareLow = 0x2A;     // spare channel, low byte
inline constexpr std::uint8_t kDacSpareHigh = 0x2B;

// ---- junction temperature ---------------------------------------------------
inline constexpr std::uint8_t kDiodeCodeLow = 0x64;    // diode code, low byte (read)
inline constexpr std::uint8_t kDiodeCodeHigh = 0x65;   // diode code, high nibble (read, asked first)

// ---- oscilloscope acquisition (class 1 writes) ------------------------------
inline constexpr std::uint8_t kScopeControl = 0x70;    // bits 0..3 channels on, 6..7 trigger channel
inline constexpr std::uint8_t kScopeDividerLow = 0x72; // sampling divider, low byte
inline constexpr std::uint8_t kScopeDividerHigh = 0x73;
inline constexpr std::uint8_t kScopeLengthLow = 0x74;  // record length - 1, low byte (0xFF)
inline constexpr std::uint8_t kScopeLengthHigh = 0x75; // record length - 1, high byte (0x0F)
inline constexpr std::uint8_t kScopeTriggerLow = 0x76; // trigger code, bits 0..7
inline constexpr std::uint8_t kScopeTriggerHigh = 0x77; // trigger code bits 8..14, bit 7 slope "-"
inline constexpr std::uint8_t kScopeChannelConfig = 0x78; // 0x78..0x7B: channel n's input set-up

// ---- step clock -------------------------------------------------------------
inline constexpr std::uint8_t kClockControl = 0x90;    // 0 stop, 1 run, 0x81 run ending High; read back
inline constexpr std::uint8_t kClockPeriod = 0x91;     // 0x91..0x94: period count, LSB first
inline constexpr std::uint8_t kClockHighTime = 0x95;   // 0x95..0x98: high-time count, LSB first
inline constexpr std::uint8_t kClockStepCount = 0x99;  // steps of a counted run, 0 continuous
inline constexpr std::uint8_t kClockLevel = 0x9A;      // advance-mode sweep switch (128 on)
inline constexpr std::uint8_t kSecondRun = 0xA0;      // sweep's second run; pulsed 0, 1, 0 at link start

// ---- dynamic sequencer --------------------------------------------------------
inline constexpr std::uint8_t kSeqControl = 0xC0;      // 0x80 run, 0xC0 paused, 0 stopped
inline constexpr std::uint8_t kSeqCycles = 0xC1;       // repeat count, 0 endless
inline constexpr std::uint8_t kSeqDelay = 0xC2;        // 0xC2, 0xC3: repeat delay in ms, LSB first
inline constexpr std::uint8_t kSeqLastRow = 0xC4;      // 0xC4, 0xC5: index of the last row
inline constexpr std::uint8_t kSeqRow = 0xC6;          // 0xC6, 0xC7: current row (read back)
inline constexpr std::uint8_t kSeqRowHigh = 0xC7;
inline constexpr std::uint8_t kSeqReset = 0xC8;        // written 1 then 0

// Block-write target of the pattern memory.
inline constexpr std::uint8_t kPatternTarget = 5;

} // namespace zelbo::reg
