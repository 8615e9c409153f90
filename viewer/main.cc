#include <clocale>

#include "viewer/control/start.h"
#include "viewer/terminal/text.h"

int main(int argc, char **argv)
{
    // The user's locale decides whether text is laid out by UTF-8 characters.
    setlocale(LC_ALL, "");
    text_setup();
    return quorel_main(argc, argv);
}
