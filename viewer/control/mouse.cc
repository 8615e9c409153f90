#include "viewer/control/mouse.h"

#include "viewer/display/screen.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

constexpr int WHEEL_LINES = 3;
// "button;column;row" and the final letter; a longer report is no report.
constexpr int REPORT_MAX = 24;
// The button number's bits: the wheel, and the modifier keys held.
constexpr int WHEEL = 64;
constexpr int MODIFIERS = 4 | 8 | 16;

} // namespace

void mouse_report()
{
    int button = 0;
    int field = 0;
    for (int i = 0;; i++) {
        int key = key_read();
        if (key < 0 || i >= REPORT_MAX)
            return;
        if (key == 'M')
            break;
        if (key == 'm')
            return;  // a button let go
        if (key == ';')
            field++;
        else if (key < '0' || key > '9')
            return;
        else if (field == 0 && button < 1000)
            button = button * 10 + (key - '0');
    }
    int wheel = button & ~MODIFIERS;
    if (wheel != WHEEL && wheel != WHEEL + 1)
        return;
    term_lower_left();
    out_flush();
    if (wheel == WHEEL)
        scroll_backward(WHEEL_LINES, 0);
    else
        scroll_forward(WHEEL_LINES, 0);
}
