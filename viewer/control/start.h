// Start-up: the options, the choice of mode, the first input.
#pragma once

// Set when a -t tag or a + command was given at start.
extern int tag_requested;
extern int start_command_given;

// The viewer's main.
int quorel_main(int argc, char **argv);
// Every option setting and the start commands back at their defaults.
void option_defaults();
// Apply an option that carries text (the handler option_parse_string is
// given at start): start commands, prompts, the tag, the log file.
void apply_text_option(const char *option, char *text);
