// Compiles the ASIO umbrella on its own, so that its layout checks run in every build.
#include "asio_interface.h"
