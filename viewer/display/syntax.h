// Syntax colours: the elements of a language (keywords, comments, strings
// and the like) as GNU source-highlight's library finds them, worked out
// for the rows being painted only.
#pragma once
#include "viewer/display/cell.h"
#include "viewer/display/style.h"

// The setting of --syntax: "" or "auto" colours a named file whose name the
// library maps to a language, "off" nothing, any other text names the
// language of every input. false, with the reason in message (size bytes),
// when there is no such language; the setting is then left as it was.
bool syntax_choose(const char *setting, char *message, int size);
// The setting: "auto", "off" or the language asked for.
const char *syntax_setting();
// The language the current input is coloured as, nullptr for none.
const char *syntax_language();
// The command loop says whether the next key, read already, is a move: a
// paint that such a move replaces at once goes without syntax colours
// (keys typed and not read yet are read first to tell).
void syntax_set_move_hook(bool (*move_queued)());
// Rows went without colours for a move's sake, and no paint of the whole
// screen has come since: a repaint is owed, once no key is typed ahead.
bool syntax_owed();
// A paint begins; whole: it covers every text row; unseen: nobody sees it
// (its rows are only found), so it owes the colours without asking.
void syntax_paint_begin(bool whole, bool unseen = false);
// The syntax pass over a row: each cell takes the element of the input
// character it shows. Rows of input that has colour sequences of its own
// are left as they are.
void syntax_style(const display_row &row, cell_style *styles);
