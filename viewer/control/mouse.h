// Mouse reports, asked for with -Y: the wheel scrolls, buttons are ignored.
#pragma once

// Read the rest of a report whose "ESC [ <" was decoded, and act on it.
void mouse_report();
