// IStream (objidl.h), as far as a memory stream handed to GDI+ needs it, with its slots in the
// published order.
#pragma once

#include "win32/unknwn.h"
#include "win32/windef.h"

typedef struct tagSTATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
} STATSTG;

#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2

struct ISequentialStream : public IUnknown {
  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) PURE;
  STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) PURE;

 protected:
  ~ISequentialStream() = default;
};

struct IStream : public ISequentialStream {
  STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) PURE;
  STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) PURE;
  STDMETHOD(CopyTo)(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                    ULARGE_INTEGER* pcbWritten) PURE;
  STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
  STDMETHOD(Revert)() PURE;
  STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
  STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) PURE;
  STDMETHOD(Clone)(IStream** ppstm) PURE;

 protected:
  ~IStream() = default;
};

// shlwapi: a stream over a copy of the bytes; null when it cannot be made.
IStream* WINAPI SHCreateMemStream(const BYTE* pInit, UINT cbInit);
