// The prompt line and the status text, expanded from templates.
#pragma once

constexpr int PROMPT_BUFFER_SIZE = 256;
// Which template a -P option replaces.
constexpr int PROMPT_SHORT = 0, PROMPT_MEDIUM = 1, PROMPT_LONG = 2, PROMPT_STATUS = 3;

void prompt_setup();
// Which template a -P text replaces: its first character '=', 'm' or 'M'
// names one (and *text moves past it), else the one -m selects.
int prompt_select(char **text);
// Replace a template with a copy of text.
void prompt_replace(int which, const char *text);
// The raw text of a template.
const char *prompt_template(int which);
// Expand a template; width > 0 keeps only its last width characters.
// nullptr when nothing was expanded.
const char *prompt_format(const char *tmpl, int width);
const char *prompt_text();
const char *status_text();
