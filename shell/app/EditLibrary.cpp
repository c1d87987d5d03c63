// Loading libedit by its shared-object name, which the build takes from the
// library it found (SQLSH_LIBEDIT_SONAME).
#include "shell/app/EditLibrary.h"

#include <dlfcn.h>

#ifndef SQLSH_LIBEDIT_SONAME
#define SQLSH_LIBEDIT_SONAME "libedit.so.2"
#endif

namespace {

template <typename T>
bool resolve(void* pHandle, const char* zName, T* pSymbol) {
  void* p = dlsym(pHandle, zName);
  *pSymbol = reinterpret_cast<T>(p);
  return p != nullptr;
}

bool load(EditLibrary* pLib) {
  // Kept loaded for the rest of the process: libedit's own exit handler
  // puts the terminal back.
  void* pHandle = dlopen(SQLSH_LIBEDIT_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (pHandle == nullptr) return false;
  bool bAll = true;
#define SQLSH_RESOLVE(name) bAll = resolve(pHandle, #name, &pLib->name) && bAll
  SQLSH_RESOLVE(add_history);
  SQLSH_RESOLVE(append_history);
  SQLSH_RESOLVE(history_get);
  SQLSH_RESOLVE(read_history);
  SQLSH_RESOLVE(rl_callback_handler_install);
  SQLSH_RESOLVE(rl_callback_handler_remove);
  SQLSH_RESOLVE(rl_callback_read_char);
  SQLSH_RESOLVE(rl_forced_update_display);
  SQLSH_RESOLVE(rl_initialize);
  SQLSH_RESOLVE(rl_insert_text);
  SQLSH_RESOLVE(rl_replace_line);
  SQLSH_RESOLVE(rl_resize_terminal);
  SQLSH_RESOLVE(stifle_history);
  SQLSH_RESOLVE(using_history);
  SQLSH_RESOLVE(history_base);
  SQLSH_RESOLVE(history_length);
  SQLSH_RESOLVE(rl_attempted_completion_function);
  SQLSH_RESOLVE(rl_attempted_completion_over);
  SQLSH_RESOLVE(rl_basic_word_break_characters);
  SQLSH_RESOLVE(rl_catch_signals);
  SQLSH_RESOLVE(rl_completer_word_break_characters);
  SQLSH_RESOLVE(rl_completion_append_character);
  SQLSH_RESOLVE(rl_end);
  SQLSH_RESOLVE(rl_getc_function);
  SQLSH_RESOLVE(rl_instream);
  SQLSH_RESOLVE(rl_line_buffer);
  SQLSH_RESOLVE(rl_outstream);
  SQLSH_RESOLVE(rl_point);
  SQLSH_RESOLVE(rl_readline_name);
#undef SQLSH_RESOLVE
  return bAll;
}

}  // namespace

const EditLibrary* editLibrary() {
  static EditLibrary lib{};
  static const bool bLoaded = load(&lib);
  return bLoaded ? &lib : nullptr;
}
