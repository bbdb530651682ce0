#pragma once

#include <cstddef>
#include <cstdint>

namespace pom::serial {

// Noise levels of the component's reports.
inline constexpr std::uint8_t kNoiseError = 0;
inline constexpr std::uint8_t kNoiseWarning = 1;
inline constexpr std::uint8_t kNoiseMessage = 2;

// Comm event bits, line-error bits and modem status bits keep the values the
// station software has always used, so handlers and logs read the same.
inline constexpr std::uint32_t kEvRxChar = 0x001;
inline constexpr std::uint32_t kEvRxFlag = 0x002;
inline constexpr std::uint32_t kEvTxEmpty = 0x004;
inline constexpr std::uint32_t kEvCts = 0x008;
inline constexpr std::uint32_t kEvDsr = 0x010;
inline constexpr std::uint32_t kEvRlsd = 0x020;
inline constexpr std::uint32_t kEvBreak = 0x040;
inline constexpr std::uint32_t kEvErr = 0x080;
inline constexpr std::uint32_t kEvRing = 0x100;

inline constexpr std::uint32_t kCeRxOver = 0x01;
inline constexpr std::uint32_t kCeOverrun = 0x02;
inline constexpr std::uint32_t kCeRxParity = 0x04;
inline constexpr std::uint32_t kCeFrame = 0x08;
inline constexpr std::uint32_t kCeBreak = 0x10;

inline constexpr std::uint32_t kMsCtsOn = 0x10;
inline constexpr std::uint32_t kMsDsrOn = 0x20;
inline constexpr std::uint32_t kMsRingOn = 0x40;
inline constexpr std::uint32_t kMsRlsdOn = 0x80;

// Flow-control bits of FlowControl (device-control flag word).
inline constexpr std::uint32_t kFlowCtsOut = 0x4;
inline constexpr std::uint32_t kFlowDsrOut = 0x8;
inline constexpr std::uint32_t kFlowDtrControl = 0x30;
inline constexpr std::uint32_t kFlowDsrSensitivity = 0x40;
inline constexpr std::uint32_t kFlowTxContinueOnXoff = 0x80;
inline constexpr std::uint32_t kFlowXonXoffOut = 0x100;
inline constexpr std::uint32_t kFlowXonXoffIn = 0x200;
inline constexpr std::uint32_t kFlowRtsControl = 0x3000;
inline constexpr std::uint32_t kFlowRtsHandshake = 0x2000;
inline constexpr std::uint32_t kFlowAbortOnError = 0x4000;

// CommStateFlags bits.
inline constexpr std::uint8_t kCtsHold = 0x01;

}  // namespace pom::serial
