// The I/O manager's object types. File objects send clean-up when their last handle closes and
// close when their last reference goes; device and driver objects only give back their memory.
#include "kernel/file_object_host.h"

namespace {

OBJECT_TYPE g_file_type = {
    "File",
    tarnlink::io::DeleteFileObject,
    tarnlink::io::CloseFileObjectHandle,
    {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS},
    FILE_ALL_ACCESS};
OBJECT_TYPE g_device_type = {
    "Device",
    nullptr,
    nullptr,
    {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS},
    FILE_ALL_ACCESS};
OBJECT_TYPE g_driver_type = {"Driver",
                             nullptr,
                             nullptr,
                             {STANDARD_RIGHTS_READ, STANDARD_RIGHTS_WRITE, STANDARD_RIGHTS_EXECUTE,
                              STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1},
                             STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1};
POBJECT_TYPE g_file_type_pointer = &g_file_type;
POBJECT_TYPE g_device_type_pointer = &g_device_type;
POBJECT_TYPE g_driver_type_pointer = &g_driver_type;

}  // namespace

POBJECT_TYPE* IoFileObjectType = &g_file_type_pointer;
POBJECT_TYPE* IoDeviceObjectType = &g_device_type_pointer;
POBJECT_TYPE* IoDriverObjectType = &g_driver_type_pointer;
