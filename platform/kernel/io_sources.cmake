# The I/O manager, object manager extensions, registry and PnP parts of the host kernel.
target_sources(platform_kernel PRIVATE
  registry_names.cpp
  registry_store.cpp
  registry_store_file.cpp
  status_to_dos.cpp
  version.cpp
)
