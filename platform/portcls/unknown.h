// The reference-counting interface every Port Class object has, in the shape of the framework's
// COM-style headers: an interface is an abstract class whose virtual functions are its slots,
// in the published order. Interfaces have no destructor slot: an object goes away through its
// last Release, so their destructors are protected and implementations are final classes.
#pragma once

#include "kernel/ntdef.h"
#include "kernel/ntstatus.h"

#include "win32/unknwn.h"

typedef IUnknown* PUNKNOWN;

typedef INonDelegatingUnknown* PNONDELEGATINGUNKNOWN;
