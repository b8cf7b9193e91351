// Who the server is: the class id hosts create the driver with (also the interface id they ask
// for), the module's file name, and the name hosts show.
#pragma once

#include "user_mode.h"

// {D71BCB38-F7DA-416D-9D6F-624AC7C5BA53}
inline constexpr GUID kDriverClsid = {
    0xD71BCB38, 0xF7DA, 0x416D, {0x9D, 0x6F, 0x62, 0x4A, 0xC7, 0xC5, 0xBA, 0x53}};
inline constexpr LPCWSTR kAsioModuleName = WSTR("Tarnlink_asio.dll");
// The driver's name, for the registry and for getDriverName.
inline constexpr LPCWSTR kDriverName = WSTR("Velmor USB Audio Tarn");
inline constexpr char kDriverNameText[] = "Velmor USB Audio Tarn";
inline constexpr LPCWSTR kThreadingModel = WSTR("Apartment");
