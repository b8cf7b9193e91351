# The I/O manager, object namespace, registry and PnP parts of the host kernel.
target_sources(platform_kernel PRIVATE
  device_object.cpp
  driver_object.cpp
  file_object.cpp
  io_file_api.cpp
  io_state.cpp
  irp.cpp
  irp_build.cpp
  irp_cancel.cpp
  irp_owned.cpp
  namespace.cpp
  pnp.cpp
  registry_names.cpp
  registry_store.cpp
  registry_store_file.cpp
  registry_zw.cpp
  status_to_dos.cpp
  version.cpp
)
