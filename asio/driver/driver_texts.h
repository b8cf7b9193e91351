// The error texts a host reads with getErrorMessage.
#pragma once

inline constexpr char kTextInitializedBefore[] = "ASIO driver was initialized before this time.\n";
inline constexpr char kTextNoResources[] = "No sufficient system resource\n";
inline constexpr char kTextOtherHost[] = "Used by another ASIO host\n";
inline constexpr char kTextNoDevice[] = "No device\n";
inline constexpr char kTextNoChannel[] = "No channel\n";
inline constexpr char kTextUnsupportedBits[] = "Unsupported bits per sample.\n";
