// The dlopen and dlsym that every audio library loaded at run time needs,
// and the hold that unloads such a library when its last user lets it go.
#pragma once

#include <mutex>
#include <optional>
#include <string>

// A loaded library's table is generated from one list of its functions,
// an X-macro whose entries are X(Member, c_symbol): PENDLO_LIBRARY_MEMBER
// declares Member as a pointer of c_symbol's own type, PENDLO_LIBRARY_FIND
// looks it up by name in a fill function (`return true LIST(FIND);`), so a
// function is named once and its type comes from the library's header.
#define PENDLO_LIBRARY_MEMBER(member, symbol) decltype(&::symbol) member;
#define PENDLO_LIBRARY_FIND(member, symbol) &&find(#symbol, table.member)

namespace pendlo::sound::output {

// Finds a library's functions by name. `library` names it in the reason
// given for a missing one ("libpulse lacks pa_stream_new").
class SymbolFinder {
 public:
  SymbolFinder(void* handle, const char* library) : handle_(handle), library_(library) {}

  // Sets `function` to the symbol `name`; false, the reason kept in
  // Error(), when the library lacks it.
  template <typename F>
  bool operator()(const char* name, F& function) {
    function = reinterpret_cast<F>(Symbol(name));
    return function != nullptr;
  }
  const std::string& Error() const { return error_; }

 private:
  void* Symbol(const char* name);

  void* handle_;
  const char* library_;
  std::string error_;
};

// A library opened and its table of functions filled, or why not.
template <typename Table>
struct LoadedLibrary {
  void* handle = nullptr;
  std::optional<Table> table;
  std::string error;
};

// dlopen's handle of `file` (its own symbols, all bound now), nullptr with
// the reason in `error` when it cannot be loaded.
void* OpenSharedLibrary(const char* file, std::string& error);
void CloseSharedLibrary(void* handle);

// Opens `file` and fills a Table with `fill(find, table)`, which returns
// false once a function is missing; the library is closed again then.
template <typename Table, typename Fill>
LoadedLibrary<Table> LoadLibrary(const char* file, const char* library, Fill fill) {
  LoadedLibrary<Table> loaded;
  void* handle = OpenSharedLibrary(file, loaded.error);
  if (handle == nullptr) return loaded;
  SymbolFinder find(handle, library);
  Table table{};
  if (!fill(find, table)) {
    loaded.error = find.Error();
    CloseSharedLibrary(handle);
    return loaded;
  }
  loaded.handle = handle;
  loaded.table = table;
  return loaded;
}

// A library held by count: the first Acquire loads it with `load`, and
// when every hold is released `unload` is called on its table and it is
// closed. Any thread; a hold must be released only once nothing made with
// the library is left.
template <typename Table>
class HeldLibrary {
 public:
  using Load = LoadedLibrary<Table> (*)();
  using Unload = void (*)(const Table&);
  HeldLibrary(Load load, Unload unload) : load_(load), unload_(unload) {}

  // The table, held; nullptr with the reason in *why (no hold) when the
  // library cannot be loaded.
  const Table* Acquire(std::string* why) {
    std::lock_guard lock(mutex_);
    if (count_ == 0) loaded_ = load_();
    if (!loaded_.table) {
      if (why != nullptr) *why = loaded_.error;
      return nullptr;
    }
    ++count_;
    // The table is not moved while held: the pointer stays valid.
    return &*loaded_.table;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    if (count_ == 0 || --count_ > 0) return;
    if (unload_ != nullptr) unload_(*loaded_.table);
    CloseSharedLibrary(loaded_.handle);
    loaded_ = LoadedLibrary<Table>{};
  }

 private:
  const Load load_;
  const Unload unload_;
  std::mutex mutex_;  // guards what follows
  LoadedLibrary<Table> loaded_;
  int count_ = 0;
};

}  // namespace pendlo::sound::output
