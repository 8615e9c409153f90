#include "viewer/control/program.h"

int main(int argc, char **argv)
{
    return quorel_main(argc, argv);
}
