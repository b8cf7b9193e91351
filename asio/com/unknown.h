// The reference-counting base of the server's objects: a process-wide count of live objects
// (which decides whether the module may be unloaded) and a non-delegating unknown that an
// aggregating outer object can hold while the object's own IUnknown calls go to that outer.
#pragma once

#include "user_mode.h"

#ifdef _WIN32
// The unknown that always answers for the object itself, whoever owns it. The Windows SDK
// leaves it to the servers that aggregate; elsewhere the platform's COM header has it.
struct INonDelegatingUnknown {
  STDMETHOD(NonDelegatingQueryInterface)(REFIID riid, PVOID* object) PURE;
  STDMETHOD_(ULONG, NonDelegatingAddRef)() PURE;
  STDMETHOD_(ULONG, NonDelegatingRelease)() PURE;

 protected:
  ~INonDelegatingUnknown() = default;
};
#endif

// The server's classes have names the kernel driver's classes have too; on the simulated machine
// both deliverables live in one program, and this namespace keeps their link names apart.
inline namespace asio_server {

class CBaseObject {
 public:
  explicit CBaseObject(const char* name);
  virtual ~CBaseObject();
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;

  // Objects alive in this process.
  static LONG ObjectCount();
  const char* Name() const { return name_; }

 private:
  const char* name_;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // outer is the aggregating object, or null: the object then owns itself.
  CUnknown(const char* name, IUnknown* outer);

  // IUnknown only; anything else is E_NOINTERFACE with *object cleared.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, PVOID* object) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  // Deletes the object at zero.
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // Where the object's IUnknown calls go: the outer object, or the non-delegating unknown.
  IUnknown* Owner() const { return owner_; }
  // The non-delegating unknown as an IUnknown, as an aggregating object holds it.
  IUnknown* NonDelegatingFace() { return &face_; }

 private:
  // IUnknown whose slots are the non-delegating ones.
  class Face : public IUnknown {
   public:
    explicit Face(CUnknown* object) : object_(object) {}
    virtual ~Face() = default;
    STDMETHODIMP QueryInterface(REFIID riid, PVOID* object) override {
      return object_->NonDelegatingQueryInterface(riid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return object_->NonDelegatingAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return object_->NonDelegatingRelease(); }

   private:
    CUnknown* object_;
  };

  Face face_;
  IUnknown* owner_;
  volatile LONG references_ = 0;
};

}  // namespace asio_server
