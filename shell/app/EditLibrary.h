// The line-editing library (libedit), loaded at run time the first time the
// keyboard needs it, so that a script or a one-shot command line never pays
// for loading it and the terminal libraries it pulls in.  The package still
// depends on it; a shell that cannot load it reads plain lines.
#pragma once

#include <editline/readline.h>

// Every function and variable of the library the shell uses, by its own
// name: call a function as lib->add_history(z), reach a variable through its
// address, as *lib->rl_point.
struct EditLibrary {
  decltype(&::add_history) add_history;
  decltype(&::append_history) append_history;
  decltype(&::history_get) history_get;
  decltype(&::read_history) read_history;
  decltype(&::rl_callback_handler_install) rl_callback_handler_install;
  decltype(&::rl_callback_handler_remove) rl_callback_handler_remove;
  decltype(&::rl_callback_read_char) rl_callback_read_char;
  decltype(&::rl_forced_update_display) rl_forced_update_display;
  decltype(&::rl_initialize) rl_initialize;
  decltype(&::rl_insert_text) rl_insert_text;
  decltype(&::rl_replace_line) rl_replace_line;
  decltype(&::rl_resize_terminal) rl_resize_terminal;
  decltype(&::stifle_history) stifle_history;
  decltype(&::using_history) using_history;

  decltype(&::history_base) history_base;
  decltype(&::history_length) history_length;
  decltype(&::rl_attempted_completion_function) rl_attempted_completion_function;
  decltype(&::rl_attempted_completion_over) rl_attempted_completion_over;
  decltype(&::rl_basic_word_break_characters) rl_basic_word_break_characters;
  decltype(&::rl_catch_signals) rl_catch_signals;
  decltype(&::rl_completer_word_break_characters) rl_completer_word_break_characters;
  decltype(&::rl_completion_append_character) rl_completion_append_character;
  decltype(&::rl_end) rl_end;
  decltype(&::rl_getc_function) rl_getc_function;
  decltype(&::rl_instream) rl_instream;
  decltype(&::rl_line_buffer) rl_line_buffer;
  decltype(&::rl_outstream) rl_outstream;
  decltype(&::rl_point) rl_point;
  decltype(&::rl_readline_name) rl_readline_name;
};

// The library, loaded on the first call; null when it cannot be loaded or
// lacks one of the names above.
const EditLibrary* editLibrary();
