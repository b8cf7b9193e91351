#include "sample_types.h"

ASIOSampleType ChooseSampleType(ASIOIoFormatType format, ULONG deviceBits, bool allFloat) {
  if (format == kASIODSDFormat) {
    return deviceBits == 32 ? static_cast<ASIOSampleType>(ASIOSTDSDInt8MSB1)
                            : kUnsupportedSampleType;
  }
  if (format != kASIOPCMFormat) return kUnsupportedSampleType;
  switch (deviceBits) {
    case 16:
      return ASIOSTInt16LSB;
    case 24:
      return ASIOSTInt24LSB;
    case 32:
      return allFloat ? ASIOSTFloat32LSB : ASIOSTInt32LSB;
    default:
      return kUnsupportedSampleType;
  }
}

bool IsDsdSampleType(ASIOSampleType type) {
  return type == ASIOSTDSDInt8LSB1 || type == ASIOSTDSDInt8MSB1;
}

USHORT FormatTagOf(ASIOSampleType type) {
  switch (type) {
    case ASIOSTFloat32MSB:
    case ASIOSTFloat32LSB:
      return 3;
    case ASIOSTFloat64MSB:
    case ASIOSTFloat64LSB:
      return 0;
    default:
      return 1;
  }
}
