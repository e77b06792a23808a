#pragma once
// The exit codes of every tarnwell-cli command.
namespace tarnwell {

inline constexpr int kExitPass = 0;         // passed, conforms, done
inline constexpr int kExitViolation = 1;    // a verdict against the stream
inline constexpr int kExitUsage = 2;        // refused settings, a file that cannot be opened or written, usage
inline constexpr int kExitInterrupted = 130;  // Ctrl-C

}  // namespace tarnwell
