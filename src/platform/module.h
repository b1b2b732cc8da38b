// Loadable modules: load a library file, find a symbol in it, unload it.
#pragma once

namespace platform {

// Owns one loaded library; unloads it when destroyed. Move-only.
class LoadableModule {
 public:
  LoadableModule() = default;
  ~LoadableModule() { close(); }
  LoadableModule(LoadableModule&& other) noexcept;
  LoadableModule& operator=(LoadableModule&& other) noexcept;
  LoadableModule(const LoadableModule&) = delete;
  LoadableModule& operator=(const LoadableModule&) = delete;

  // Loads the library at path (LoadLibraryA or dlopen), unloading any
  // library held before. Returns false on failure; errorText() then holds
  // the loader's own message.
  bool open(const char* path);

  // The address of the exported name, or nullptr with errorText() set when
  // the library lacks it or none is loaded.
  void* symbol(const char* name);

  // Unloads the library (FreeLibrary or dlclose); nothing when none is held.
  void close();

  bool isOpen() const { return handle_ != nullptr; }

  // The loader's message for the last failed open() or symbol(); "" before.
  const char* errorText() const { return error_; }

 private:
  void setError(const char* text);

  void* handle_ = nullptr;
  char error_[512] = "";
};

}  // namespace platform
