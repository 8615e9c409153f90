// Decoding typed keys into action codes.
#pragma once

// Read $HOME/.mivo into the user key table, and take the keypad strings
// of the terminal description (after term_setup).
void keys_load_user();
void key_decode_reset();
// Add a key to those typed so far and look the sequence up: an action code,
// ACTION_NEED_MORE or ACTION_NOT_FOUND.
int key_decode(int key);
