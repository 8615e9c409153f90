#include "viewer/input/escape.h"

#include "viewer/options/option.h"

bool escape_passed()
{
    // Plain text takes the sequences out, whatever -r says.
    return opt_r != 1 || opt_plain;
}

escape_kind escape_step(escape_reader &r, unsigned char b)
{
    int n = ++r.length;
    if (n == 2) {
        r.opener = b;
        return b == '[' || b == ']' ? ESCAPE_MORE : ESCAPE_NONE;
    }
    if (r.opener == '[') {
        if (b == 'm')
            return ESCAPE_COLOUR;
        if (b == 'K')
            return n == 3 || (n == 4 && r.first == '0') ? ESCAPE_ERASE : ESCAPE_NONE;
        if (n == 3)
            r.first = b;
        bool parameter = (b >= '0' && b <= '9') || b == ';' || b == ':';
        return parameter && n < ESCAPE_COLOUR_MAX ? ESCAPE_MORE : ESCAPE_NONE;
    }
    // A link: "8", ';', parameters, ';', the URI, then its end.
    if (r.closing)
        return b == '\\' ? ESCAPE_LINK : ESCAPE_NONE;
    if (n == 3)
        return b == '8' ? ESCAPE_MORE : ESCAPE_NONE;
    if (n == 4 && b != ';')
        return ESCAPE_NONE;
    if (b == ';')
        r.fields++;
    else if (b == 0x07 && r.fields >= 2)
        return ESCAPE_LINK;
    else if (b == 0x1B && r.fields >= 2)
        r.closing = true;
    else if (b < 0x20 || b > 0x7E)
        return ESCAPE_NONE;
    return n < ESCAPE_LINK_MAX ? ESCAPE_MORE : ESCAPE_NONE;
}

int escape_length(const char *s, size_t n, escape_kind *kind)
{
    escape_reader r;
    for (size_t k = 1; k < n; k++) {
        escape_kind e = escape_step(r, static_cast<unsigned char>(s[k]));
        if (e == ESCAPE_MORE)
            continue;
        *kind = e;
        return e == ESCAPE_NONE ? 0 : r.length;
    }
    *kind = ESCAPE_NONE;
    return 0;
}
