// The error texts a host reads with getErrorMessage.
#pragma once

inline constexpr char kTextNoResources[] = "No sufficient system resource\n";
inline constexpr char kTextOtherHost[] = "Used by another ASIO host\n";
