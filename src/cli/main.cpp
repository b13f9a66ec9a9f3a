#include "Cli.h"

int main(int argc, char** argv)
{
    return cardmill::RunCli(argc, argv);
}
