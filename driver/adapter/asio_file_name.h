// Recognition of the private channel: a file object named \asio in any letter case.
#pragma once

#include "kernel_mode.h"

// Decided on every request from the file object it refers to, so a handle stays private or
// not for its whole life whatever request it carries.
BOOLEAN IsAsioFileObject(PFILE_OBJECT FileObject);
